#!/usr/bin/env python3
"""Harvests real Chromium and Firefox caches with tavrin-harvest and checks every copy.

Makes the caches with browser_cache.py (Chromium's simple, blockfile and SQL formats, the last in
both its journal modes, and Firefox), then
for each browser runs

    tavrin-harvest --since all --cache <cache folder> --dest <folder> --ext <list> --min-kb 25 --stats

and checks that the destination holds exactly the expected files: every corpus item the rules
admit, under the name the rules give it, byte for byte what was served (decoded), and nothing
else (no half-written or temporary files, no numbered duplicates). A second run into the same
folder must copy nothing, and --list-caches must report the cache. A run with --min-kb 0 must
copy the small pictures too.

The blockfile cache is also harvested while Chromium still runs, caught with an entry half
written (copied mid-download, and left behind by a killed network service), and damaged on
purpose (index, block-file headers, single records, allocation bits, a short separate file):
the harvest must never fail or copy anything wrong, and must copy everything undamaged.
Copies of the SQL caches are torn and damaged the same way (a head without its blobs, a missing
piece, failing checksums, a wrong key hash, a head missing or marked truncated, a doomed row, a
shard's header, an index naming another shard count, an unknown schema version).

Each SQL variant is also harvested live: a page adds a picture every 100-300 ms while
`tavrin-harvest --watch --interval 1000` watches the cache. Every copy must be byte for byte a
served picture, every picture the browser stored must be copied before the browser is ended, and
the browser must store as many entries as in the same run without a harvest.

    test_harvest_real_browsers.py --harvest build/bin/tavrin-harvest [--workdir DIR] [--browser B ...]
                                  [--blockfile] [--sql] [--no-live]

The harvester may also be named by the TAVRIN_HARVEST environment variable. Exit status 0 when
everything matched, 1 on any mismatch or when a browser is missing.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import shutil
import re
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import blockfile_layout  # noqa: E402
import browser_cache  # noqa: E402
import corpus  # noqa: E402
import sql_layout  # noqa: E402

HARVEST_TIMEOUT = 60
# The kind --list-caches names for each cache, where it is not the browser's name here.
LISTED_KIND = {"sql": "sql", "sqlwal": "sql"}


def run(command: list[str]) -> tuple[subprocess.CompletedProcess, float]:
    """Runs the harvester; one that hangs is killed and reported as exit status -9 with what it
    printed, so that the other checks still run."""
    started = time.monotonic()
    try:
        result = subprocess.run(command, capture_output=True, timeout=HARVEST_TIMEOUT)
    except subprocess.TimeoutExpired as hung:
        result = subprocess.CompletedProcess(command, -9, hung.stdout or b"",
                                             (hung.stderr or b"") + b"\n(killed after %d s)" % HARVEST_TIMEOUT)
    return result, time.monotonic() - started


def text(data: bytes) -> str:
    return data.decode("utf-8", errors="replace")


def files_below(folder: Path) -> dict[str, Path]:
    """Every file and folder below folder, by path relative to it (hidden ones too)."""
    found = {}
    for root, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = Path(root) / name
            found[str(path.relative_to(folder))] = path
    return found


def describe_difference(got: bytes, item: dict, wanted: bytes) -> str:
    """Why a copy differs from the served resource, in a line or two."""
    lines = [f"size {len(got)}, expected {len(wanted)}; sha256 {hashlib.sha256(got).hexdigest()[:16]}…, "
             f"expected {item['sha256'][:16]}…"]
    if hashlib.sha256(got).hexdigest() == item["wire_sha256"]:
        lines.append(f"it is the body as transferred, still {item['content_encoding']}-encoded")
    elif wanted.startswith(got):
        lines.append("it is a truncated copy (a prefix of the expected bytes)")
    else:
        first = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b), min(len(got), len(wanted)))
        lines.append(f"first difference at byte {first}: got {got[first:first + 8].hex()} "
                     f"expected {wanted[first:first + 8].hex()}")
    return "; ".join(lines)


def identify(data: bytes, items: list[dict]) -> str:
    """Which corpus item a stray file holds, if any."""
    digest = hashlib.sha256(data).hexdigest()
    for item in items:
        if digest == item["sha256"]:
            name = item["expected_name"]
            return f"holds {item['path']}" + (f" (expected as {name!r})" if name else " (should not be harvested)")
        if digest == item["wire_sha256"] and item["content_encoding"]:
            return f"holds {item['path']} still {item['content_encoding']}-encoded"
    return "matches no served resource"


def check_stats(stderr: str, expected_copies: int, stored: int) -> list[str]:
    """The --stats object of the pass: copied must count the copies, entries the cache's entries."""
    objects = []
    for line in stderr.splitlines():
        line = line.strip()
        if line.startswith("{"):
            try:
                objects.append(json.loads(line))
            except json.JSONDecodeError:
                pass
    stats = [o for o in objects if isinstance(o, dict) and "copied" in o]
    if len(stats) != 1:
        return [f"--stats: expected one JSON line with pass, entries, copied and ms on stderr, found {len(stats)}"]
    missing = [k for k in ("pass", "entries", "copied", "ms") if k not in stats[0]]
    if missing:
        return [f"--stats: the JSON line lacks {', '.join(missing)}: {json.dumps(stats[0])}"]
    problems = []
    if stats[0]["copied"] != expected_copies:
        problems.append(f"--stats: copied is {stats[0]['copied']}, expected {expected_copies}")
    if not isinstance(stats[0]["entries"], int) or stats[0]["entries"] < stored:
        problems.append(f"--stats: entries is {stats[0]['entries']}, but the cache holds at least {stored}")
    return problems


