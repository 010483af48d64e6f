#!/usr/bin/env python3
"""Makes real Chromium and Firefox disk caches that hold a known corpus of pictures.

Serves the corpus (corpus.py) from 127.0.0.1, lets Debian's `chromium` and `firefox-esr` load
one page that shows every picture and fetches the video, ends each browser cleanly so its cache
is flushed, then checks that every corpus item sits complete in each cache. Writes a JSON
manifest of what was served and prints the cache folders, one line each: "<browser> <folder>".
"blockfile" is Chromium again, switched to its blockfile cache format (the default of Chrome and
Edge on Windows); --blockfile makes only that cache. "sql" and "sqlwal" are Chromium with its SQL
cache backend, in its rollback-journal and its write-ahead-log variant; --sql makes only those.

--live VARIANT makes the cache of the live run instead (see make_live_cache): the browser adds
a picture to its page every 100-300 ms; prints "<variant> <folder>" and the entries it stored.

    browser_cache.py --workdir DIR [--browser chromium|firefox|blockfile|sql|sqlwal|all ...]
                     [--blockfile] [--sql] [--live sql|sqlwal]

Exit status: 0 when every requested browser stored every item, 1 otherwise, 2 for bad usage.
A browser missing from PATH is a failure, never a skip.
"""
from __future__ import annotations

import argparse
import email.utils
import hashlib
import html
import http.server
import json
import os
import shutil
import signal
import socketserver
import subprocess
import sys
import threading
import time
import urllib.parse
from pathlib import Path

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import blockfile_layout  # noqa: E402
import corpus  # noqa: E402
import sql_layout  # noqa: E402

# Extension list and minimum size the harvest of these caches uses; the names the manifest
# expects follow from them.
HARVEST_EXT_LIST = "*.jpg;*.jpeg;*.bmp;*.gif;*.png;*.webp;*.flv"
HARVEST_MIN_KB = 25

BROWSERS = ("chromium", "firefox", "blockfile", "sql", "sqlwal")
SQL_VARIANTS = ("sql", "sqlwal")
EXECUTABLES = {"chromium": "chromium", "firefox": "firefox-esr", "blockfile": "chromium", "sql": "chromium",
               "sqlwal": "chromium"}
# Chromium keeps its HTTP cache in another format with these switches: blockfile, and SQLite
# databases with a rollback journal or with a write-ahead log.
FEATURES = {
    "blockfile": "--enable-features=DiskCacheBackendExperiment:backend/blockfile",
    "sql": "--enable-features=DiskCacheBackendExperiment:backend/sql",
    "sqlwal": "--enable-features=DiskCacheBackendExperiment:backend/sql/SqlDiskCacheWalMode/true",
}
# What the SQL variants write into their cache folder's index: three shards, and the journal mode.
SQL_INDEX = {"sql": b"SQLCacheTruncate3", "sqlwal": b"SQLCacheWal3"}

# Seconds to let a browser finish its cache writes after the page reported back.
SETTLE_SECONDS = 4.0
# Upper bounds; a healthy run takes a few seconds.
PAGE_TIMEOUT = 40.0
EXIT_TIMEOUT = 20.0


class BrowserMissing(RuntimeError):
    pass


# The dirty-entry run: a page whose second picture arrives slowly.
SLOW_PATH = "/slow/huge.bmp"
SLOW_RATE = 300 * 1024
SLOW_PICTURE = corpus.make_bmp(1000, 980, "slow")
DIRTY_PAGE = f"""<!doctype html>
<html><head><meta charset="utf-8"><title>slow</title></head><body>
<img src="/pics/photo.jpg"><img src="{SLOW_PATH}">
</body></html>
"""
# Bytes of the slow picture sent before the cache is caught mid-download.
DIRTY_AFTER_BYTES = 1_300_000

# The live run: a first session stores a few pictures ("warm"), a second one, with the same
# profile, adds a picture every 100-300 ms ("live").
LIVE_RUNS = tuple(f"{variant}-{phase}" for variant in SQL_VARIANTS for phase in ("warm", "live"))
LIVE_GAPS_MS = [100 + (n * 61) % 201 for n in range(corpus.LIVE_PICTURES)]


# ---------------------------------------------------------------------------------------------
# The server


