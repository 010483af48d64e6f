#!/usr/bin/env bash
# Cross-compiles the Qt-free core and its tests for 64-bit Windows into build-mingw/ and runs the
# tests under Wine, in a fresh Wine prefix that is removed afterwards, against Wine's real WinInet
# URL cache and a picture server on 127.0.0.1, on an Xvfb display of its own. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_install_test_packages

BUILD=build-mingw
started=$(date +%s)

QT_MINGW=$(scripts/build-qt-mingw.sh)
SQLITE_MINGW=$(scripts/build-sqlite-mingw.sh)
cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAVRIN_LAUNCHER[@]}" \
  -DTAVRIN_QT_MINGW_PREFIX="$QT_MINGW" -DTAVRIN_SQLITE_MINGW_PREFIX="$SQLITE_MINGW" \
  -DTAVRIN_BUILD_GUI=ON -DTAVRIN_BUILD_BENCH=OFF -DTAVRIN_BUILD_FUZZ=OFF -DTAVRIN_BUILD_TESTS=ON
cmake --build "$BUILD" -j2

# A prefix of our own, so nothing of the user's ~/.wine is read or changed, and every run starts
# with an empty URL cache.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-wine.XXXXXX")
server_pid=""
xvfb_pid=""
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT

export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# WinInet must reach 127.0.0.1 directly, whatever proxy the machine is set up with; and nothing
# here may open a window on the user's display.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"

# One display for every Wine process of the run, there before the prefix boots. The prefix's
# desktop process (explorer.exe /desktop) takes the display of the program that starts it and
# lingers a few seconds after the last program ends, and every window made meanwhile goes to that
# display: a desktop started by a program run without a display, or on a display since closed,
# would take the window under test while the test looks for it on another.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$scratch/display" ] && break
  sleep 0.1
done
[ -s "$scratch/display" ] || { echo "Xvfb did not start"; cat "$scratch/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$scratch/display")"
# One wineserver for the whole run instead of one per test program.
wineserver -p
timeout 300 wine wineboot --init >"$scratch/wineboot.log" 2>&1 || { cat "$scratch/wineboot.log"; exit 1; }
# Windows does not hide names that start with a dot; Wine does unless told otherwise.
timeout 120 wine reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null
# A crash (the death tests provoke some) is reported on stderr; with a display, Wine would also
# open its crash dialog and wait for a click that never comes.
timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null

python3 -u tests/windows/picture_server.py >"$scratch/server.out" 2>"$scratch/server.err" &
server_pid=$!
for _ in $(seq 50); do
  [ -s "$scratch/server.out" ] && break
  sleep 0.1
done
TAVRIN_TEST_HTTP_ROOT=$(head -n1 "$scratch/server.out")
[ -n "$TAVRIN_TEST_HTTP_ROOT" ] || { echo "the picture server did not start"; cat "$scratch/server.err"; exit 1; }
export TAVRIN_TEST_HTTP_ROOT

# Wine must reach the server before any test relies on it.
timeout 120 wine "$BUILD/bin/tavrin-fetch-urls.exe" "$TAVRIN_TEST_HTTP_ROOT/ready/check.jpg?size=10" >/dev/null

