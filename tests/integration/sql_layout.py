"""A small reader of Chromium's SQL cache folders for the integration test: which entries the
shards hold and whether each is complete, checked as strictly as a harvest must (key hash, head
and blob checksums, head present and not truncated, blobs contiguous up to the body's end).

It never opens a shard where the browser keeps it: an SQLite connection on a live shard, read-only
included, takes locks that make the browser drop new entries or discard its cache. Each shard is
copied (the main file, then its write-ahead log when that is not empty) into a private folder and
the copy is opened there. Call it only once the browser has exited. The product's own reader is
the one under test and is not used here."""
from __future__ import annotations

import re
import shutil
import sqlite3
import struct
import tempfile
import zlib
from dataclasses import dataclass, field
from pathlib import Path

from blockfile_layout import superfasthash, url_of

INDEX_PREFIX = b"SQLCache"
SQLITE_MAGIC = b"SQLite format 3\0"
TRUNCATED_FLAG = 1 << 12
HAS_EXTRA_FLAGS = 1 << 31
EXTRA_ORIGINAL_RESPONSE_TIME = 1 << 2


def signed32(value: int) -> int:
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def key_hash(key: bytes) -> int:
    """The key hash as the shards store it: SuperFastHash as a signed 32-bit integer."""
    return signed32(superfasthash(key))


def checksum(data: bytes, hash_: int) -> int:
    """CRC-32 of the bytes followed by the big-endian key hash, signed as stored."""
    return signed32(zlib.crc32(struct.pack(">I", hash_ & 0xFFFFFFFF), zlib.crc32(data)))


def is_sql_cache(folder: Path) -> bool:
    index, shard = Path(folder) / "index", Path(folder) / "sqldb0"
    try:
        with open(index, "rb") as f:
            if f.read(8) != INDEX_PREFIX:
                return False
        with open(shard, "rb") as f:
            return f.read(16) == SQLITE_MAGIC
    except OSError:
        return False


def shard_files(folder: Path) -> list[Path]:
    """sqldb0 ... sqldbN-1, stopping at the first gap."""
    shards = []
    while (Path(folder) / f"sqldb{len(shards)}").is_file():
        shards.append(Path(folder) / f"sqldb{len(shards)}")
    return shards


def copy_shard(shard: Path, into: Path) -> Path:
    """A private copy of a shard: the main file first, then its log (a log copied later can only
    bring the copy forward). The copy is what SQLite opens; the shard itself is only read."""
    into.mkdir(parents=True, exist_ok=True)
    copy = into / shard.name
    shutil.copyfile(shard, copy)
    wal = shard.with_name(shard.name + "-wal")
    if wal.is_file() and wal.stat().st_size > 0:
        shutil.copyfile(wal, into / wal.name)
    return copy


def parse_head(head: bytes) -> tuple[int, int | None, dict[str, str]]:
    """(flags, status, headers with lower-case names) of a pickled response info."""
    flags = struct.unpack_from("<I", head, 4)[0] if len(head) >= 8 else 0
    block = None
    at = 8
    if flags & HAS_EXTRA_FLAGS and len(head) >= 12:
        extra = struct.unpack_from("<I", head, 8)[0]
        at = 12 + (24 if extra & EXTRA_ORIGINAL_RESPONSE_TIME else 16)
    else:
        at += 16
    if at + 4 <= len(head):
        length = struct.unpack_from("<i", head, at)[0]
        if 0 < length <= len(head) - at - 4 and head[at + 4:at + 9] == b"HTTP/":
            block = head[at + 4:at + 4 + length]
    if block is None:  # an older field order: find the header block by its status line
        for match in re.finditer(rb"HTTP/", head):
            start = match.start()
            if start < 4:
                continue
            length = struct.unpack_from("<i", head, start - 4)[0]
            if 0 < length <= len(head) - start and head[start:start + length].endswith(b"\0\0"):
                block = head[start:start + length]
                break
    if block is None:
        return flags, None, {}
    lines = block.decode("latin-1").split("\0")
    parts = lines[0].split(" ")
    status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else None
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers.setdefault(name.strip().lower(), value.strip())
    return flags, status, headers


@dataclass
class Entry:
    shard: int
    res_id: int
    key: bytes
    last_used: int
    body_end: int
    status: int | None = None
    headers: dict[str, str] = field(default_factory=dict)
    blobs: list[tuple[int, int]] = field(default_factory=list)  # (start, end) in order
    body: bytes | None = None  # as stored (still content-encoded); None unless complete
    problem: str | None = None  # why the entry is not complete; None when it is
    damaged: bool = False  # the problem is a failed hash, checksum or length, not an entry unfinished

    @property
    def url(self) -> str:
        return url_of(self.key)

    @property
    def address(self) -> str:
        return f"sqldb{self.shard}:{self.res_id}"