def page_html(items: list[corpus.Item], browser: str) -> str:
    """The page: an <img> for every picture, fetch() for the video; once the load event has fired
    and every fetch is done it reports which pictures decoded. Firefox's window then closes
    itself, which quits Firefox cleanly and flushes its cache (it ignores SIGTERM for that)."""
    images = "\n".join(f'<img data-id="{it.id}" src="{html.escape(it.path)}">' for it in items if it.loaded_by == "img")
    fetches = json.dumps({it.id: it.path for it in items if it.loaded_by == "fetch"})
    failing = json.dumps([it.id for it in items if it.status != 200])
    close = "setTimeout(() => window.close(), %d);" % int(SETTLE_SECONDS * 1000) if browser == "firefox" else ""
    return f"""<!doctype html>
<html><head><meta charset="utf-8"><title>corpus</title></head><body>
{images}
<script>
const fetches = {fetches};
const failing = {failing};
const fetched = Promise.all(Object.entries(fetches).map(([id, path]) =>
  fetch(path).then(r => r.arrayBuffer()).then(b => [id, b.byteLength], () => [id, -1])));
const loaded = new Promise(resolve => window.addEventListener("load", resolve));
Promise.all([fetched, loaded]).then(([sizes]) => {{
  const broken = [...document.images].filter(i => !failing.includes(i.dataset.id))
                                   .filter(i => !i.complete || i.naturalWidth === 0).map(i => i.dataset.id);
  const q = new URLSearchParams({{browser: "{browser}", broken: broken.join(","),
                                  fetched: sizes.map(([id, n]) => id + ":" + n).join(",")}});
  return fetch("/loaded?" + q, {{cache: "no-store"}});
}}).finally(() => {{ {close} }});
</script>
</body></html>
"""


def live_page_html(items: list[corpus.Item], run: str) -> str:
    """The live page: an <img> every 100-300 ms, for the pictures of the run's phase (warm or
    live); when every picture has loaded or failed it reports which did not decode."""
    phase = run.rsplit("-", 1)[-1]
    paths = json.dumps([[it.id, it.path] for it in items if it.id.startswith(phase)])
    return f"""<!doctype html>
<html><head><meta charset="utf-8"><title>live</title></head><body>
<script>
const pictures = {paths};
const gaps = {json.dumps(LIVE_GAPS_MS)};
new Promise(resolve => {{
  const broken = [];
  let settled = 0, at = 0;
  const settle = (img, ok) => {{
    if (!ok || img.naturalWidth === 0) broken.push(img.dataset.id);
    if (++settled === pictures.length) resolve(broken);
  }};
  pictures.forEach(([id, path], n) => {{
    at += gaps[n];
    setTimeout(() => {{
      const img = new Image();
      img.dataset.id = id;
      img.onload = () => settle(img, true);
      img.onerror = () => settle(img, false);
      img.src = path;
      document.body.appendChild(img);
    }}, at);
  }});
}}).then(broken => fetch("/loaded?" + new URLSearchParams({{browser: "{run}", broken: broken.join(",")}}),
                        {{cache: "no-store"}}));
</script>
</body></html>
"""


class CorpusServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True

    def __init__(self, items: list[corpus.Item]):
        super().__init__(("127.0.0.1", 0), CorpusHandler)
        self.items = {it.path: it for it in items}
        self.item_list = items
        self.lock = threading.Lock()
        runs = (*BROWSERS, *LIVE_RUNS)
        self.requests: dict[str, list[dict]] = {b: [] for b in runs}  # per browser, every request
        self.reports: dict[str, dict] = {}
        self.reported = {b: threading.Event() for b in runs}
        self.current = None  # the browser now running; requests are put down to it
        self.slow_sent = 0  # bytes of the slow picture sent so far
        self.slow_stop = threading.Event()
        week_ago = time.time() - 7 * 86400
        self.last_modified = email.utils.formatdate(week_ago, usegmt=True)

    def lookup(self, path: str) -> corpus.Item | None:
        """The item at path, also when the browser percent-encoded it differently."""
        item = self.items.get(path)
        if item is None:
            wanted = urllib.parse.unquote(path)
            item = next((it for p, it in self.items.items() if urllib.parse.unquote(p) == wanted), None)
        return item

    @property
    def origin(self) -> str:
        return f"http://127.0.0.1:{self.server_address[1]}"


class CorpusHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server: CorpusServer

    def log_message(self, *args):  # keep the test's output readable
        pass

    def do_GET(self):
        server = self.server
        url = urllib.parse.urlsplit(self.path)
        item = server.lookup(self.path)
        with server.lock:
            if server.current:
                server.requests[server.current].append({"path": self.path, "item": item.id if item else None})
        if url.path == "/page.html":
            browser = urllib.parse.parse_qs(url.query).get("browser", [""])[0]
            body = page_html(server.item_list, browser).encode()
            # no-cache, not no-store: Firefox keeps a no-store page's pictures in memory only.
            self._send(200, "text/html; charset=utf-8", body, {"Cache-Control": "no-cache"})
            return
        if url.path == "/live.html":
            run = urllib.parse.parse_qs(url.query).get("browser", [""])[0]
            body = live_page_html(server.item_list, run).encode()
            self._send(200, "text/html; charset=utf-8", body, {"Cache-Control": "no-cache"})
            return
        if url.path == "/dirty.html":
            body = DIRTY_PAGE.encode()
            self._send(200, "text/html; charset=utf-8", body, {"Cache-Control": "no-cache"})
            return
        if url.path == SLOW_PATH:
            self._send_slowly(SLOW_PICTURE)
            return
        if url.path == "/loaded":
            query = urllib.parse.parse_qs(url.query)
            browser = query.get("browser", [""])[0]
            self._send(204, None, b"", {"Cache-Control": "no-store"})
            if browser in server.reported:
                server.reports[browser] = {k: v[0] for k, v in query.items()}
                server.reported[browser].set()
            return
        if item is None:
            self._send(404, "text/plain", b"not found", {"Cache-Control": "no-store"})
            return
        headers = {
            "Cache-Control": "public, max-age=86400",
            "Last-Modified": server.last_modified,
            "ETag": '"%s"' % hashlib.sha256(item.wire).hexdigest()[:16],
        }
        if item.encoding:
            headers["Content-Encoding"] = item.encoding
            headers["Vary"] = "Accept-Encoding"
        self._send(item.status, item.content_type, item.wire, headers)

    def _send_slowly(self, body: bytes):
        """A cacheable picture at SLOW_RATE bytes a second, so that a cache can be caught while
        its entry is being written."""
        self.send_response(200)
        self.send_header("Content-Type", "image/bmp")
        self.send_header("Cache-Control", "public, max-age=86400")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        step = SLOW_RATE // 10
        try:
            for at in range(0, len(body), step):
                if self.server.slow_stop.is_set():
                    break
                self.wfile.write(body[at:at + step])
                self.wfile.flush()
                self.server.slow_sent = at + step
                time.sleep(0.1)
        except OSError:
            pass  # the browser went away

    def _send(self, status: int, content_type: str | None, body: bytes, headers: dict[str, str]):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body:
            self.wfile.write(body)


# ---------------------------------------------------------------------------------------------
# The browsers

FIREFOX_PREFS = {
    "browser.cache.disk.enable": True,
    "browser.cache.memory.enable": True,
    "dom.allow_scripts_to_close_windows": True,
    "browser.shell.checkDefaultBrowser": False,
    "browser.startup.homepage_override.mstone": "ignore",
    "startup.homepage_welcome_url": "",
    "browser.aboutwelcome.enabled": False,
    "browser.tabs.warnOnClose": False,
    "browser.sessionstore.resume_from_crash": False,
    "datareporting.policy.dataSubmissionEnabled": False,
    "datareporting.healthreport.uploadEnabled": False,
    "toolkit.telemetry.enabled": False,
    "toolkit.telemetry.reportingpolicy.firstRun": False,
    "app.update.enabled": False,
    "app.update.auto": False,
    "extensions.update.enabled": False,
    "browser.search.update": False,
    "network.captive-portal-service.enabled": False,
    "network.connectivity-service.enabled": False,
    "network.proxy.type": 0,
    "network.prefetch-next": False,
    "network.dns.disablePrefetch": True,
    "browser.safebrowsing.malware.enabled": False,
    "browser.safebrowsing.phishing.enabled": False,
    "browser.safebrowsing.downloads.enabled": False,
    "browser.newtabpage.enabled": False,
    "services.settings.server": "http://127.0.0.1:9/",
}


