#!/usr/bin/env bash
# Zips the portable Windows build (tavrin.exe and tavrin-harvest.exe, both static, from
# build-mingw/bin, which scripts/test-windows.sh leaves there) with its read-me into
# build-mingw/tavrin-windows-x64.zip. Prints the zip's path.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=build-mingw/bin
for exe in tavrin.exe tavrin-harvest.exe; do
  [ -f "$BIN/$exe" ] || { echo "$BIN/$exe is missing: run scripts/test-windows.sh first" >&2; exit 1; }
done
staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir "$staging/Tavrin"
cp "$BIN/tavrin.exe" "$BIN/tavrin-harvest.exe" "$staging/Tavrin/"
# The build keeps debugging information; the copies handed out do without it.
x86_64-w64-mingw32-strip "$staging/Tavrin/"*.exe
# Windows readers expect CR LF line ends in a text file.
sed 's/$/\r/' packaging/windows/README.txt >"$staging/Tavrin/README.txt"
zip="$PWD/build-mingw/tavrin-windows-x64.zip"
rm -f "$zip"
(cd "$staging" && python3 -m zipfile -c "$zip" Tavrin)
echo "$zip"