def _range_total(headers: dict[str, str]) -> int | None:
    match = re.search(r"/(\d+)\s*$", headers.get("content-range", ""))
    return int(match.group(1)) if match else None


def check_entry(entry: Entry, doomed: int, hash_: int, head_sum: int, head: bytes | None,
                blobs: list[tuple[int, int, int, bytes]], shards: int) -> None:
    """Sets entry.body when the row and its blobs form a complete body, else entry.problem (and
    entry.damaged when a hash, a checksum or a length fails)."""
    def damaged(problem: str) -> None:
        entry.problem, entry.damaged = problem, True

    if doomed:
        entry.problem = "doomed"
        return
    if hash_ != key_hash(entry.key):
        return damaged(f"key hash {hash_} is not the key's {key_hash(entry.key)}")
    if (hash_ % (1 << 64)) % shards != entry.shard:
        return damaged(f"key hash {hash_} places the entry in shard {(hash_ % (1 << 64)) % shards}")
    if head_sum != checksum(head or b"", hash_):
        return damaged("head checksum fails")
    if not head:
        entry.problem = "no head (being written)"
        return
    flags, entry.status, entry.headers = parse_head(head)
    if entry.status is None:
        return damaged("no header block in the head")
    if flags & TRUNCATED_FLAG:
        entry.problem = "truncated"
        return
    pieces = []
    for start, end, blob_sum, blob in blobs:
        if end - start != len(blob):
            return damaged(f"blob [{start}, {end}) holds {len(blob)} bytes")
        if blob_sum != checksum(blob, hash_):
            return damaged(f"blob [{start}, {end}) checksum fails")
        entry.blobs.append((start, end))
        pieces.append((start, blob))
    covered = 0
    run = []
    for start, blob in pieces:
        if start != covered:
            break
        run.append(blob)
        covered = start + len(blob)
    if entry.status == 206:
        total = _range_total(entry.headers)
        if total is None or covered < total:
            entry.problem = f"range entry covers {covered} of {total} bytes"
            return
        entry.body = b"".join(run)[:total]
        return
    if len(run) != len(pieces):
        entry.problem = f"blobs {entry.blobs} have a gap"
        return
    if covered != entry.body_end:
        entry.problem = f"blobs {entry.blobs} cover {covered}, body_end {entry.body_end}"
        return
    length = entry.headers.get("content-length")
    if entry.status in (200, 203) and length and length.isdigit() and int(length) != entry.body_end:
        entry.problem = f"body_end {entry.body_end}, Content-Length {length}"
        return
    entry.body = b"".join(run)


def read_shard(copy: Path, shard: int, shards: int) -> list[Entry]:
    """Every row of one private shard copy, each checked."""
    entries = []
    db = sqlite3.connect(copy)
    try:
        rows = db.execute("SELECT res_id, last_used, body_end, doomed, check_sum, cache_key_hash,"
                          " CAST(cache_key AS BLOB), head FROM resources ORDER BY res_id").fetchall()
        for res_id, last_used, body_end, doomed, head_sum, hash_, key, head in rows:
            blobs = db.execute("SELECT start, end, check_sum, blob FROM blobs WHERE res_id=? ORDER BY start",
                               (res_id,)).fetchall()
            entry = Entry(shard, res_id, bytes(key), last_used, body_end)
            check_entry(entry, doomed, hash_, head_sum, head, blobs, shards)
            entries.append(entry)
    finally:
        db.close()
    return entries


def read_cache(folder: Path, skip_unreadable: bool = False) -> list[Entry]:
    """Every entry of an SQL cache folder, read from private copies of its shards. A shard
    SQLite cannot read raises sqlite3.DatabaseError, or is left out with skip_unreadable."""
    shards = shard_files(folder)
    if not shards:
        raise ValueError(f"{folder}: no sqldb0")
    with tempfile.TemporaryDirectory(prefix="tavrin-sql-") as private:
        entries = []
        for number, shard in enumerate(shards):
            copy = copy_shard(shard, Path(private) / str(number))
            try:
                entries += read_shard(copy, number, len(shards))
            except sqlite3.DatabaseError:
                if not skip_unreadable:
                    raise
        return entries
