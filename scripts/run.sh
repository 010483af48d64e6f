#!/usr/bin/env bash
# Installs what is missing, builds Tavrin into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_install_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
if [ -x build/bin/tavrin ]; then
  exec build/bin/tavrin "$@"
fi
echo "The window is not built yet; it will be started as: build/bin/tavrin"
