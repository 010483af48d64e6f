#!/usr/bin/env bash
# Installs what is missing, builds Tavrin into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
tavrin_setup_and_build
if [ -x build/bin/tavrin ]; then
  exec build/bin/tavrin "$@"
fi
echo "The window is not built yet; it will be started as: build/bin/tavrin"