def _pref_line(name: str, value) -> str:
    return f"user_pref({json.dumps(name)}, {json.dumps(value)});\n"


def find_executable(browser: str) -> str:
    path = shutil.which(EXECUTABLES[browser])
    if not path:
        raise BrowserMissing(f"{EXECUTABLES[browser]} is not on PATH; install it "
                             f"(scripts/packages.sh lists it) - the real-browser test cannot run without it")
    return path


def browser_command(browser: str, executable: str, root: Path, url: str) -> tuple[list[str], Path]:
    """The command line and the cache folder it fills."""
    if EXECUTABLES[browser] == "chromium":
        command = [executable, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                   "--no-first-run", "--no-default-browser-check", "--disable-background-networking",
                   "--disable-component-update", "--disable-sync", "--password-store=basic",
                   f"--user-data-dir={root / 'profile'}", f"--disk-cache-dir={root / 'cache'}", url]
        if browser in FEATURES:
            command.insert(1, FEATURES[browser])
        return command, root / "cache" / "Default" / "Cache" / "Cache_Data"
    profile = root / "profile"
    profile.mkdir(parents=True, exist_ok=True)
    prefs = dict(FIREFOX_PREFS)
    prefs["browser.cache.disk.parent_directory"] = str(root / "cache")
    (profile / "user.js").write_text("".join(_pref_line(k, v) for k, v in prefs.items()))
    command = [executable, "--headless", "--no-remote", "--profile", str(profile), url]
    return command, root / "cache" / "cache2"


def browser_env(root: Path) -> dict:
    """An environment that keeps the browser's configuration and caches inside root."""
    env = dict(os.environ)
    env.update(HOME=str(root / "home"), XDG_CONFIG_HOME=str(root / "config"), XDG_CACHE_HOME=str(root / "xdg-cache"),
               XDG_DATA_HOME=str(root / "data"), MOZ_HEADLESS="1")
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    for folder in ("home", "config", "xdg-cache", "data"):
        (root / folder).mkdir(parents=True, exist_ok=True)
    return env


def _network_service_pids(pgid: int) -> list[int]:
    """The browser's network-service processes (they own the disk cache) in process group pgid."""
    pids = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if os.getpgid(int(entry.name)) != pgid:
                continue
            if b"network.mojom.NetworkService" in (entry / "cmdline").read_bytes():
                pids.append(int(entry.name))
        except (OSError, ProcessLookupError):
            pass
    return pids


def make_dirty_blockfile_cache(workdir: Path) -> dict:
    """Chromium, in the blockfile format, loads a page whose second picture arrives slowly. While
    that picture downloads, the cache folder is copied ("copy"); then the network service that
    owns the cache is killed, which leaves the entry dirty as a crash does ("crashed"). Returns
    both folders, the two URLs, and the problems met making them."""
    executable = find_executable("blockfile")
    root = workdir / "blockfile-dirty"
    root.mkdir(parents=True, exist_ok=True)
    server = CorpusServer(corpus.build_corpus())
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    command, cache = browser_command("blockfile", executable, root, f"{server.origin}/dirty.html")
    copy = root / "copy-while-downloading"
    problems = []
    try:
        with open(root / "browser.log", "wb") as log:
            process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=browser_env(root),
                                       stdin=subprocess.DEVNULL, start_new_session=True)
            deadline = time.monotonic() + PAGE_TIMEOUT
            while server.slow_sent < DIRTY_AFTER_BYTES and time.monotonic() < deadline and process.poll() is None:
                time.sleep(0.1)
            if server.slow_sent < DIRTY_AFTER_BYTES:
                problems.append(f"the slow picture never got past {server.slow_sent} bytes (see {root / 'browser.log'})")
            time.sleep(0.5)
            if cache.is_dir():
                shutil.copytree(cache, copy)
            else:
                problems.append(f"no cache folder at {cache} while the picture downloaded")
            for pid in _network_service_pids(process.pid):
                os.kill(pid, signal.SIGKILL)
            time.sleep(0.5)
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            _wait_group_gone(process.pid)
    finally:
        server.slow_stop.set()
        server.shutdown()
        server.server_close()
    return {"copy": str(copy), "crashed": str(cache), "slow_url": server.origin + SLOW_PATH,
            "photo_url": server.origin + "/pics/photo.jpg", "problems": problems}


