#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# The layering of src/ first: a wrong-way include fails in a second, before any build.
scripts/check_includes.py
tavrin_setup_and_build
ctest --test-dir build --output-on-failure -j2
scripts/test-windows.sh
