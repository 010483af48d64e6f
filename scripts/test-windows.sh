#!/usr/bin/env bash
# Cross-compiles the Qt-free core and its tests for 64-bit Windows into build-mingw/ and runs the
# tests under Wine, in a fresh Wine prefix that is removed afterwards, against Wine's real WinInet
# URL cache and a picture server on 127.0.0.1. Needs no display. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_install_packages

BUILD=build-mingw
started=$(date +%s)

cmake -S . -B "$BUILD" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_GUI=OFF -DTAVRIN_BUILD_BENCH=OFF -DTAVRIN_BUILD_FUZZ=OFF -DTAVRIN_BUILD_TESTS=ON
cmake --build "$BUILD" -j2

# A prefix of our own, so nothing of the user's ~/.wine is read or changed, and every run starts
# with an empty URL cache.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tavrin-wine.XXXXXX")
server_pid=""
cleanup() {
  local status=$?
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  WINEPREFIX="$scratch/prefix" wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
  exit "$status"
}
trap cleanup EXIT

export WINEPREFIX="$scratch/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# WinInet must reach 127.0.0.1 directly, whatever proxy the machine is set up with; and nothing
# here may open a window, whatever display another test left behind.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# One wineserver for the whole run instead of one per test program.
wineserver -p
timeout 300 wine wineboot --init >"$scratch/wineboot.log" 2>&1 || { cat "$scratch/wineboot.log"; exit 1; }

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

# The headless harvest, end to end: pictures that WinInet cached are copied by
# tavrin-harvest.exe --dest, byte for byte, and a second run replaces nothing.
check_tavrin_harvest_cli() {
  local exe="$BUILD/bin/tavrin-harvest.exe"
  [ -f "$exe" ] || return 0
  # TODO(lead): enable once src/cli is merged, with the options that make one pass over the WinInet
  # cache counting entries used since before the fetches below. Wine caches fetched files without
  # an extension (lake[0]), so the extension list must also hold "*." for them to pass.
  local -a options=()
  [ "${TAVRIN_WINE_CHECK_CLI:-0}" = 1 ] || { echo "tavrin-harvest.exe under Wine: not enabled yet"; return 0; }
  local dest="$scratch/harvested"
  mkdir -p "$dest"
  local -A sizes=([lake.jpg]=40000 [hill.gif]=30000)
  local name
  for name in "${!sizes[@]}"; do
    timeout 120 wine "$BUILD/bin/tavrin-fetch-urls.exe" "$TAVRIN_TEST_HTTP_ROOT/cli/$name?size=${sizes[$name]}" >/dev/null
    python3 -c "import sys; sys.path.insert(0, 'tests/windows'); import picture_server as p; \
sys.stdout.buffer.write(p.body_for('/cli/$name', ${sizes[$name]}))" >"$scratch/expected-$name"
  done
  timeout 300 wine "$exe" --dest "$(winepath -w "$dest")" "${options[@]}"
  for name in "${!sizes[@]}"; do
    # The copy is named after the cache file: its name without "[1]" (Wine's count from [0]).
    local copy
    copy=$(find "$dest" -maxdepth 1 -type f -name "${name%%.*}*" | head -n1)
    [ -n "$copy" ] || { echo "tavrin-harvest.exe did not copy $name"; return 1; }
    cmp -s "$copy" "$scratch/expected-$name" || { echo "the copy of $name differs from what was served"; return 1; }
  done
  local before after
  before=$(cd "$dest" && sha256sum -- * | sort)
  timeout 300 wine "$exe" --dest "$(winepath -w "$dest")" "${options[@]}"
  after=$(cd "$dest" && sha256sum -- * | sort)
  [ "$before" = "$after" ] || { echo "a second tavrin-harvest.exe run changed the folder"; return 1; }
}
check_tavrin_harvest_cli

echo "Windows tests under Wine took $(( $(date +%s) - started )) s"
