#!/usr/bin/env python3
"""The window as a person uses it: start tavrin, type a destination, press 開始, browse, close.

Under Xvfb (the script starts itself under xvfb-run when no display of its own is set), a copy of
the real `tavrin` runs from a program folder of its own, with HOME and the XDG folders inside the
work folder. xdotool types the destination into cboFolder and clicks 開始; headless Chromium then
browses the corpus page (browser_cache.py) with its profile under $XDG_CONFIG_HOME/chromium, so
that its cache lands where discovery looks ($XDG_CACHE_HOME/chromium/Default/Cache/Cache_Data).
The next tick must copy every picture the window's default settings admit, byte for byte what
was served and under the name the rules give it, with nothing else in the folder; each copied
picture must be shown as a thumbnail and the screenshot of the pane must not be blank. The status
line must say that the capture runs and how many files it copied, and after 停止 that it stopped, with the same total. Closing the window as a window manager
does must leave "Folders.txt" (the destination first) and "Settings.txt" in the program folder.

    test_window_end_to_end.py --tavrin build/bin/tavrin --trace-library build/tests/integration/libtavrin_window_trace.so \
        --workdir DIR

The window's status line and the thumbnails it shows are read through a library preloaded into the
program (WindowTrace.cpp), which says each on standard error and changes nothing.

With --wine-fetcher, the same steps drive the Windows build instead: `tavrin.exe` (the program with
the trace linked in, tavrin-traced.exe, since the static build loads nothing) runs under Wine
(in the prefix WINEPREFIX names) as a real Windows window, in a Traditional Chinese locale (ANSI
code page 950); the destination has Chinese characters in its name; the pictures reach the
system's URL cache through WinInet (the fetcher given) instead of a browser; the destination is
typed with Unicode key events from inside the prefix (tavrin-type-text.exe, beside the fetcher),
since Wine makes characters only of keys its keyboard layout has; and "Folders.txt" must hold the
destination in the ANSI code page.

A missing browser, Wine, Xvfb or xdotool is a failure, never a skip. The screenshot is kept as
DIR/window.png, and the window alone, during the capture, as DIR/window-only.png. Exit status 0 when everything matched, 1 otherwise.
"""
from __future__ import annotations

import argparse
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

sys.dont_write_bytecode = True  # leave no __pycache__ in the source tree
sys.path.insert(0, str(Path(__file__).resolve().parent))
import browser_cache  # noqa: E402
import corpus  # noqa: E402

# What the window harvests on a first run: its default extension list and minimum size.
WINDOW_EXT_LIST = "*.jpg;*.jpeg;*.bmp;*.gif;*.flv"
WINDOW_MIN_KB = 25
SCREEN = "-screen 0 1280x1024x24"
# The window is enlarged so that the pane shows every copy at once (only what is in view is
# decoded); the controls keep their design places, in pixels from the client area's corner.
WINDOW_SIZE = (1200, 900)
TWIPS_PER_PIXEL = 15
CONTROL_TWIPS = {"cboFolder": (1560, 120, 4692, 276), "cmdStart": (6960, 120, 975, 375),
                 "cmdStop": (8040, 120, 975, 375), "txtFileExtList": (3840, 600, 5172, 375)}

PANE_TOP_TWIPS = 1080
TICK_SECONDS = 6
COPY_WAIT_SECONDS = 3 * TICK_SECONDS + 10


class Failure(Exception):
    pass


def log(message: str) -> None:
    print(message, flush=True)


def run(command: list[str], timeout: float = 20, **kwargs) -> str:
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=timeout, **kwargs)
    except FileNotFoundError:
        raise Failure(f"{command[0]} is not installed (scripts/packages.sh lists it)")
    except subprocess.TimeoutExpired:
        raise Failure(f"{' '.join(command)} did not finish within {timeout:.0f} s")
    if result.returncode != 0:
        raise Failure(f"{' '.join(command)} failed ({result.returncode}): {result.stderr.strip()}")
    return result.stdout