def local_time(text: str, shift: int) -> str:
    moment = time.mktime(time.strptime(text, "%Y-%m-%dT%H:%M:%S")) + shift
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(moment))


def check_since(harvest: str, cache: str, settings: dict, info: dict, expected: dict, folder: Path) -> list[str]:
    """The last-access times read from the cache must lie within the browser run: a start time
    just before it admits every expected copy, one after it admits none."""
    problems = []
    for label, since, wanted in (("before the browser ran", local_time(info["started_local"], -2), len(expected)),
                                 ("after the browser ran", local_time(info["ended_local"], 120), 0)):
        dest = folder / label.split()[0]
        result, _ = run([harvest, "--since", since, "--cache", cache, "--dest", str(dest),
                         "--ext", settings["ext"], "--min-kb", str(settings["min_kb"])])
        copied = [line for line in text(result.stdout).splitlines() if line.strip()]
        if result.returncode != 0 or len(copied) != wanted:
            problems.append(f"--since {since} ({label}): exit {result.returncode}, copied {len(copied)} files, "
                            f"expected {wanted} (every entry was last used during the run)"
                            + (f"; copied {sorted(Path(c).name for c in copied)}" if copied else ""))
    return problems


def compare_folder(dest: Path, expected: dict, items: list[dict], stdout: str) -> list[str]:
    """The destination must hold exactly the expected copies, byte for byte, and the harvester's
    output must name exactly the files there."""
    problems = []
    present = files_below(dest) if dest.is_dir() else {}
    for name, item in sorted(expected.items()):
        path = present.get(name)
        if path is None:
            problems.append(f"missing {name!r}: {item['path']} ({item['note'] or item['content_type']})")
            continue
        got = path.read_bytes()
        wanted = Path(item["body_file"]).read_bytes()
        if got != wanted:
            problems.append(f"{name!r} differs from {item['path']}: {describe_difference(got, item, wanted)}")
    for relative, path in sorted(present.items()):
        if relative in expected:
            continue
        if path.is_dir():
            problems.append(f"unexpected folder {relative!r}")
        else:
            problems.append(f"unexpected file {relative!r} ({path.stat().st_size} bytes): "
                            f"{identify(path.read_bytes(), items)}")

    printed = [line for line in stdout.splitlines() if line.strip()]
    printed_names = []
    for line in printed:
        path = Path(line)
        if path.parent.resolve() != dest.resolve():
            problems.append(f"stdout line {line!r} is not a file in {dest}")
        else:
            printed_names.append(path.name)
    if sorted(printed_names) != sorted(n for n, p in present.items() if p.is_file()):
        problems.append(f"stdout lists {sorted(printed_names)}, the folder holds {sorted(present)}")

    return problems


def expected_copies(manifest: dict, min_kb: int, ext: str | None = None) -> dict:
    """The copies a harvest with these settings makes, by name."""
    settings = manifest["harvest"]
    expected = {}
    for it in manifest["items"]:
        name = corpus.harvested_name(it["url"], it["path"], it["content_type"], it["size"], ext or settings["ext"],
                                     min_kb, it["status"])
        if name:
            expected[name] = it
    return expected


