"""The pictures and the video that the integration test serves to real browsers.

Every file is made here from fixed seeds, so each run serves the same bytes. The pictures are
small but valid (the test page checks that both browsers decode them); most are padded past
25 KiB in ways their decoders ignore, so the harvester's default minimum size admits them.
"""
from __future__ import annotations

import gzip
import hashlib
import struct
import urllib.parse
import zlib
from dataclasses import dataclass, field

KIB = 1024


# ---------------------------------------------------------------------------------------------
# Deterministic bytes


def noise(seed: str, length: int) -> bytes:
    """length pseudo-random bytes that depend only on seed."""
    out = bytearray()
    counter = 0
    while len(out) < length:
        out += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:length])


# ---------------------------------------------------------------------------------------------
# Picture makers


def make_bmp(width: int, height: int, seed: str, stripes: bool = False) -> bytes:
    """An uncompressed 24-bit BMP. Noise pixels, or horizontal colour stripes (compress well)."""
    row = width * 3
    pad = (4 - row % 4) % 4
    if stripes:
        rows = []
        for y in range(height):
            colour = bytes(((y * 37) % 256, (y * 11) % 256, (255 - y) % 256))
            rows.append(colour * width + b"\0" * pad)
        pixels = b"".join(rows)
    else:
        data = noise(seed, row * height)
        pixels = b"".join(data[y * row:(y + 1) * row] + b"\0" * pad for y in range(height))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return header + info + pixels


def _png_chunk(kind: bytes, data: bytes) -> bytes:
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_png(width: int, height: int, seed: str) -> bytes:
    """An 8-bit RGB PNG of noise pixels: it barely compresses, so its size follows its area."""
    data = noise(seed, width * height * 3)
    raw = b"".join(b"\0" + data[y * width * 3:(y + 1) * width * 3] for y in range(height))
    return (b"\x89PNG\r\n\x1a\n"
            + _png_chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + _png_chunk(b"IDAT", zlib.compress(raw, 9))
            + _png_chunk(b"IEND", b""))


class _BitWriter:
    """Packs bits into bytes; JPEG wants them most significant first, GIF and WebP least."""

    def __init__(self, msb_first: bool):
        self.msb_first = msb_first
        self.out = bytearray()
        self.acc = 0
        self.count = 0

    def write(self, value: int, bits: int) -> None:
        for i in range(bits):
            bit = (value >> (bits - 1 - i)) & 1 if self.msb_first else (value >> i) & 1
            if self.msb_first:
                self.acc = (self.acc << 1) | bit
            else:
                self.acc |= bit << self.count
            self.count += 1
            if self.count == 8:
                self._emit(self.acc)
                self.acc = 0
                self.count = 0

    def _emit(self, byte: int) -> None:
        self.out.append(byte)

    def flush(self, fill_ones: bool = False) -> bytes:
        while self.count:
            self.write(1 if fill_ones else 0, 1)
        return bytes(self.out)


class _JpegEntropyWriter(_BitWriter):
    def __init__(self):
        super().__init__(msb_first=True)

    def _emit(self, byte: int) -> None:
        self.out.append(byte)
        if byte == 0xFF:  # byte stuffing inside the entropy-coded segment
            self.out.append(0)