def control_centre(origin: tuple[int, int], name: str, along: float = 0.5) -> tuple[int, int]:
    left, top, width, height = CONTROL_TWIPS[name]
    x = origin[0] + round((left + width * along) / TWIPS_PER_PIXEL)
    y = origin[1] + round((top + height / 2) / TWIPS_PER_PIXEL)
    return x, y


def click(x: int, y: int) -> None:
    run(["xdotool", "mousemove", "--sync", str(x), str(y)])
    run(["xdotool", "click", "1"])


def type_into(origin: tuple[int, int], control: str, text: str, target) -> None:
    """Replaces the text of a field as a person does: click, select all, type."""
    click(*control_centre(origin, control, along=0.3))
    run(["xdotool", "key", "--clearmodifiers", "ctrl+a"])
    target.type_text(text)


def close_window(window: int) -> None:
    """Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW)."""
    library = ctypes.util.find_library("X11")
    if not library:
        raise Failure("libX11 is missing; the window cannot be asked to close")
    x11 = ctypes.cdll.LoadLibrary(library)
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("message", ClientMessage), ("pad", ctypes.c_long * 24)]

    display = x11.XOpenDisplay(None)
    if not display:
        raise Failure("cannot open the display to close the window")
    event = Event()
    event.message.type = 33  # ClientMessage
    event.message.window = window
    event.message.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    event.message.format = 32
    event.message.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
    event.message.data[1] = 0  # CurrentTime
    x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
    x11.XFlush(display)
    x11.XCloseDisplay(display)


def screenshot(workdir: Path) -> tuple[Path, bytes, int, int]:
    """The whole screen as window.png (kept) and as raw RGB pixels for the checks."""
    png = workdir / "window.png"
    run(["import", "-window", "root", str(png)], timeout=30)
    ppm = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], capture_output=True, timeout=30)
    if ppm.returncode != 0:
        raise Failure(f"import failed: {ppm.stderr.decode(errors='replace').strip()}")
    data = ppm.stdout
    # P6 <width> <height> <maxval> then the pixels
    parts = data.split(maxsplit=4)
    if parts[0] != b"P6" or parts[3] != b"255":
        raise Failure("import did not give an 8-bit PPM")
    return png, parts[4], int(parts[1]), int(parts[2])


def colours_in(pixels: bytes, screen_width: int, box: tuple[int, int, int, int]) -> int:
    left, top, right, bottom = box
    seen = set()
    for y in range(top, bottom):
        row = pixels[(y * screen_width + left) * 3:(y * screen_width + right) * 3]
        seen.update(row[i:i + 3] for i in range(0, len(row), 3))
    return len(seen)


