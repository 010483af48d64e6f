#!/usr/bin/env python3
"""Harvests real Chromium and Firefox caches with tavrin-harvest and checks every copy.

Makes both caches with browser_cache.py, then for each browser runs

    tavrin-harvest --since all --cache <cache folder> --dest <folder> --ext <list> --min-kb 25 --stats

and checks that the destination holds exactly the expected files: every corpus item the rules
admit, under the name the rules give it, byte for byte what was served (decoded), and nothing
else (no half-written or temporary files, no numbered duplicates). A second run into the same
folder must copy nothing, and --list-caches must report the cache.

    test_harvest_real_browsers.py --harvest build/bin/tavrin-harvest [--workdir DIR] [--browser B]

The harvester may also be named by the TAVRIN_HARVEST environment variable. Exit status 0 when
everything matched, 1 on any mismatch or when a browser is missing.
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import browser_cache  # noqa: E402

HARVEST_TIMEOUT = 60


def run(command: list[str]) -> tuple[subprocess.CompletedProcess, float]:
    started = time.monotonic()
    result = subprocess.run(command, capture_output=True, timeout=HARVEST_TIMEOUT)
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

    printed = [line for line in text(result.stdout).splitlines() if line.strip()]
    printed_names = []
    for line in printed:
        path = Path(line)
        if path.parent.resolve() != dest.resolve():
            problems.append(f"stdout line {line!r} is not a file in {dest}")
        else:
            printed_names.append(path.name)
    if sorted(printed_names) != sorted(n for n, p in present.items() if p.is_file()):
        problems.append(f"stdout lists {sorted(printed_names)}, the folder holds {sorted(present)}")

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

    listed, _ = run([harvest, "--list-caches", "--cache", cache, "--dest", str(dest)])
    lines = [line for line in text(listed.stdout).splitlines() if cache in line]
    if listed.returncode != 0 or len(lines) != 1:
        problems.append(f"--list-caches: exit {listed.returncode}, expected one line naming {cache}; "
                        f"got {text(listed.stdout).strip()!r}")
    elif browser not in lines[0].lower():
        problems.append(f"--list-caches: the line does not name the kind {browser!r}: {lines[0]!r}")
    return problems


def main(argv: list[str]) -> int:
    sys.stdout.reconfigure(line_buffering=True)  # keep progress and failures in order in logs
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--harvest", default=os.environ.get("TAVRIN_HARVEST"),
                        help="the tavrin-harvest executable (default: $TAVRIN_HARVEST)")
    parser.add_argument("--workdir", type=Path, help="keep profiles, caches and copies here (default: a temporary "
                                                     "folder, removed when everything matched)")
    parser.add_argument("--browser", choices=[*browser_cache.BROWSERS, "all"], default="all")
    args = parser.parse_args(argv)
    if not args.harvest:
        parser.error("name the harvester with --harvest or TAVRIN_HARVEST")
    harvest = shutil.which(args.harvest) or args.harvest
    if not (os.path.isfile(harvest) and os.access(harvest, os.X_OK)):
        print(f"FAIL: {args.harvest} is not an executable file", file=sys.stderr)
        return 1
    browsers = list(browser_cache.BROWSERS) if args.browser == "all" else [args.browser]
    workdir = (args.workdir or Path(tempfile.mkdtemp(prefix="tavrin-browsers-"))).resolve()

    started = time.monotonic()
    try:
        manifest, cache_problems = browser_cache.make_caches(workdir, browsers)
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