def check_browser(harvest: str, browser: str, manifest: dict, workdir: Path) -> list[str]:
    """Harvests one browser's cache and compares the result with the manifest."""
    info = manifest["browsers"][browser]
    cache = info["cache"]
    items = manifest["items"]
    settings = manifest["harvest"]
    expected = {it["expected_name"]: it for it in items if it["expected_name"]}
    dest = workdir / f"harvest-{browser}"
    problems: list[str] = []
    base = [harvest, "--since", "all", "--cache", cache, "--dest", str(dest),
            "--ext", settings["ext"], "--min-kb", str(settings["min_kb"])]

    result, seconds = run(base + ["--stats"])
    print(f"{browser}: harvest took {seconds:.2f} s, exit {result.returncode}")
    if result.returncode != 0:
        problems.append(f"exit status {result.returncode}, expected 0; stderr: {text(result.stderr).strip()}")
    problems += check_stats(text(result.stderr), len(expected), len(info.get("stored", {})))

    present = files_below(dest) if dest.is_dir() else {}
    problems += compare_folder(dest, expected, items, text(result.stdout))

    # A second run copies nothing: every target exists with the same size.
    again, _ = run(base)
    after = files_below(dest) if dest.is_dir() else {}
    if again.returncode != 0:
        problems.append(f"second run: exit status {again.returncode}; stderr: {text(again.stderr).strip()}")
    if again.stdout.strip():
        problems.append(f"second run copied again: {text(again.stdout).split()}")
    if sorted(after) != sorted(present):
        problems.append(f"second run added {sorted(set(after) - set(present))}")

    problems += check_since(harvest, cache, settings, info, expected, workdir / f"since-{browser}")

    # Every size, down to the smallest picture.
    any_size = workdir / f"harvest-{browser}-any-size"
    result, _ = run([harvest, "--since", "all", "--cache", cache, "--dest", str(any_size), "--ext", settings["ext"],
                     "--min-kb", "0"])
    if result.returncode != 0:
        problems.append(f"--min-kb 0: exit status {result.returncode}; stderr: {text(result.stderr).strip()}")
    problems += [f"--min-kb 0: {p}" for p in compare_folder(any_size, expected_copies(manifest, 0), items,
                                                             text(result.stdout))]

    listed, _ = run([harvest, "--list-caches", "--cache", cache, "--dest", str(dest)])
    lines = [line for line in text(listed.stdout).splitlines() if cache in line]
    if listed.returncode != 0 or len(lines) != 1:
        problems.append(f"--list-caches: exit {listed.returncode}, expected one line naming {cache}; "
                        f"got {text(listed.stdout).strip()!r}")
    elif LISTED_KIND.get(browser, browser) not in lines[0].lower():
        problems.append(f"--list-caches: the line does not name the kind {LISTED_KIND.get(browser, browser)!r}: "
                        f"{lines[0]!r}")
    elif browser in browser_cache.SQL_VARIANTS:
        count = lines[0].rstrip().rsplit("\t", 1)[-1]
        if not count.isdigit() or int(count) < len(info.get("stored", {})):
            problems.append(f"--list-caches: the entry count {count!r} is not at least the "
                            f"{len(info.get('stored', {}))} entries stored: {lines[0]!r}")
    return problems


# ---------------------------------------------------------------------------------------------
# The blockfile cache: read while the browser runs, half-written entries, damage


def harvest_all(harvest: str, cache: str, dest: Path, ext: str) -> subprocess.CompletedProcess:
    result, _ = run([harvest, "--since", "all", "--cache", cache, "--dest", str(dest), "--ext", ext, "--min-kb", "0"])
    return result


def check_live(manifest: dict) -> list[str]:
    """The harvest made while Chromium still ran must be as complete and exact as any other."""
    live = manifest["browsers"]["blockfile"].get("while_running")
    if not live:
        return ["no harvest was made while the browser ran (the page never reported back?)"]
    problems = []
    if live["exit"] != 0:
        problems.append(f"exit status {live['exit']}; stderr: {live['stderr'].strip()}")
    problems += compare_folder(Path(live["dest"]), expected_copies(manifest, 0), manifest["items"], live["stdout"])
    return [f"while the browser ran: {p}" for p in problems]


