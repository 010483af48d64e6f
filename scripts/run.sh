#!/usr/bin/env bash
# Installs what building and running need (nothing for the tests), builds Tavrin into build/ and
# starts it. A build/ that scripts/test.sh configured is reused as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_install_packages
if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${TAVRIN_LAUNCHER[@]}" \
    -DTAVRIN_BUILD_TESTS=OFF -DTAVRIN_BUILD_BENCH=OFF
fi
cmake --build build --target tavrin tavrin-harvest
exec build/bin/tavrin "$@"