def run_browser(server: CorpusServer, browser: str, root: Path, while_running=None, run: str | None = None) -> dict:
    """Runs one browser over the page and ends it cleanly. Returns what happened. while_running,
    when given, is called with the cache folder after the page reported back and the browser
    settled, before it is ended; what it returns is kept as "while_running". run, when given,
    names a phase of a live run (LIVE_RUNS): the browser opens the live page instead, and logs
    to browser-<run>.log."""
    executable = find_executable(browser)
    root.mkdir(parents=True, exist_ok=True)
    run = run or browser
    page = "live.html" if run in LIVE_RUNS else "page.html"
    url = f"{server.origin}/{page}?browser={run}"
    command, cache = browser_command(browser, executable, root, url)
    env = browser_env(root)
    server.current = run
    started = time.monotonic()
    started_wall = time.time()
    log_path = root / ("browser.log" if run == browser else f"browser-{run}.log")
    with open(log_path, "wb") as log:
        process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=env,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        reported = server.reported[run].wait(PAGE_TIMEOUT)
        page_seconds = time.monotonic() - started
        live = None
        if browser != "firefox" and reported:
            time.sleep(SETTLE_SECONDS)
            if while_running:
                live = while_running(cache)
            process.send_signal(signal.SIGTERM)  # Chromium shuts down cleanly and writes its index
        # Firefox quits by itself when the page closes its window.
        clean_exit = True
        try:
            process.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            clean_exit = False
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        # Helper processes of the browser (its process group) must be gone before the cache is read.
        _wait_group_gone(process.pid)
    server.current = None
    report = server.reports.get(run, {})
    return {
        "executable": executable,
        "command": command,
        "while_running": live,
        "cache": str(cache),
        "reported": reported,
        "page_seconds": round(page_seconds, 2),
        "seconds": round(time.monotonic() - started, 2),
        # Local times to the second, in the form --since takes: every entry was used in between.
        "started_local": time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(started_wall)),
        "ended_local": time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(time.time())),
        "exit_code": process.returncode,
        "clean_exit": clean_exit and reported,
        "broken_pictures": [x for x in report.get("broken", "").split(",") if x],
        "fetched": report.get("fetched", ""),
        "log": str(log_path),
    }


def _wait_group_gone(pgid: int, timeout: float = 10.0) -> None:
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            os.killpg(pgid, 0)
        except ProcessLookupError:
            return
        time.sleep(0.1)
    try:
        os.killpg(pgid, signal.SIGKILL)
    except ProcessLookupError:
        pass


# ---------------------------------------------------------------------------------------------
# What the caches hold


def cache_entry_files(browser: str, cache: Path) -> list[Path]:
    """Chromium: the `*_0` entry files (never `todelete_*`); Firefox: `entries/*`; the blockfile
    format keeps its entries in shared files, reached through the index."""
    if browser == "blockfile":
        return [cache / "index"]
    if browser == "chromium":
        return sorted(p for p in cache.glob("*_0") if not p.name.startswith("todelete_"))
    return sorted(p for p in (cache / "entries").glob("*") if p.is_file())


def find_stored(browser: str, files: list[Path], url: str, wire: bytes) -> tuple[Path | None, str]:
    """The entry file whose key holds url and whose body is wire, and how the search went.

    Chromium puts the body right after the 24-byte header and the key, which ends with the URL;
    Firefox puts it at the start of the file. Bodies are stored as transferred (still encoded).
    """
    needle = url.encode()
    seen = []
    for path in files:
        data = path.read_bytes()
        at = data.find(needle)
        if at < 0:
            continue
        if browser == "chromium":
            # The key (length at offset 12) runs from offset 24 and ends with the URL.
            key_end = at + len(needle)
            key_length = int.from_bytes(data[12:16], "little") if len(data) >= 16 else -1
            ok = key_end == 24 + key_length and data[key_end:key_end + len(wire)] == wire
        else:
            # The key ends with the URL and a NUL, in the metadata after the body.
            ok = data[:len(wire)] == wire and data[at + len(needle):at + len(needle) + 1] == b"\0"
        if ok:
            return path, "stored"
        seen.append(path.name)
    if seen:
        return None, "key found in %s but the body there differs from what was served" % ", ".join(seen)
    return None, "no entry holds this URL"