def check_dirty(harvest: str, manifest: dict, workdir: Path) -> list[str]:
    """A cache caught mid-download, and one left by a killed network service: the entry being
    written is dirty and must not be copied; the finished picture beside it must be, exactly."""
    made = browser_cache.make_dirty_blockfile_cache(workdir)
    problems = [f"dirty run: {p}" for p in made["problems"]]
    photo = next(it for it in manifest["items"] if it["id"] == "jpg")
    for label, folder in (("copied mid-download", made["copy"]), ("left by a crash", made["crashed"])):
        if not Path(folder, "index").is_file():
            problems.append(f"{label}: no cache at {folder}")
            continue
        entries = blockfile_layout.Cache(Path(folder)).entries()
        slow = [e for e in entries if blockfile_layout.url_of(e.key) == made["slow_url"]]
        if not any(e.dirty for e in slow):
            problems.append(f"{label}: the cache holds no dirty entry for {made['slow_url']} "
                            f"(entries for it: {[(hex(e.address), e.dirty) for e in slow]}); the test did not "
                            f"catch the download")
        dest = workdir / f"harvest-dirty-{label.split()[0]}"
        result = harvest_all(harvest, folder, dest, "*.jpg;*.bmp")
        if result.returncode != 0:
            problems.append(f"{label}: exit status {result.returncode}; stderr: {text(result.stderr).strip()}")
        present = files_below(dest) if dest.is_dir() else {}
        for name, path in sorted(present.items()):
            data = path.read_bytes()
            if name != "photo.jpg" or data != Path(photo["body_file"]).read_bytes():
                problems.append(f"{label}: copied {name!r} ({len(data)} bytes), which is not the finished picture"
                                + (" but a part of the one still downloading" if browser_cache.SLOW_PICTURE.startswith(data)
                                   or name == "huge.bmp" else ""))
        if label == "copied mid-download" and "photo.jpg" not in present:
            problems.append(f"{label}: the finished picture beside the dirty entry was not copied")
    return problems


def damage_scenarios(manifest: dict, cache: Path) -> list[tuple[str, object]]:
    """(description, function(folder) -> item ids made unreadable, or None for all)."""
    stored = manifest["browsers"]["blockfile"]["stored"]
    entries = {("%08x" % e.address): e for e in blockfile_layout.Cache(cache).entries()}

    def entry(item_id: str) -> blockfile_layout.Entry:
        return entries[stored[item_id]]

    def whole(name: str, offset: int, data: bytes, cut: int | None = None):
        def damage(folder: Path):
            blockfile_layout.patch(folder, name, offset, data)
            if cut is not None:
                path = folder / name
                path.write_bytes(path.read_bytes()[:cut])
            return None
        return damage

    def records(folder: Path):
        hit = {}
        e = entry("jpg")  # the entry record's body size changed: its self hash fails
        blockfile_layout.patch(folder, e.record[0], e.record[1] + 44, b"\x01")
        hit["jpg"] = e
        e = entry("png")  # the rankings node's time changed: its self hash fails
        blockfile_layout.patch(folder, e.rankings[0], e.rankings[1] + 1, b"\x5a")
        hit["png"] = e
        e = entry("gif")  # marked dirty, its self hash made right
        blockfile_layout.patch(folder, e.rankings[0], e.rankings[1] + 28, b"\x07")
        blockfile_layout.rehash(folder, e.rankings[0], e.rankings[1], 32)
        hit["gif"] = e
        e = entry("under_4k")  # a key byte changed, the record's self hash made right: the key hash fails
        blockfile_layout.patch(folder, e.record[0], e.record[1] + 96 + 30, b"#")
        blockfile_layout.rehash(folder, e.record[0], e.record[1], 92)
        hit["under_4k"] = e
        e = entry("edge_16384")  # the body's blocks no longer marked in use
        blockfile_layout.mark_free(folder, e.addresses[1])
        hit["edge_16384"] = e
        e = entry("long_url")  # the long key's blocks no longer marked in use
        long_key = int.from_bytes((folder / e.record[0]).read_bytes()[e.record[1] + 36:e.record[1] + 40], "little")
        blockfile_layout.mark_free(folder, long_key)
        hit["long_url"] = e
        e = entry("big")  # the separate file one byte short
        path = folder / blockfile_layout.locate(e.addresses[1])[0]
        path.write_bytes(path.read_bytes()[:-1])
        hit["big"] = e
        # Entries after a damaged one in its hash chain cannot be reached either.
        lost = set(hit)
        for e in hit.values():
            lost |= {i for i, a in stored.items() if int(a, 16) in e.chain}
        return lost

    return [
        ("index magic", whole("index", 0, b"\xc3\xca\x03\x00")),
        ("index table longer than the file", whole("index", 28, (1 << 24).to_bytes(4, "little"))),
        ("index cut short", whole("index", 0, b"", cut=368 + 4000)),
        ("entry block file magic", whole("data_1", 0, b"XXXX")),
        ("rankings block file claims more blocks than it holds", whole("data_0", 20, (64896).to_bytes(4, "little"))),
        ("entry block file bitmap cleared", whole("data_1", 80, bytes(8112))),
        ("single records, allocation bits and a separate file", records),
    ]


