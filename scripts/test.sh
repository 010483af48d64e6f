#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

# Runs one step and says how long it took.
step() {
  local started=$SECONDS
  "$@"
  echo "== $* took $((SECONDS - started)) s"
}

tavrin_install_test_packages
# The layering of src/ and the formatting first: they fail in seconds, before any build.
step scripts/check_includes.py
step scripts/check_format.sh
step tavrin_setup_and_build
# The clang build under AddressSanitizer and UndefinedBehaviorSanitizer: the unit suites below and
# the fuzz targets (cache_parsers_fuzz in build/) share it.
step tavrin_configure_sanitized build-asan
step cmake --build build-asan
step ctest --test-dir build --output-on-failure -j2
# The unit suites once more, sanitized; the fuzz targets ran above, and the real-browser and end-to-end
# runs only repeat what they already checked.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
step ctest --test-dir build-asan --output-on-failure -j2 -LE browser \
  -E '^(cache_parsers_fuzz|HarvesterCommandLine|include_layers)$'
# The Debian package: built, validated, installed, run and removed.
step scripts/test-deb.sh
step scripts/test-windows.sh