def find_stored_blockfile(cache: Path, url: str, wire: bytes) -> tuple[str | None, str]:
    """The address (8 hex digits) of the clean entry whose key names url and whose stream 1 is wire."""
    store = blockfile_layout.Cache(cache)
    seen = []
    for entry in store.entries():
        if blockfile_layout.url_of(entry.key) != url:
            continue
        if entry.dirty == 0 and entry.state == 0 and store.stream(entry, 1) == wire:
            return "%08x" % entry.address, "stored"
        seen.append("%08x" % entry.address)
    if seen:
        return None, "key found at %s but not clean, or the body there differs from what was served" % ", ".join(seen)
    return None, "no entry holds this URL"


def find_stored_sql(entries: list[sql_layout.Entry], url: str, wire: bytes) -> tuple[str | None, str]:
    """The shard and row id ("sqldbK:res_id") of the complete entry for url whose body is wire."""
    seen = []
    for entry in entries:
        if entry.url != url:
            continue
        if entry.body == wire:
            return entry.address, "stored"
        seen.append(f"{entry.address} ({entry.problem or 'another body'})")
    if seen:
        return None, f"key found at {', '.join(seen)} but not complete, or the body differs from what was served"
    return None, "no entry holds this URL"


def read_sql_cache(browser: str, cache: Path) -> tuple[list[sql_layout.Entry], list[str]]:
    """The entries of an SQL cache once the browser has exited, and what is wrong with the folder:
    an index other than the variant's, or an entry whose key hash or checksums fail (a clean exit
    leaves none; entries still being written or cut short are only left out)."""
    variant = browser.removesuffix("-live")
    index = (cache / "index").read_bytes() if (cache / "index").is_file() else b""
    if index != SQL_INDEX[variant]:
        return [], [f"{browser}: the cache's index reads {index[:40]!r}, expected {SQL_INDEX[variant]!r} "
                    f"(did the browser take {FEATURES[variant]}?)"]
    entries = sql_layout.read_cache(cache)
    return entries, [f"{browser}: {e.address} {e.url}: {e.problem}" for e in entries if e.damaged]


def check_cache(browser: str, info: dict, items: list[corpus.Item], origin: str) -> list[str]:
    """Checks that every item was requested by the browser and sits complete in its cache.
    Fills info["entries"] and info["stored"]; returns the problems found."""
    problems = []
    cache = Path(info["cache"])
    if not cache.is_dir():
        return [f"{browser}: no cache folder at {cache}"]
    sql_entries = []
    sql = browser.removesuffix("-live") in SQL_VARIANTS
    if sql:
        sql_entries, problems = read_sql_cache(browser, cache)
        info["entry_files"] = len(sql_entries)
        info["complete_entries"] = sum(1 for e in sql_entries if e.body is not None)
        info["files"] = sorted(p.name for p in cache.iterdir())
    else:
        files = cache_entry_files(browser, cache)
        info["entry_files"] = len(blockfile_layout.Cache(cache).entries()) if browser == "blockfile" else len(files)
    info["stored"] = {}
    sent = {r["item"]: r["path"] for r in info.get("requests", []) if r["item"]}
    for item in items:
        if item.id not in sent:
            problems.append(f"{browser}: never requested {item.path}")
            continue
        if browser == "blockfile":
            found, how = find_stored_blockfile(cache, origin + sent[item.id], item.wire)
        elif sql:
            found, how = find_stored_sql(sql_entries, origin + sent[item.id], item.wire)
        else:
            path, how = find_stored(browser, files, origin + sent[item.id], item.wire)
            found = path.name if path else None
        if found is None:
            problems.append(f"{browser}: {item.path}: {how}")
        else:
            info["stored"][item.id] = found
    if info.get("broken_pictures"):
        problems.append(f"{browser}: pictures that did not decode: {', '.join(info['broken_pictures'])}")
    if not info.get("reported"):
        problems.append(f"{browser}: the page never reported back (see {info['log']})")
    elif not info.get("clean_exit"):
        problems.append(f"{browser}: did not exit by itself within {EXIT_TIMEOUT:.0f} s; killed")
    return problems