def check_damaged(harvest: str, manifest: dict, workdir: Path) -> list[str]:
    """Damaged copies of the clean cache: no failure, nothing wrong copied, everything else copied."""
    cache = Path(manifest["browsers"]["blockfile"]["cache"])
    expected = expected_copies(manifest, 0)
    problems = []
    for number, (label, damage) in enumerate(damage_scenarios(manifest, cache)):
        folder = workdir / "damaged" / f"{number}" / "Cache_Data"
        shutil.copytree(cache, folder)
        lost = damage(folder)
        wanted = {} if lost is None else {n: it for n, it in expected.items() if it["id"] not in lost}
        dest = workdir / "damaged" / f"{number}" / "dest"
        result = harvest_all(harvest, str(folder), dest, manifest["harvest"]["ext"])
        # Without its magic the index marks no format the harvester knows; it may say so and stop.
        refused = label == "index magic" and result.returncode == 2 and (
            b"not a browser cache folder" in result.stderr or b"a cache format this version" in result.stderr)
        if not refused and (result.returncode != 0 or result.stderr.strip()):
            problems.append(f"{label}: exit status {result.returncode}; stderr: {text(result.stderr).strip()}")
        problems += [f"{label}: {p}" for p in compare_folder(dest, wanted, manifest["items"], text(result.stdout))]
    return problems


# ---------------------------------------------------------------------------------------------
# The SQL caches: torn and damaged copies


def sql_damage_scenarios(manifest: dict, variant: str) -> list[tuple[str, object]]:
    """(description, function(folder) -> item ids made unreadable). Rows are changed through
    SQLite on the test's own copy of the cache, never on the browser's files: as a snapshot
    taken while the browser commits can show them (a head without its blobs, a blob missing),
    or as damage (a failing checksum, a wrong key hash, a shard whose header is gone)."""
    stored = manifest["browsers"][variant]["stored"]

    def where(item_id: str) -> tuple[str, int]:
        shard, res_id = stored[item_id].split(":")
        return shard, int(res_id)

    def rows(folder: Path):
        lost = []

        def edit(item_id: str, *statements: tuple[str, tuple]):
            shard, res_id = where(item_id)
            db = sqlite3.connect(folder / shard)
            with db:
                for sql, values in statements:
                    db.execute(sql, values + (res_id,))
            db.close()
            lost.append(item_id)

        def row(item_id: str, query: str = "SELECT head, cache_key_hash FROM resources WHERE res_id=?"):
            shard, res_id = where(item_id)
            db = sqlite3.connect(folder / shard)
            first, hash_ = db.execute(query, (res_id,)).fetchone()
            db.close()
            return bytearray(first), hash_

        # The last piece of a body in several pieces missing: the rest passes every checksum.
        edit("big", ("DELETE FROM blobs WHERE blob_id=(SELECT max(blob_id) FROM blobs WHERE res_id=?)", ()))
        # The final head and body_end written, no blob yet.
        edit("bmp", ("DELETE FROM blobs WHERE res_id=?", ()))
        # A body byte changed under its checksum.
        blob, _ = row("jpg", "SELECT blob, 0 FROM blobs WHERE res_id=?")
        blob[100] ^= 0x01
        edit("jpg", ("UPDATE blobs SET blob=? WHERE res_id=?", (bytes(blob),)))
        # Still being written: no head, its checksum that of an empty head.
        _, hash_ = row("png")
        edit("png", ("UPDATE resources SET head=NULL, check_sum=? WHERE res_id=?", (sql_layout.checksum(b"", hash_),)))
        # Cut short at a clean exit: the TRUNCATED flag set, the checksum made right.
        head, hash_ = row("gif")
        head[5] |= sql_layout.TRUNCATED_FLAG >> 8
        truncated = (bytes(head), sql_layout.checksum(bytes(head), hash_))
        edit("gif", ("UPDATE resources SET head=?, check_sum=? WHERE res_id=?", truncated))
        # Doomed, waiting to be deleted.
        edit("webp", ("UPDATE resources SET doomed=1 WHERE res_id=?", ()))
        # A key hash that is not the key's.
        edit("cjk", ("UPDATE resources SET cache_key_hash=-cache_key_hash WHERE res_id=?", ()))
        # A header byte changed under the head's checksum.
        head, _ = row("query")
        head[-1] ^= 0x20
        edit("query", ("UPDATE resources SET head=? WHERE res_id=?", (bytes(head),)))
        return lost

    def shard_header(folder: Path):
        blockfile_layout.patch(folder, "sqldb2", 0, b"\0" * 100)
        if (folder / "sqldb2-wal").is_file():  # else the log's copy of the first page stands in for it
            blockfile_layout.patch(folder, "sqldb2-wal", 0, b"\0" * 32)
        return [i for i, address in stored.items() if address.startswith("sqldb2:")]

    def other_index(folder: Path):
        (folder / "index").write_bytes(b"SQLCacheTruncate5Sql")  # another count and a trial group
        return []

    return [
        ("torn and damaged rows", rows),
        ("a shard's header overwritten", shard_header),
        ("an index naming five shards and a trial group beside three shards", other_index),
    ]