ctest --test-dir "$BUILD" --output-on-failure --timeout 600
# The core's text and names once more in two ANSI code pages that Wine takes from the locale's name:
# 1252 (Western European) and 950 (Traditional Chinese, the window's language, with double-byte
# characters). Names and folders must come out the same in both.
for run in en_US.UTF-8:1252 zh_TW.UTF-8:950; do
  locale=${run%%:*}
  tavrin_generate_locale "$locale"
  for suite in harvest_tests tavrin_windows_tests; do
    LANG=$locale LC_ALL=$locale TAVRIN_EXPECT_ACP=${run##*:} timeout 300 wine "$BUILD/bin/$suite.exe" --gtest_brief=1 \
      | tr -d '\r' | tail -n 3
  done
done

# The headless harvest, end to end: pictures that WinInet cached are copied by
# tavrin-harvest.exe --dest, byte for byte, under the names the cache files give them, and a second
# run changes nothing in the folder.
check_tavrin_harvest_cli() {
  local exe="$BUILD/bin/tavrin-harvest.exe"
  [ -f "$exe" ] || { echo "$exe was not built"; return 1; }
  # One pass over every discovered cache, counting entries however long ago they were used, of any
  # size. Wine caches fetched files without an extension (lake[0]), so the list holds "*." for them.
  local -a options=(--since all --ext "*.;*.jpg" --min-kb 0 --stats)
  # A folder named in Chinese: the command line hands it over whole in any ANSI code page, here
  # 1252, which has no Chinese. Wine needs a UTF-8 locale to pass such names to Linux.
  local -x LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8
  local dest="$scratch/圖片 harvested"
  mkdir -p "$dest"

  # An empty Chromium cache where discovery looks for one, so that it has more than one cache to order.
  local appdata
  appdata=$(winepath -u "$(timeout 120 wine cmd /c echo %LOCALAPPDATA% | tr -d '\r')")
  mkdir -p "$appdata/Chromium/User Data/Default/Cache/Cache_Data/index-dir"

  # Served paths and sizes: mixed case, a query string (dropped from the cache file's name), a
  # picture far below 1 KB.
  local -A sizes=([/cli/Lake.JPG]=40000 [/cli/hill.gif]=30000 [/cli/tiny/dot.png]=100 [/cli/q/sky.jpg]=26000)
  local -a urls=()
  local path
  for path in "${!sizes[@]}"; do urls+=("$TAVRIN_TEST_HTTP_ROOT$path?size=${sizes[$path]}"); done
  timeout 120 wine "$BUILD/bin/tavrin-fetch-urls.exe" --empty-cache "${urls[@]}" | tr -d '\r' >"$scratch/fetched.tsv"

  # What each copy must be called, and hold: the cache file's name, lower-cased, without "[1]"
  # (Wine counts from [0], Windows from [1]); the bytes the server sent.
  local -A expected=()
  local url got local_path name
  while IFS=$'\t' read -r url got local_path; do
    path=${url#"$TAVRIN_TEST_HTTP_ROOT"}
    path=${path%%\?*}
    [ "$got" = "${sizes[$path]}" ] || { echo "fetching $url got $got bytes"; return 1; }
    [ -n "$local_path" ] || { echo "WinInet kept no file for $url"; return 1; }
    name=${local_path##*\\}
    name=${name,,}
    name=${name//\[1\]/}
    [ -z "${expected[$name]:-}" ] || { echo "two cache files would both be copied as $name"; return 1; }
    expected[$name]=$path
    python3 -c "import sys; sys.path.insert(0, 'tests/windows'); import picture_server as p; \
sys.stdout.buffer.write(p.body_for(sys.argv[1], int(sys.argv[2])))" "$path" "${sizes[$path]}" >"$scratch/expected-$name"
  done <"$scratch/fetched.tsv"
  [ ${#expected[@]} -eq ${#sizes[@]} ] || { echo "WinInet cached ${#expected[@]} of ${#sizes[@]} fetches"; cat "$scratch/fetched.tsv"; return 1; }

  # The WinInet cache is listed first, before the browsers' caches, with the entries just fetched.
  timeout 120 wine "$exe" --list-caches | tr -d '\r' >"$scratch/caches.tsv"
  [ "$(head -n1 "$scratch/caches.tsv")" = "$(printf 'wininet\t\t%s' ${#sizes[@]})" ] \
    || { echo "--list-caches does not list the URL cache first:"; cat "$scratch/caches.tsv"; return 1; }
  grep -q $'^chromium\t.*Cache_Data\t0$' "$scratch/caches.tsv" \
    || { echo "--list-caches does not list the Chromium cache:"; cat "$scratch/caches.tsv"; return 1; }

  timeout 300 wine "$exe" --dest "$(winepath -w "$dest")" "${options[@]}" >"$scratch/run1.out" 2>"$scratch/run1.err"
  grep -q '"ended_by_error":false' "$scratch/run1.err" || { echo "the first run failed:"; cat "$scratch/run1.err"; return 1; }
  local copied
  copied=$(cd "$dest" && find . -type f -printf '%P\n' | sort)
  [ "$copied" = "$(printf '%s\n' "${!expected[@]}" | sort)" ] \
    || { printf 'tavrin-harvest.exe copied:\n%s\ninstead of:\n' "$copied"; printf '%s\n' "${!expected[@]}"; return 1; }
  for name in "${!expected[@]}"; do
    cmp -s "$dest/$name" "$scratch/expected-$name" || { echo "the copy $name differs from what was served"; return 1; }
  done

  # Run again: nothing is copied, replaced or copied beside under a numbered name, and no temporary
  # file is left (the folder itself changes: a copy of a file already there is made to compare).
  local before after
  before=$(cd "$dest" && find . -mindepth 1 -printf '%P %s %i %T@\n' | sort)
  timeout 300 wine "$exe" --dest "$(winepath -w "$dest")" "${options[@]}" >"$scratch/run2.out" 2>"$scratch/run2.err"
  grep -q '"ended_by_error":false' "$scratch/run2.err" || { echo "the second run failed:"; cat "$scratch/run2.err"; return 1; }
  after=$(cd "$dest" && find . -mindepth 1 -printf '%P %s %i %T@\n' | sort)
  [ "$before" = "$after" ] || { printf 'a second tavrin-harvest.exe run changed the folder:\n%s\n' "$(diff <(echo "$before") <(echo "$after"))"; return 1; }
  [ ! -s "$scratch/run2.out" ] || { echo "the second run copied:"; cat "$scratch/run2.out"; return 1; }
  echo "tavrin-harvest.exe under Wine: ${#expected[@]} pictures copied from the URL cache, none again"
}
check_tavrin_harvest_cli

# The window end to end: tavrin.exe as a real Windows window on the run's display (nothing else
# is on it by now), in a Traditional Chinese locale (ANSI code page 950), which Wine takes from
# the Linux locale's name and needs generated to convert file names. The screenshot is kept in the
# build folder.
TAVRIN_E2E_DISPLAY=1 python3 tests/integration/test_window_end_to_end.py --tavrin "$BUILD/bin/tavrin-traced.exe" \
  --workdir "$scratch/window" --wine-fetcher "$BUILD/bin/tavrin-fetch-urls.exe" \
  || { cp "$scratch/window/tavrin.log" "$BUILD/window-end-to-end.log" 2>/dev/null || true; exit 1; }
cp "$scratch/window/window.png" "$BUILD/window-end-to-end.png"
scripts/package-windows.sh >/dev/null

echo "Windows tests under Wine took $(( $(date +%s) - started )) s"