def run_chromium(server: browser_cache.CorpusServer, env: dict, profile: Path, log_path: Path) -> dict:
    """Chromium over the corpus page with the profile given and no cache folder of its own, so
    that it keeps its cache in the user's cache folder; ends it cleanly so its cache is flushed."""
    executable = browser_cache.find_executable("chromium")
    url = f"{server.origin}/page.html?browser=chromium"
    command = [executable, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
               "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
               "--disable-sync", "--password-store=basic", f"--user-data-dir={profile}", url]
    browser_env = dict(env)
    browser_env.pop("DISPLAY", None)
    server.current = "chromium"
    with open(log_path, "wb") as out:
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT, env=browser_env,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        reported = server.reported["chromium"].wait(browser_cache.PAGE_TIMEOUT)
        if reported:
            time.sleep(browser_cache.SETTLE_SECONDS)
        process.send_signal(signal.SIGTERM)
        clean = True
        try:
            process.wait(browser_cache.EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            clean = False
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
        browser_cache._wait_group_gone(process.pid)
    server.current = None
    report = server.reports.get("chromium", {})
    return {"reported": reported, "clean_exit": clean and reported, "log": str(log_path),
            "broken_pictures": [x for x in report.get("broken", "").split(",") if x],
            "requests": list(server.requests["chromium"])}


def expected_copies(origin: str, items: list[corpus.Item]) -> dict[str, corpus.Item]:
    expected = {}
    for item in items:
        name = corpus.harvested_name(origin + item.path, item.path, item.content_type, len(item.body),
                                     WINDOW_EXT_LIST, WINDOW_MIN_KB, item.status)
        if name:
            expected[name] = item
    return expected


def folder_problems(dest: Path, expected: dict[str, corpus.Item]) -> list[str]:
    """What the destination lacks, holds wrongly, or holds beyond the copies expected."""
    problems = []
    present = {p.name: p for p in dest.iterdir()} if dest.is_dir() else {}
    for name, item in sorted(expected.items()):
        if name not in present:
            problems.append(f"missing {name!r} ({item.path})")
        elif present[name].read_bytes() != item.body:
            problems.append(f"{name!r} differs from what was served at {item.path}")
    for name in sorted(set(present) - set(expected)):
        problems.append(f"unexpected {name!r} in the destination")
    return problems


def shown_thumbnails(log_path: Path, encoding: str) -> set[str]:
    """The names of the files the window reported as shown (paths in the system's 8-bit text)."""
    text = log_path.read_bytes().decode(encoding, errors="replace") if log_path.exists() else ""
    return {re.split(r"[/\\]", line.split(": ", 1)[1])[-1] for line in text.splitlines()
            if line.startswith("thumbnail shown: ")}


def last_status(log_path: Path) -> str:
    """What the window's status line said last (UTF-8 text, as the window trace reports it)."""
    data = log_path.read_bytes() if log_path.exists() else b""
    said = [line[len(b"status: "):] for line in data.splitlines() if line.startswith(b"status: ")]
    return said[-1].decode("utf-8", errors="replace").rstrip("\r") if said else ""


def wait_for(condition, seconds: float, step: float = 0.5) -> bool:
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class LinuxWindow:
    """The Linux build: Chromium fills the cache discovery finds under XDG_CACHE_HOME."""
    text_encoding = "utf-8"
    ext_list = None  # the window's default list is kept
    thumbnail_types = {"image/jpeg", "image/png", "image/gif", "image/bmp", "image/webp"}

    def __init__(self, tavrin: Path, workdir: Path, trace_library: Path):
        browser_cache.find_executable("chromium")
        self.workdir = workdir
        self.program = workdir / "program"
        self.home = workdir / "home"
        for folder in (self.program, self.home):
            folder.mkdir(parents=True)
        self.executable = self.program / "tavrin"
        shutil.copy2(tavrin, self.executable)
        self.env = dict(os.environ)
        self.env.update(HOME=str(self.home), XDG_CACHE_HOME=str(self.home / ".cache"),
                        XDG_CONFIG_HOME=str(self.home / ".config"), XDG_DATA_HOME=str(self.home / ".local/share"))
        self.env.pop("QT_QPA_PLATFORM", None)
        # Only the window gets the trace; the browser runs as it is.
        self.window_env = dict(self.env, LD_PRELOAD=str(trace_library))
        self.dest = workdir / "captured" / "pictures"
        self.typed_dest = str(self.dest)

    def command(self) -> list[str]:
        return [str(self.executable)]

    def type_text(self, text: str) -> None:
        run(["xdotool", "type", "--delay", "15", text], timeout=60)

    def fill_cache(self) -> tuple[dict[str, corpus.Item], list[str]]:
        """Browses the corpus; returns the copies the window must make, and what went wrong."""
        items = corpus.build_corpus()
        server = browser_cache.CorpusServer(items)
        serving = threading.Thread(target=server.serve_forever, daemon=True)
        serving.start()
        try:
            info = run_chromium(server, self.env, self.home / ".config" / "chromium", self.workdir / "chromium.log")
        finally:
            server.shutdown()
            server.server_close()
        cache = self.home / ".cache" / "chromium" / "Default" / "Cache" / "Cache_Data"
        if not cache.is_dir():
            found = sorted(str(p) for p in self.workdir.rglob("Cache_Data"))
            raise Failure(f"Chromium's cache is not at {cache}, where discovery looks; found: {found or 'none'}")
        info["cache"] = str(cache)
        # Only what the window must copy needs to be in the cache here; whether the browser stored
        # the other items (a 404, a too-small picture) in time does not bear on this test.
        expected = expected_copies(server.origin, items)
        problems = browser_cache.check_cache("chromium", info, list(expected.values()), server.origin)
        log(f"chromium done; cache at {cache} ({info.get('entry_files', 0)} entry files)")
        return expected, [f"browser did not cache the corpus: {p}" for p in problems]


class WineWindow:
    """The Windows build under Wine: WinInet's URL cache is filled by fetching the corpus."""
    # Traditional Chinese: the ANSI code page is 950, so names with Chinese characters are ANSI text.
    locale = "zh_TW.UTF-8"
    text_encoding = "cp950"
    # Wine keeps fetched files without an extension ("photo[0]"), so "*." admits them.
    ext_list = "*.;" + WINDOW_EXT_LIST
    # Qt's own readers only: the static Windows build carries no WebP reader.
    thumbnail_types = {"image/jpeg", "image/png", "image/gif", "image/bmp"}

    def __init__(self, tavrin: Path, workdir: Path, fetcher: Path):
        if not shutil.which("wine") or not os.environ.get("WINEPREFIX"):
            raise Failure("Wine and a prefix (WINEPREFIX) are needed: scripts/test-windows.sh sets them up")
        self.workdir = workdir
        self.fetcher = fetcher
        self.typist = fetcher.with_name("tavrin-type-text.exe")
        self.program = workdir / "program"
        self.program.mkdir(parents=True)
        self.executable = self.program / "tavrin.exe"
        shutil.copy2(tavrin, self.executable)
        self.env = dict(os.environ, LANG=self.locale, LC_ALL=self.locale)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.window_env = self.env
        self.dest = workdir / "擷取" / "圖片"
        self.typed_dest = run(["winepath", "-w", str(self.dest)], env=self.env).strip()
        self.wait_for_desktop_on_this_display()

    def desktop_displays(self) -> dict[int, str]:
        """The display of each desktop process (explorer.exe /desktop) running in this prefix."""
        prefix = os.environ["WINEPREFIX"].encode()
        found = {}
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                command = (entry / "cmdline").read_bytes()
                environ = (entry / "environ").read_bytes().split(b"\0")
            except OSError:
                continue
            if b"explorer.exe" in command and b"/desktop" in command and b"WINEPREFIX=" + prefix in environ:
                display = next((v[len(b"DISPLAY="):] for v in environ if v.startswith(b"DISPLAY=")), b"")
                found[int(entry.name)] = display.decode(errors="replace")
        return found

    def wait_for_desktop_on_this_display(self) -> None:
        """Wine's desktop process keeps the display of the program that started it and lingers a few
        seconds after the last one ends; the window goes wherever it is. One left from a program run
        without a display, or on another, is waited out (a new one starts on this display)."""
        ours = os.environ.get("DISPLAY", "")
        if not wait_for(lambda: all(d == ours for d in self.desktop_displays().values()), 30):
            raise Failure(f"Wine's desktop process for this prefix stays on display(s) "
                          f"{sorted(set(self.desktop_displays().values()))}, not ours ({ours!r}): the window "
                          f"would not be seen; run the Wine steps on one display (scripts/test-windows.sh)")

    def command(self) -> list[str]:
        # Qt's default font engine on Windows, as users run it. (Under Wine it draws the labels and
        # thumbnail names but no text in the edit fields; "-platform windows:fontengine=freetype"
        # draws those and loses most thumbnail names. Windows itself draws both.)
        return ["wine", str(self.executable)]

    def type_text(self, text: str) -> None:
        # Wine turns an X key event into a character only when the keyboard layout has it, so
        # Chinese characters are typed as Windows types them from an input method: Unicode key
        # events, sent from inside the prefix.
        run(["wine", str(self.typist), text], timeout=60, env=self.env)

    def fill_cache(self) -> tuple[dict[str, corpus.Item], list[str]]:
        # Pictures served plainly (WinInet keeps what came over the wire), and one under the
        # minimum size that must not be copied.
        items = [it for it in corpus.build_corpus()
                 if it.status == 200 and not it.encoding and it.content_type.startswith("image/")
                 and (len(it.body) >= WINDOW_MIN_KB * 1024 or it.id == "small")]
        server = browser_cache.CorpusServer(items)
        serving = threading.Thread(target=server.serve_forever, daemon=True)
        serving.start()
        try:
            urls = {server.origin + it.path: it for it in items}
            listing = run(["wine", str(self.fetcher), *urls], timeout=120, env=self.env)
        finally:
            server.shutdown()
            server.server_close()
        expected: dict[str, corpus.Item] = {}
        problems = []
        for line in listing.replace("\r", "").splitlines():
            url, got, local_path = line.split("\t")
            item = urls[url]
            if int(got) != len(item.body):
                problems.append(f"WinInet fetched {got} bytes of {url}, not {len(item.body)}")
            if not local_path:
                problems.append(f"WinInet kept no file for {url}")
                continue
            # The copy's name: the cache file's, lower-cased, without "[1]".
            name = local_path.rsplit("\\", 1)[-1].lower().replace("[1]", "")
            if len(item.body) >= WINDOW_MIN_KB * 1024:
                expected[name] = item
        log(f"WinInet cached {len(expected)} pictures to copy")
        return expected, problems


def end_to_end(target, workdir: Path) -> list[str]:
    for tool in ("xdotool", "import"):
        if not shutil.which(tool):
            raise Failure(f"{tool} is not installed (scripts/packages.sh lists it)")
    dest = target.dest
    tavrin_log = workdir / "tavrin.log"

    problems: list[str] = []
    with open(tavrin_log, "wb") as out:
        window_process = subprocess.Popen(target.command(), cwd=str(workdir), env=target.window_env, stdout=out,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    try:
        window = int(run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tavrin "], timeout=60).split()[0])
        run(["xdotool", "windowmove", "--sync", str(window), "0", "0"])
        run(["xdotool", "windowsize", "--sync", str(window), *map(str, WINDOW_SIZE)])
        geometry = dict(line.split("=", 1) for line in run(["xdotool", "getwindowgeometry", "--shell", str(window)]).split())
        origin = (int(geometry["X"]), int(geometry["Y"]))
        log(f"window {window} at {origin}, {geometry['WIDTH']}x{geometry['HEIGHT']}")

        # The destination typed over the proposed folder, the extension list where the platform
        # needs another, then 開始.
        run(["xdotool", "windowfocus", "--sync", str(window)])
        type_into(origin, "cboFolder", target.typed_dest, target)
        if target.ext_list:
            type_into(origin, "txtFileExtList", target.ext_list, target)
        click(*control_centre(origin, "cmdStart"))
        if not wait_for(dest.is_dir, 10):
            raise Failure(f"開始 did not create the typed destination {dest}")
        log(f"capturing into {dest}")
        time.sleep(1.5)  # the pages visited from here on were used after the capture started

        expected, cache_problems = target.fill_cache()
        problems += cache_problems
        pictures = {name for name, item in expected.items() if item.content_type in target.thumbnail_types}
        shown = lambda: shown_thumbnails(tavrin_log, target.text_encoding)  # noqa: E731
        copied = f"已擷取 {len(expected)} 個檔案"
        wait_for(lambda: not folder_problems(dest, expected) and pictures <= shown()
                 and copied in last_status(tavrin_log), COPY_WAIT_SECONDS)
        problems += folder_problems(dest, expected)
        missing_thumbnails = sorted(pictures - shown())
        if missing_thumbnails:
            problems.append(f"copies never shown as thumbnails: {missing_thumbnails}")
        if window_process.poll() is not None:
            raise Failure(f"tavrin ended by itself (status {window_process.returncode}); see {tavrin_log}")

        time.sleep(1)  # the last thumbnails painted
        png, pixels, screen_width, _ = screenshot(workdir)
        pane = (origin[0] + 8, origin[1] + round(PANE_TOP_TWIPS / TWIPS_PER_PIXEL),
                origin[0] + WINDOW_SIZE[0] - 8, origin[1] + WINDOW_SIZE[1] - 8)
        colours = colours_in(pixels, screen_width, pane)
        log(f"screenshot: {png} ({colours} colours in the pane)")
        # An empty or icon-only pane has a few dozen colours; the noise pictures bring thousands.
        if colours < 1000:
            problems.append(f"the pane looks blank in the screenshot ({colours} colours): {png}")
        run(["import", "-window", str(window), str(workdir / "window-only.png")], timeout=30)

        status = last_status(tavrin_log)
        log(f"status line: {status}")
        if not status.startswith("擷取中：") or copied not in status or "失敗" in status:
            problems.append(f"the status line says {status!r} during the capture, not 擷取中 with {copied!r}")
        click(*control_centre(origin, "cmdStop"))
        stopped = f"已停止：本次擷取共 {len(expected)} 個檔案"
        if not wait_for(lambda: last_status(tavrin_log) == stopped, 10):
            problems.append(f"after 停止 the status line says {last_status(tavrin_log)!r}, not {stopped!r}")

        close_window(window)
        try:
            status = window_process.wait(30)
        except subprocess.TimeoutExpired:
            raise Failure("the window did not close when asked to")
        if status != 0:
            problems.append(f"tavrin ended with status {status} after closing; see {tavrin_log}")
    finally:
        if window_process.poll() is None:
            window_process.kill()
            window_process.wait()

    folders = target.program / "Folders.txt"
    settings = target.program / "Settings.txt"
    if not folders.is_file():
        problems.append(f"no {folders} after closing")
    else:
        first = folders.read_bytes().split(b"\r\n")[0]
        if first != target.typed_dest.encode(target.text_encoding):
            problems.append(f"Folders.txt starts with {first!r}, expected the destination {target.typed_dest!r} "
                            f"in {target.text_encoding}")
    ext_list = target.ext_list or WINDOW_EXT_LIST
    if not settings.is_file():
        problems.append(f"no {settings} after closing")
    elif settings.read_bytes() != f"fsizelimit={WINDOW_MIN_KB}\r\nfextlist={ext_list}".encode():
        problems.append(f"Settings.txt holds {settings.read_bytes()!r}")
    return problems


def main(argv: list[str]) -> int:
    sys.stdout.reconfigure(line_buffering=True)
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tavrin", required=True, type=Path, help="the tavrin executable")
    parser.add_argument("--workdir", required=True, type=Path, help="emptied, then holds everything, kept")
    parser.add_argument("--wine-fetcher", type=Path,
                        help="drive the Windows build under Wine; this program fetches through WinInet")
    parser.add_argument("--trace-library", type=Path,
                        help="the window trace to preload into tavrin (needed on Linux)")
    args = parser.parse_args(argv)

    if os.environ.get("TAVRIN_E2E_DISPLAY") != "1":
        # A display of our own, so nothing else on it takes the clicks. (Under Wine, a caller that
        # ran other Wine programs on a display of its own sets TAVRIN_E2E_DISPLAY=1 and runs this on
        # that display, so the prefix's desktop process is there.)
        if not shutil.which("xvfb-run"):
            print("FAIL: xvfb-run is not installed (scripts/packages.sh lists xvfb)", file=sys.stderr)
            return 1
        env = dict(os.environ, TAVRIN_E2E_DISPLAY="1")
        return subprocess.call(["xvfb-run", "-a", "-s", SCREEN, sys.executable, __file__, *argv], env=env)

    tavrin = args.tavrin.resolve()
    if not tavrin.is_file():
        print(f"FAIL: {tavrin} is not a file", file=sys.stderr)
        return 1
    workdir = args.workdir.resolve()
    shutil.rmtree(workdir, ignore_errors=True)
    workdir.mkdir(parents=True)
    started = time.monotonic()
    try:
        if args.wine_fetcher:
            target = WineWindow(tavrin, workdir, args.wine_fetcher.resolve())
        else:
            if not args.trace_library or not args.trace_library.is_file():
                raise Failure(f"the window trace library {args.trace_library} is not a file (--trace-library)")
            target = LinuxWindow(tavrin, workdir, args.trace_library.resolve())
        problems = end_to_end(target, workdir)
    except (Failure, browser_cache.BrowserMissing) as failure:
        problems = [str(failure)]
    for problem in problems:
        print(f"FAIL: {problem}", file=sys.stderr)
    print(f"total {time.monotonic() - started:.1f} s; work folder {workdir}; screenshot {workdir / 'window.png'}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