# ---------------------------------------------------------------------------------------------
# The manifest


def write_corpus(items: list[corpus.Item], folder: Path) -> None:
    folder.mkdir(parents=True, exist_ok=True)
    for item in items:
        (folder / f"{item.id}.bin").write_bytes(item.body)


def item_manifest(item: corpus.Item, origin: str, corpus_dir: Path) -> dict:
    url = origin + item.path
    return {
        "id": item.id,
        "path": item.path,
        "url": url,
        "status": item.status,
        "content_type": item.content_type,
        "content_encoding": item.encoding,
        "loaded_by": item.loaded_by,
        "size": len(item.body),
        "sha256": hashlib.sha256(item.body).hexdigest(),
        "wire_size": len(item.wire),
        "wire_sha256": hashlib.sha256(item.wire).hexdigest(),
        "body_file": str(corpus_dir / f"{item.id}.bin"),
        "expected_name": corpus.harvested_name(url, item.path, item.content_type, len(item.body),
                                               HARVEST_EXT_LIST, HARVEST_MIN_KB, item.status),
        "note": item.note,
    }


def make_caches(workdir: Path, browsers: list[str], log=print, while_running=None) -> tuple[dict, list[str]]:
    """Serves the corpus to each browser in turn; returns the manifest and the problems found.
    Raises BrowserMissing before anything starts when a browser is not installed. while_running
    maps a browser to a call made on its cache while it still runs (see run_browser)."""
    for browser in browsers:
        find_executable(browser)
    workdir.mkdir(parents=True, exist_ok=True)
    items = corpus.build_corpus()
    corpus_dir = workdir / "corpus"
    write_corpus(items, corpus_dir)
    server = CorpusServer(items)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    problems: list[str] = []
    manifest = {
        "format": 1,
        "origin": server.origin,
        "harvest": {"ext": HARVEST_EXT_LIST, "min_kb": HARVEST_MIN_KB},
        "items": [item_manifest(it, server.origin, corpus_dir) for it in items],
        "browsers": {},
    }
    try:
        for browser in browsers:
            # A browser on a loaded machine now and then leaves an entry unwritten when it shuts
            # down (Chromium's blockfile cache, the 404 page): that browser gets one fresh run more.
            # Two runs in a row that fall short fail.
            for attempt in range(2):
                root = workdir / (browser if attempt == 0 else f"{browser}-again")
                server.requests[browser] = []
                server.reports.pop(browser, None)
                server.reported[browser] = threading.Event()
                info = run_browser(server, browser, root, (while_running or {}).get(browser))
                info["requests"] = list(server.requests[browser])
                browser_problems = check_cache(browser, info, items, server.origin)
                if not browser_problems:
                    break
                log(f"{browser} fell short on run {attempt + 1}: {'; '.join(browser_problems)}")
            problems += browser_problems
            info["requested"] = {r["item"]: r["path"] for r in info["requests"] if r["item"]}
            info["other_requests"] = sorted({r["path"] for r in info["requests"] if not r["item"]})
            del info["requests"]
            manifest["browsers"][browser] = info
            log(f"{browser}: {info['seconds']:.1f} s (page reported after {info['page_seconds']:.1f} s), "
                f"{info.get('entry_files', 0)} entry files, {len(info.get('stored', {}))}/{len(items)} corpus items stored")
    finally:
        server.shutdown()
        server.server_close()
    (workdir / "manifest.json").write_text(json.dumps(manifest, indent=2, ensure_ascii=False) + "\n")
    return manifest, problems