def check_damaged_sql(harvest: str, manifest: dict, variant: str, workdir: Path) -> list[str]:
    """Torn and damaged copies of a clean SQL cache: nothing wrong or partial copied, everything
    else copied. A shard that cannot be read may be reported; rows that cannot be used are not
    errors (a harvest meets them again later)."""
    info = manifest["browsers"][variant]
    cache = Path(info["cache"])
    expected = expected_copies(manifest, 0)
    problems = []
    for number, (label, damage) in enumerate(sql_damage_scenarios(manifest, variant)):
        folder = workdir / f"damaged-{variant}" / f"{number}" / "Cache_Data"
        shutil.copytree(cache, folder)
        lost = set(damage(folder))
        wanted = {n: it for n, it in expected.items() if it["id"] not in lost}
        # The test's own reader must see the damage as meant, or the expectation is wrong.
        complete = {e.url: hashlib.sha256(e.body).hexdigest() for e in sql_layout.read_cache(folder, True) if e.body}
        readable = {it["id"] for it in manifest["items"] if it["id"] in info["stored"]
                    and complete.get(manifest["origin"] + info["requested"][it["id"]]) == it["wire_sha256"]}
        if readable != set(info["stored"]) - lost:
            problems.append(f"{label}: the damage did not take as meant: complete are {sorted(readable)}, "
                            f"expected {sorted(set(info['stored']) - lost)}")
        dest = workdir / f"damaged-{variant}" / f"{number}" / "dest"
        result = harvest_all(harvest, str(folder), dest, manifest["harvest"]["ext"])
        # A body byte changed behind its checksum is found by the copy: that entry alone is left for
        # a later pass, said once, and the run's status says so.
        lines = text(result.stderr).strip().splitlines()
        entries_left = bool(lines) and all("left an entry for a later pass" in line for line in lines)
        reported = result.returncode in (0, 3) and (label.startswith("a shard's") or entries_left)
        if not reported and (result.returncode != 0 or result.stderr.strip()):
            problems.append(f"{label}: exit status {result.returncode}; stderr: {text(result.stderr).strip()}")
        problems += [f"{label}: {p}" for p in compare_folder(dest, wanted, manifest["items"], text(result.stdout))]

    # A schema version it does not know: nothing read, and said so.
    folder = workdir / f"damaged-{variant}" / "version" / "Cache_Data"
    shutil.copytree(cache, folder)
    for shard in sql_layout.shard_files(folder):
        db = sqlite3.connect(shard)
        with db:
            db.execute("UPDATE meta SET value='9' WHERE key IN ('version', 'last_compatible_version')")
        db.close()
    dest = workdir / f"damaged-{variant}" / "version" / "dest"
    result = harvest_all(harvest, str(folder), dest, manifest["harvest"]["ext"])
    said = text(result.stderr).strip()
    if result.stdout.strip() or not said or "not a browser cache folder" in said:
        problems.append(f"schema version 9: exit status {result.returncode}, copied {text(result.stdout).split()}; "
                        f"expected nothing copied and the unknown version named; stderr: {said!r}")
    return problems


# ---------------------------------------------------------------------------------------------
# The SQL caches harvested live, while the browser keeps adding pictures

# Seconds a watching harvest gets for its first pass, and to copy the last pictures while the
# browser still runs; then for one pass after the browser has exited.
WATCH_READY_TIMEOUT = 15.0
WATCH_CATCH_UP_TIMEOUT = 15.0
WATCH_AFTER_EXIT = 2.5
# The names a browser's SQL cache folder may hold; anything else (an -shm file, say) was made by
# a reader.
SQL_CACHE_NAMES = re.compile(r"index|sqldb\d+(-journal|-wal)?")