def _jpeg_segment(marker: int, payload: bytes) -> bytes:
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def make_jpeg(width: int, height: int, seed: str, pad_to: int = 0) -> bytes:
    """A baseline greyscale JPEG whose 8x8 blocks are flat shades (DC coefficients only).

    Comment segments filled with noise pad the file to at least pad_to bytes; decoders skip them.
    """
    assert width % 8 == 0 and height % 8 == 0
    shades = noise(seed + "/shades", (width // 8) * (height // 8))
    dqt = _jpeg_segment(0xDB, b"\x00" + b"\x01" * 64)
    sof = _jpeg_segment(0xC0, struct.pack(">BHHBBBB", 8, height, width, 1, 1, 0x11, 0))
    # DC table: categories 0..11, all with 4-bit codes 0000..1011. AC table: only end-of-block, "0".
    dht_dc = _jpeg_segment(0xC4, b"\x00" + bytes([0, 0, 0, 12] + [0] * 12) + bytes(range(12)))
    dht_ac = _jpeg_segment(0xC4, b"\x10" + bytes([1] + [0] * 15) + b"\x00")
    sos = _jpeg_segment(0xDA, bytes([1, 1, 0x00, 0, 63, 0]))
    entropy = _JpegEntropyWriter()
    previous = 0
    for shade in shades:
        dc = (shade - 128) * 8  # DC coefficient of a flat block with quantiser 1
        diff = dc - previous
        previous = dc
        category = abs(diff).bit_length()
        entropy.write(category, 4)
        if category:
            entropy.write(diff if diff > 0 else diff + (1 << category) - 1, category)
        entropy.write(0, 1)  # end of block
    scan = entropy.flush(fill_ones=True)
    jfif = _jpeg_segment(0xE0, b"JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    head = b"\xff\xd8" + jfif + dqt + sof + dht_dc + dht_ac
    tail = sos + scan + b"\xff\xd9"
    comments = b""
    index = 0
    while len(head) + len(comments) + len(tail) < pad_to:
        room = pad_to - len(head) - len(comments) - len(tail) - 4
        comments += _jpeg_segment(0xFE, noise(f"{seed}/com{index}", max(1, min(room, 65533))))
        index += 1
    return head + comments + tail


def make_gif(width: int, height: int, seed: str) -> bytes:
    """A GIF89a with a 256-colour table, LZW-coded without compression (a clear code every 250
    pixels keeps the codes 9 bits wide), so its size follows its area."""
    palette = noise(seed + "/palette", 256 * 3)
    pixels = noise(seed + "/pixels", width * height)
    bits = _BitWriter(msb_first=False)
    clear, end = 256, 257
    for start in range(0, len(pixels), 250):
        bits.write(clear, 9)
        for p in pixels[start:start + 250]:
            bits.write(p, 9)
    bits.write(end, 9)
    lzw = bits.flush()
    blocks = b"".join(bytes([len(lzw[i:i + 255])]) + lzw[i:i + 255] for i in range(0, len(lzw), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) + palette
            + b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
            + b"\x08" + blocks + b"\x00" + b"\x3b")


def _riff_chunk(kind: bytes, data: bytes) -> bytes:
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def make_webp(width: int, height: int, seed: str, pad_to: int = 0) -> bytes:
    """An extended-format WebP: a lossless (VP8L) single-colour image, then an unknown chunk of
    noise that decoders skip, so the file reaches pad_to bytes."""
    colour = noise(seed + "/colour", 3)
    bits = _BitWriter(msb_first=False)
    bits.write(width - 1, 14)
    bits.write(height - 1, 14)
    bits.write(0, 1)  # alpha not used
    bits.write(0, 3)  # version 0
    bits.write(0, 1)  # no transform
    bits.write(0, 1)  # no colour cache
    bits.write(0, 1)  # no meta prefix codes
    # Five prefix codes (green, red, blue, alpha, distance), each a simple code of one 8-bit
    # symbol: every pixel then decodes from zero bits.
    for symbol in (colour[1], colour[0], colour[2], 255, 0):
        bits.write(1, 1)  # simple code
        bits.write(0, 1)  # one symbol
        bits.write(1, 1)  # 8-bit symbol
        bits.write(symbol, 8)
    vp8l = b"\x2f" + bits.flush()
    vp8x = struct.pack("<B3x", 0) + (width - 1).to_bytes(3, "little") + (height - 1).to_bytes(3, "little")
    chunks = _riff_chunk(b"VP8X", vp8x) + _riff_chunk(b"VP8L", vp8l)
    room = pad_to - 12 - len(chunks) - 8
    if room > 0:
        chunks += _riff_chunk(b"TVPD", noise(seed + "/pad", room))
    return b"RIFF" + struct.pack("<I", 4 + len(chunks)) + b"WEBP" + chunks


def make_flv(seed: str, tags: int) -> bytes:
    """An FLV file: header and a run of video tags with noise payloads."""
    out = bytearray(b"FLV\x01\x01" + struct.pack(">I", 9) + struct.pack(">I", 0))
    for i in range(tags):
        payload = b"\x22" + noise(f"{seed}/tag{i}", 1200 + (i * 97) % 400)
        header = b"\x09" + len(payload).to_bytes(3, "big") + (i * 40).to_bytes(3, "big") + b"\0" + b"\0\0\0"
        out += header + payload + struct.pack(">I", len(header) + len(payload))
    return bytes(out)


def not_found_page(size: int) -> bytes:
    """An error page of at least size bytes."""
    text = "<!doctype html><title>404</title><p>This picture is gone.</p>\n<!-- "
    return (text + noise("404", size).hex()[:size - len(text) - 4] + " -->").encode()


# ---------------------------------------------------------------------------------------------
# The corpus


@dataclass
class Item:
    """One resource served to the browsers."""
    id: str
    path: str            # URL path and query as it appears in the page (percent-encoded)
    content_type: str
    body: bytes          # the resource itself, as a harvested copy must hold it
    encoding: str | None = None   # Content-Encoding on the wire
    loaded_by: str = "img"        # "img" (an <img> element) or "fetch" (fetch() from a script)
    status: int = 200
    note: str = ""
    wire: bytes = field(init=False)

    def __post_init__(self):
        if self.encoding == "gzip":
            self.wire = gzip.compress(self.body, compresslevel=9, mtime=0)
        elif self.encoding == "deflate":
            self.wire = zlib.compress(self.body, 9)  # HTTP "deflate" is the zlib format
        else:
            self.wire = self.body


CJK_NAME = "猫の写真.png"


def exact(data: bytes, size: int) -> bytes:
    assert len(data) == size, (len(data), size)
    return data


def build_corpus() -> list[Item]:
    """The served resources. Paths are unique and so are the names they are harvested under."""
    cjk_path = "/" + urllib.parse.quote(CJK_NAME)
    return [
        Item("jpg", "/pics/photo.jpg", "image/jpeg", make_jpeg(64, 48, "jpg", 40 * KIB)),
        Item("jpeg", "/pics/scan.jpeg", "image/jpeg", make_jpeg(32, 32, "jpeg", 30 * KIB)),
        Item("bracket_upper", "/pics/Holiday[1].JPG", "image/jpeg", make_jpeg(48, 48, "upper", 27 * KIB),
             note='upper case and "[1]" in the name'),
        Item("png", "/pics/lossless.png", "image/png", make_png(96, 96, "png")),
        Item("gif", "/pics/colours.gif", "image/gif", make_gif(180, 160, "gif")),
        Item("webp", "/pics/leaf.webp", "image/webp", make_webp(40, 30, "webp", 33 * KIB)),
        Item("bmp", "/pics/plain.bmp", "image/bmp", make_bmp(100, 90, "bmp")),
        Item("big", "/big/panorama.bmp", "image/bmp", make_bmp(640, 560, "big"), note="over 1 MiB"),
        Item("no_extension", "/img/12345", "image/jpeg", make_jpeg(40, 40, "noext", 26 * KIB),
             note="no extension in the URL; served as image/jpeg"),
        Item("query", "/q/thumb.jpg?size=large&v=2", "image/jpeg", make_jpeg(24, 24, "query", 28 * KIB),
             note="query string"),
        Item("cjk", cjk_path, "image/png", make_png(100, 100, "cjk"), note="CJK file name"),
        Item("gzip", "/gz/striped.bmp", "image/bmp", make_bmp(320, 240, "gz", stripes=True),
             encoding="gzip", note="gzip on the wire: far under 25 KiB stored, over 25 KiB decoded"),
        Item("deflate", "/dz/tiles.gif", "image/gif", make_gif(200, 150, "dz"), encoding="deflate",
             note="deflate (zlib) on the wire"),
        Item("at_sign", "/photos/at@2x.jpg", "image/jpeg", make_jpeg(56, 56, "at", 29 * KIB),
             note='"@" in the URL'),
        Item("video", "/watch/get_video?video_id=abc123&origin=youtube&t=xyz", "video/x-flv",
             make_flv("video", 30), loaded_by="fetch", note="video of kind 2, named after its last parameter"),
        Item("small", "/pics/tiny.png", "image/png", make_png(16, 16, "tiny"),
             note="under the minimum size: never harvested"),
        # Sizes around the places a blockfile cache keeps bodies: 256-byte, 1 KiB and 4 KiB blocks
        # up to 16,384 bytes, a file of its own above. All under the default minimum size.
        Item("under_1k", "/sizes/under1k.jpg", "image/jpeg", exact(make_jpeg(8, 8, "u1k", 900), 900),
             note="900 bytes"),
        Item("under_4k", "/sizes/under4k.jpg", "image/jpeg", exact(make_jpeg(16, 16, "u4k", 3000), 3000),
             note="3,000 bytes"),
        Item("edge_16384", "/sizes/edge16384.jpg", "image/jpeg", exact(make_jpeg(32, 32, "e16384", 16384), 16384),
             note="16,384 bytes: the largest body kept in blocks"),
        Item("edge_16385", "/sizes/edge16385.jpg", "image/jpeg", exact(make_jpeg(32, 32, "e16385", 16385), 16385),
             note="16,385 bytes: the smallest body in a file of its own"),
        Item("long_url", "/long/" + "segment-" * 128 + "/far.jpg", "image/jpeg", make_jpeg(40, 40, "long", 27 * KIB),
             note="a URL over 1,000 bytes: a key kept apart from its entry"),
        Item("not_found", "/pics/gone.jpg", "text/html", not_found_page(30 * KIB), status=404,
             note="a cacheable 404 answer with a picture's name: never harvested"),
    ]


# ---------------------------------------------------------------------------------------------
# Names a harvest gives its copies

EXTENSION_OF_TYPE = {
    "image/jpeg": "jpg", "image/png": "png", "image/gif": "gif", "image/webp": "webp",
    "image/avif": "avif", "image/bmp": "bmp", "image/svg+xml": "svg", "video/x-flv": "flv",
    "video/mp4": "mp4",
}


def normalise_extension_list(text: str) -> str:
    """Lower case, no spaces, ".." made ".", ";" in front and behind."""
    text = text.lower().replace(" ", "")
    while ".." in text:
        text = text.replace("..", ".")
    return ";" + text + ";"


def video_kind(address: str) -> int:
    if "videodownload?" in address:
        return 1
    if "get_video" in address and "youtube" in address:
        return 2
    if "getvideo" in address and "streetvoice" in address:
        return 3
    return 0


def normalise_address(address: str) -> str:
    if "@" in address:
        address = address[address.index("@") + 1:]
    if address[:8].lower() == "file:///":
        address = address[8:]
    return address


def _ascii_lower(text: str) -> str:
    return "".join(c.lower() if "A" <= c <= "Z" else c for c in text)


def cache_file_name(path: str, content_type: str) -> str:
    """The name a browser cache entry is listed under: the last path segment, query dropped,
    percent-decoded, separators and control characters replaced by "_", and an extension from
    the Content-Type when the segment has none."""
    segment = path.split("?", 1)[0].rsplit("/", 1)[-1]
    name = urllib.parse.unquote(segment, errors="strict")
    name = "".join("_" if c in "/\\" or ord(c) < 0x20 or ord(c) == 0x7F else c for c in name)
    if name in ("", ".", ".."):
        name = "_"
    if "." not in name:
        extension = EXTENSION_OF_TYPE.get(content_type.split(";")[0].strip().lower())
        if extension:
            name += "." + extension
    return name


def harvested_name(url: str, path: str, content_type: str, size: int, ext_list: str, min_kb: int,
                   status: int = 200) -> str | None:
    """The name a harvest with these settings copies the resource to, or None when it skips it."""
    if status != 200:  # error answers are cached too, but hold no picture
        return None
    normalised_list = normalise_extension_list(ext_list)
    local_name = _ascii_lower(cache_file_name(path, content_type))
    extension = local_name.rsplit(".", 1)[1] if "." in local_name else ""
    kind = video_kind(url) if ";*.flv;" in normalised_list else 0
    if not (f";*.{extension};" in normalised_list or ";*.*;" in normalised_list or kind):
        return None
    if size // 1024 + 1 <= min_kb:
        return None
    address = normalise_address(url)
    if kind in (2, 3) and "=" in address:
        return address[address.rindex("=") + 1:] + ".flv"
    return local_name.replace("[1]", "")


# ---------------------------------------------------------------------------------------------
# The pictures of the live run: a page adds them one by one while a harvest watches the cache

LIVE_PICTURES = 48
# Pictures the browser stores in a first session, before the harvest starts watching.
WARM_PICTURES = 4


def live_size(number: int) -> int:
    """30 KiB to 600 KB, spread so that about one size in seven passes 512 KiB (a body the
    browser writes in more than one piece)."""
    return 30 * KIB + (number * 29) % 48 * ((600_000 - 30 * KIB) // 47)


def build_live_pictures(count: int = LIVE_PICTURES, name: str = "live") -> list[Item]:
    """JPEGs, with a BMP every fourth picture, each at least 30 KiB and at most 600 KB; ids
    name00, name01 ..., paths /name/..."""
    items = []
    for number in range(count):
        size = live_size(number)
        if number % 4 == 3:
            width = max(8, int((size - 54) / 3 / 100) // 4 * 4)
            body = make_bmp(width, 100, f"{name}{number}")
            path = f"/{name}/{number:02d}-{name}.bmp"
            content_type = "image/bmp"
        else:
            body = make_jpeg(32, 32, f"{name}{number}", size)
            path = f"/{name}/{number:02d}-{name}.jpg"
            content_type = "image/jpeg"
        items.append(Item(f"{name}{number:02d}", path, content_type, body, note=f"{len(body)} bytes"))
    return items