def make_live_cache(workdir: Path, variant: str, on_ready=None, before_exit=None, attempts: int = 1,
                    log=print) -> tuple[dict, list[str]]:
    """The live run of one SQL variant, two sessions of Chromium with one fresh profile. The
    first stores the warm pictures and is ended; on_ready(cache) is then called (a harvest may
    start watching the cache before the browser opens it again). The second session adds the
    live pictures one by one; when all have loaded and the browser has settled, before_exit(cache)
    is called, the browser is ended cleanly and its cache read from private copies of its shards.
    Returns what happened ("stored": picture id -> entry of each picture stored complete, warm
    ones included; "complete_entries": complete entries of any kind; "files": the names in the
    cache folder) and the problems found. attempts > 1 runs again (a fresh profile) while the
    browser falls short; a run watched by a harvest gets one attempt only."""
    find_executable(variant)
    items = corpus.build_live_pictures(corpus.WARM_PICTURES, "warm") + corpus.build_live_pictures()
    corpus_dir = workdir / "live-corpus"
    write_corpus(items, corpus_dir)
    server = CorpusServer(items)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        for attempt in range(attempts):
            root = workdir / (f"{variant}-live" if attempt == 0 else f"{variant}-live-again")
            shutil.rmtree(root, ignore_errors=True)  # a fresh profile, also when the work folder is reused
            for phase in ("warm", "live"):
                run = f"{variant}-{phase}"
                server.requests[run] = []
                server.reports.pop(run, None)
                server.reported[run] = threading.Event()
                info = run_browser(server, variant, root, before_exit if phase == "live" else None, run=run)
                info["requests"] = list(server.requests[run])
                if phase == "warm":
                    warm, problems = info, []
                    if not info["reported"]:
                        problems.append(f"{run}: the page never reported back (see {info['log']})")
                    if not sql_layout.is_sql_cache(Path(info["cache"])):
                        problems.append(f"{run}: no SQL cache at {info['cache']}")
                    if problems:
                        break
                    if on_ready:
                        on_ready(Path(info["cache"]))
            if not problems:
                info["requests"] += warm["requests"]
                problems = check_cache(run, info, items, server.origin)
            if not problems:
                break
            log(f"{variant} live run fell short on run {attempt + 1}: {'; '.join(problems)}")
    finally:
        server.shutdown()
        server.server_close()
    info["origin"] = server.origin
    info["items"] = [item_manifest(it, server.origin, corpus_dir) for it in items]
    info.pop("requests", None)
    return info, problems


def main(argv: list[str]) -> int:
    sys.stdout.reconfigure(line_buffering=True)  # keep progress and failures in order in logs
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--workdir", required=True, type=Path, help="folder for profiles, caches and the manifest")
    parser.add_argument("--browser", choices=[*BROWSERS, "all"], nargs="+", default=["all"])
    parser.add_argument("--blockfile", action="store_true", help="only Chromium, in the blockfile cache format")
    parser.add_argument("--sql", action="store_true", help="only Chromium, in both variants of its SQL cache backend")
    parser.add_argument("--live", choices=SQL_VARIANTS, help="only the live run of one SQL variant, without a harvest")
    args = parser.parse_args(argv)
    browsers = list(BROWSERS) if "all" in args.browser else args.browser
    if args.blockfile:
        browsers = ["blockfile"]
    if args.sql:
        browsers = list(SQL_VARIANTS)
    if args.live:
        try:
            info, problems = make_live_cache(args.workdir.resolve(), args.live, attempts=2,
                                             log=lambda s: print(s, file=sys.stderr))
        except BrowserMissing as missing:
            print(f"error: {missing}", file=sys.stderr)
            return 1
        print(f"{args.live} {info['cache']}")
        pictures = corpus.WARM_PICTURES + corpus.LIVE_PICTURES
        print(f"{len(info.get('stored', {}))}/{pictures} pictures stored, {info.get('complete_entries')} complete "
              f"entries, {info['seconds']:.1f} s", file=sys.stderr)
        for problem in problems:
            print(f"error: {problem}", file=sys.stderr)
        return 1 if problems else 0
    try:
        manifest, problems = make_caches(args.workdir.resolve(), browsers, log=lambda s: print(s, file=sys.stderr))
    except BrowserMissing as missing:
        print(f"error: {missing}", file=sys.stderr)
        return 1
    for browser, info in manifest["browsers"].items():
        print(f"{browser} {info['cache']}")
    print(f"manifest {args.workdir.resolve() / 'manifest.json'}", file=sys.stderr)
    for problem in problems:
        print(f"error: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
