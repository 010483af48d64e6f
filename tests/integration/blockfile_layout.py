"""A small reader of Chromium blockfile caches for the integration test: which entries the index
reaches, where their records and streams lie, and the hash the records carry. It lets the test
check what the browser stored and damage chosen records on purpose; the product's own reader is
the one under test and is not used here."""
from __future__ import annotations

import struct
from dataclasses import dataclass
from pathlib import Path

INDEX_MAGIC = 0xC103CAC3
BLOCK_HEADER = 8192
BLOCK_SIZES = {1: 36, 2: 256, 3: 1024, 4: 4096}


def superfasthash(data: bytes) -> int:
    """SuperFastHash as the browser computes it (tail bytes taken as signed chars)."""
    if not data:
        return 0
    mask = 0xFFFFFFFF
    h = len(data) & mask
    rem = len(data) & 3
    i = 0
    for _ in range(len(data) >> 2):
        h = (h + (data[i] | data[i + 1] << 8)) & mask
        tmp = (((data[i + 2] | data[i + 3] << 8) << 11) ^ h) & mask
        h = ((h << 16) ^ tmp) & mask
        i += 4
        h = (h + (h >> 11)) & mask
    signed = lambda b: b - 256 if b > 127 else b  # noqa: E731
    if rem == 3:
        h = (h + (data[i] | data[i + 1] << 8)) & mask
        h ^= (h << 16) & mask
        h ^= (signed(data[i + 2]) << 18) & mask
        h = (h + (h >> 11)) & mask
    elif rem == 2:
        h = (h + (data[i] | data[i + 1] << 8)) & mask
        h ^= (h << 11) & mask
        h = (h + (h >> 17)) & mask
    elif rem == 1:
        h = (h + signed(data[i])) & mask
        h ^= (h << 10) & mask
        h = (h + (h >> 1)) & mask
    h ^= (h << 3) & mask
    h = (h + (h >> 5)) & mask
    h ^= (h << 4) & mask
    h = (h + (h >> 17)) & mask
    h ^= (h << 25) & mask
    h = (h + (h >> 6)) & mask
    return h


def locate(address: int) -> tuple[str, int, int]:
    """(file name, offset, length) of a block run; (f_ file, 0, 0) for a separate file."""
    kind = (address >> 28) & 7
    if kind == 0:
        return "f_%06x" % (address & 0x0FFFFFFF), 0, 0
    size = BLOCK_SIZES[kind]
    return "data_%d" % ((address >> 16) & 0xFF), BLOCK_HEADER + (address & 0xFFFF) * size, (((address >> 24) & 3) + 1) * size


@dataclass
class Entry:
    address: int
    bucket: int
    chain: list[int]      # addresses of the entries after this one in its chain
    key: bytes
    record: tuple[str, int]    # file and offset of the EntryStore
    rankings: tuple[str, int]  # file and offset of the RankingsNode
    dirty: int
    state: int
    flags: int
    sizes: tuple[int, ...]
    addresses: tuple[int, ...]


class Cache:
    def __init__(self, folder: Path):
        self.folder = Path(folder)
        self.files: dict[str, bytes] = {}

    def data(self, name: str) -> bytes:
        if name not in self.files:
            self.files[name] = (self.folder / name).read_bytes()
        return self.files[name]

    def entries(self) -> list[Entry]:
        index = self.data("index")
        magic, = struct.unpack_from("<I", index, 0)
        if magic != INDEX_MAGIC:
            raise ValueError(f"{self.folder}: no blockfile index")
        table_len = struct.unpack_from("<i", index, 28)[0] or 65536
        slots = struct.unpack_from("<%dI" % table_len, index, 368)
        found = []
        for bucket, address in enumerate(slots):
            chain = []
            while address & 0x80000000 and address not in chain:
                chain.append(address)
                name, offset, length = locate(address)
                record = self.data(name)[offset:offset + length]
                (hash_, next_, rankings, _reuse, _refetch, state, _created, key_len,
                 long_key) = struct.unpack_from("<IIIiiiQiI", record, 0)
                sizes = struct.unpack_from("<4i", record, 40)
                addresses = struct.unpack_from("<4I", record, 56)
                flags, = struct.unpack_from("<I", record, 72)
                if long_key:
                    key_file, key_offset, _ = locate(long_key)
                    key = self.data(key_file)[key_offset:key_offset + key_len]
                else:
                    key = record[96:96 + key_len]
                node_file, node_offset, _ = locate(rankings)
                dirty, = struct.unpack_from("<i", self.data(node_file), node_offset + 28)
                found.append(Entry(address, bucket, [], key, (name, offset), (node_file, node_offset), dirty, state,
                                   flags, sizes, addresses))
                address = next_
            for i, entry in enumerate(found[len(found) - len(chain):]):
                entry.chain = chain[i + 1:]
        return found

    def stream(self, entry: Entry, index: int) -> bytes | None:
        size, address = entry.sizes[index], entry.addresses[index]
        if size <= 0 or not address & 0x80000000:
            return None
        name, offset, _ = locate(address)
        path = self.folder / name
        if not path.exists():
            return None
        return self.data(name)[offset:offset + size]


def url_of(key: bytes) -> str:
    """The URL an entry key names (the text after the last space of a "_dk_" key)."""
    text = key.decode("utf-8", errors="replace")
    return text.rsplit(" ", 1)[-1] if " " in text else text.split("/", 2)[-1]


def patch(folder: Path, name: str, offset: int, data: bytes) -> None:
    path = Path(folder) / name
    raw = bytearray(path.read_bytes())
    raw[offset:offset + len(data)] = data
    path.write_bytes(bytes(raw))


def rehash(folder: Path, name: str, offset: int, hashed: int) -> None:
    """Sets the self hash that follows the first `hashed` bytes of a record (92 entry, 32 rankings)."""
    raw = (Path(folder) / name).read_bytes()
    patch(folder, name, offset + hashed, struct.pack("<I", superfasthash(raw[offset:offset + hashed])))


def mark_free(folder: Path, address: int) -> None:
    """Clears the allocation bits of a block run."""
    name, _, _ = locate(address)
    raw = bytearray((Path(folder) / name).read_bytes())
    start, count = address & 0xFFFF, ((address >> 24) & 3) + 1
    for block in range(start, start + count):
        raw[80 + block // 8] &= ~(1 << (block % 8)) & 0xFF
    (Path(folder) / name).write_bytes(bytes(raw))