class WatchingHarvest:
    """tavrin-harvest --watch --interval 1000 --stats over one cache; its copies and passes are
    collected from its output as they come."""

    def __init__(self, harvest: str, cache: Path, dest: Path, settings: dict):
        self.command = [harvest, "--cache", str(cache), "--dest", str(dest), "--watch", "--interval", "1000",
                        "--ext", settings["ext"], "--min-kb", str(settings["min_kb"]), "--stats"]
        self.process = subprocess.Popen(self.command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        stdin=subprocess.DEVNULL)
        self.copies: list[str] = []
        self.passes: list[dict] = []
        self.other_stderr: list[str] = []
        self.changed = threading.Condition()
        self.readers = [threading.Thread(target=self._read, args=(stream, out), daemon=True)
                        for stream, out in ((self.process.stdout, self.copies), (self.process.stderr, None))]
        for reader in self.readers:
            reader.start()

    def _read(self, stream, copies):
        for raw in stream:
            line = text(raw).rstrip("\n")
            with self.changed:
                if copies is not None:
                    if line.strip():
                        copies.append(line)
                elif line.startswith("{"):
                    try:
                        self.passes.append(json.loads(line))
                    except json.JSONDecodeError:
                        self.other_stderr.append(line)
                elif line.strip():
                    self.other_stderr.append(line)
                self.changed.notify_all()
        with self.changed:
            self.changed.notify_all()

    def wait(self, done, timeout: float) -> bool:
        """Waits until done() holds, the harvest has ended, or timeout seconds have passed."""
        with self.changed:
            return self.changed.wait_for(lambda: done() or self.process.poll() is not None, timeout) and done()

    def stop(self) -> int:
        """SIGTERM ends a watch after the file being copied, with status 0."""
        if self.process.poll() is None:
            self.process.terminate()
        try:
            self.process.wait(HARVEST_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        for reader in self.readers:
            reader.join(5)
        return self.process.returncode


def check_live_sql(harvest: str, variant: str, workdir: Path) -> list[str]:
    """The browser, started again on a cache it made before, adds pictures one by one; a harvest
    that watched the cache from before the browser opened it must copy each picture stored in
    this session, exactly, while the browser runs (and none of the earlier session), and must not
    change what the browser stores or keeps (compared with the same run without a harvest)."""
    settings = {"ext": browser_cache.HARVEST_EXT_LIST, "min_kb": browser_cache.HARVEST_MIN_KB}
    alone, problems = browser_cache.make_live_cache(workdir / f"live-{variant}-alone", variant, attempts=2)
    if problems:  # the browser, not the harvester, fell short; a comparison would mislead
        return [f"live, without a harvest (browser did not cache every picture): {p}" for p in problems]

    dest = workdir / f"harvest-live-{variant}"
    watch: list[WatchingHarvest] = []

    def start_watching(cache: Path):
        watch.append(WatchingHarvest(harvest, cache, dest, settings))
        watch[0].wait(lambda: watch[0].passes, WATCH_READY_TIMEOUT)
        # A capture takes what was used after the second it started in (times are whole seconds):
        # the browser starts in a later second, or its first pictures could fall in that one.
        time.sleep(1.1)

    def catch_up(cache: Path) -> int:
        watch[0].wait(lambda: len(watch[0].copies) >= corpus.LIVE_PICTURES, WATCH_CATCH_UP_TIMEOUT)
        return len(watch[0].copies)

    try:
        watched, browser_problems = browser_cache.make_live_cache(workdir / f"live-{variant}-watched", variant,
                                                                  on_ready=start_watching, before_exit=catch_up)
        if watch:
            time.sleep(WATCH_AFTER_EXIT)
    finally:
        exit_code = watch[0].stop() if watch else None
    if not watch:
        return [f"live: the harvest never started: {'; '.join(browser_problems)}"]
    harvest_run = watch[0]
    # What the harvest said, pass by pass, for a look afterwards.
    (workdir / f"harvest-live-{variant}.log").write_text(
        "\n".join([json.dumps(p) for p in harvest_run.passes] + harvest_run.other_stderr + harvest_run.copies) + "\n")
    problems = [f"browser, watched: {p}" for p in browser_problems]
    if "stored" not in watched:  # the second session never ran, or its cache could not be read
        return [f"live: {p}" for p in problems]
    print(f"{variant} live: {len(harvest_run.copies)} copies, {watched['while_running']} before the browser was "
          f"ended; {len(harvest_run.passes)} passes; {len(watched['stored'])} pictures and "
          f"{watched['complete_entries']} complete entries stored (without the harvest: {len(alone['stored'])} and "
          f"{alone['complete_entries']})")
    if exit_code != 0 or harvest_run.other_stderr:
        problems.append(f"harvest exit status {exit_code}; stderr: {' | '.join(harvest_run.other_stderr)}")
    failed = [p for p in harvest_run.passes if p.get("ended_by_error")]
    if failed:
        problems.append(f"{len(failed)} passes ended by an error, the first: {failed[0].get('error')}")

    # The reader disturbed nothing: as many entries as without it, and no file of its own.
    for what, with_harvest, without in (("pictures", len(watched["stored"]), len(alone["stored"])),
                                        ("complete entries", watched["complete_entries"], alone["complete_entries"])):
        if with_harvest != without:
            problems.append(f"the browser stored {with_harvest} {what} while watched, {without} without the harvest")
    strays = [name for name in watched.get("files", []) if not SQL_CACHE_NAMES.fullmatch(name)]
    if strays:
        problems.append(f"files in the browser's cache folder that the browser does not make: {strays}")

    # Every stored picture copied while the browser ran, exactly; nothing else, nothing partial.
    items = watched["items"]
    expected = {it["expected_name"]: it for it in items
                if it["id"] in watched["stored"] and it["id"].startswith("live")}
    if watched["while_running"] is not None and watched["while_running"] < len(expected):
        problems.append(f"only {watched['while_running']} of the {len(expected)} stored pictures were copied "
                        f"while the browser ran")
    if not harvest_run.copies and not (dest.is_dir() and any(dest.iterdir())):
        problems.append(f"none of the {len(expected)} stored pictures was copied")
    else:
        problems += compare_folder(dest, expected, items, "\n".join(harvest_run.copies))
    return [f"live: {p}" for p in problems]


def main(argv: list[str]) -> int:
    sys.stdout.reconfigure(line_buffering=True)  # keep progress and failures in order in logs
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--harvest", default=os.environ.get("TAVRIN_HARVEST"),
                        help="the tavrin-harvest executable (default: $TAVRIN_HARVEST)")
    parser.add_argument("--workdir", type=Path, help="keep profiles, caches and copies here (default: a temporary "
                                                     "folder, removed when everything matched)")
    parser.add_argument("--browser", choices=[*browser_cache.BROWSERS, "all"], nargs="+", default=["all"])
    parser.add_argument("--blockfile", action="store_true", help="only Chromium in the blockfile cache format")
    parser.add_argument("--sql", action="store_true", help="only Chromium in both variants of its SQL cache backend")
    parser.add_argument("--no-live", action="store_true", help="leave out the live harvests of the SQL caches")
    args = parser.parse_args(argv)
    if not args.harvest:
        parser.error("name the harvester with --harvest or TAVRIN_HARVEST")
    harvest = shutil.which(args.harvest) or args.harvest
    if not (os.path.isfile(harvest) and os.access(harvest, os.X_OK)):
        print(f"FAIL: {args.harvest} is not an executable file", file=sys.stderr)
        return 1
    browsers = list(browser_cache.BROWSERS) if "all" in args.browser else args.browser
    if args.blockfile:
        browsers = ["blockfile"]
    if args.sql:
        browsers = list(browser_cache.SQL_VARIANTS)
    workdir = (args.workdir or Path(tempfile.mkdtemp(prefix="tavrin-browsers-"))).resolve()

    def live_harvest(cache: Path) -> dict:
        dest = workdir / "harvest-blockfile-while-running"
        shutil.rmtree(dest, ignore_errors=True)  # the browser's first run may have been cut short
        result = harvest_all(harvest, str(cache), dest, browser_cache.HARVEST_EXT_LIST)
        return {"exit": result.returncode, "stdout": text(result.stdout), "stderr": text(result.stderr), "dest": str(dest)}

    started = time.monotonic()
    try:
        manifest, cache_problems = browser_cache.make_caches(workdir, browsers, while_running={"blockfile": live_harvest})
    except browser_cache.BrowserMissing as missing:
        print(f"FAIL: {missing}", file=sys.stderr)
        return 1
    failed = False
    for problem in cache_problems:
        # The browser, not the harvester, fell short; the comparison below would mislead.
        print(f"FAIL (browser did not cache the corpus): {problem}", file=sys.stderr)
        failed = True
    for browser in browsers:
        problems = check_browser(harvest, browser, manifest, workdir)
        if browser == "blockfile":
            problems += check_live(manifest)
            if "blockfile" in manifest["browsers"] and not cache_problems:
                problems += check_damaged(harvest, manifest, workdir)
            try:
                problems += check_dirty(harvest, manifest, workdir)
            except browser_cache.BrowserMissing as missing:
                problems.append(str(missing))
        if browser in browser_cache.SQL_VARIANTS and browser in manifest["browsers"] and not cache_problems:
            problems += check_damaged_sql(harvest, manifest, browser, workdir)
        if browser in browser_cache.SQL_VARIANTS and not args.no_live:
            try:
                problems += check_live_sql(harvest, browser, workdir)
            except browser_cache.BrowserMissing as missing:
                problems.append(str(missing))
        for problem in problems:
            print(f"FAIL {browser}: {problem}", file=sys.stderr)
        if not problems:
            names = sum(1 for it in manifest["items"] if it["expected_name"])
            print(f"{browser}: all {names} expected copies match, nothing else in the folder")
        failed = failed or bool(problems)
    print(f"total {time.monotonic() - started:.1f} s; work folder {workdir}"
          + (" (kept)" if failed or args.workdir else " (removed)"))
    if not failed and not args.workdir:
        shutil.rmtree(workdir, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
