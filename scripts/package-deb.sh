#!/usr/bin/env bash
# Builds the Debian package of Tavrin (the window, tavrin-harvest, the desktop entry, the icon and
# the AppStream metadata) from build/ into build/package/tavrin_<version>_<arch>.deb, with
# `cpack -G DEB`; dpkg-shlibdeps finds the libraries it depends on. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
# Everything but the package's path goes to standard error.
exec 3>&1 1>&2
source scripts/packages.sh
tavrin_install_packages dpkg-dev
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAVRIN_LAUNCHER[@]}" \
    -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCH=OFF
fi
cmake --build build
rm -rf build/package
cpack -G DEB --config build/CPackConfig.cmake -B build/package
deb=$(ls build/package/tavrin_*.deb)
dpkg-deb --info "$deb"
echo "$deb" >&3
