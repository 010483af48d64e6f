#!/usr/bin/env bash
# Builds the libFuzzer targets of the cache parsers in the clang AddressSanitizer and
# UndefinedBehaviorSanitizer build (build-asan/, shared with the sanitized unit suites of
# scripts/test.sh) and runs each one on the inputs kept in fuzz/regressions/<target>/, then briefly
# from a seed corpus of real-format entries. Exits non-zero on any crash, hang or sanitizer report.
#   TAVRIN_FUZZ_SECONDS  seconds per target (default 20)
#   TAVRIN_FUZZ_BUILD    build folder (default build-asan)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
build="${TAVRIN_FUZZ_BUILD:-$PWD/build-asan}"
seconds="${TAVRIN_FUZZ_SECONDS:-20}"

tavrin_configure_sanitized "$build" > /dev/null
targets=(chromium_entry chromium_response_info chromium_sparse firefox_entry firefox_metadata body_decoder blockfile_cache
  chromium_sql)
# Only what fuzzing needs (scripts/test.sh builds the rest of the folder).
cmake --build "$build" -j2 --target make_fuzz_seeds "${targets[@]/#/fuzz_}"

rm -rf "$build/fuzz-seeds"
"$build/bin/make_fuzz_seeds" "$build/fuzz-seeds"
mkdir -p "$build/fuzz-crashes"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  echo "== fuzz_$target (${seconds}s)"
  log="$build/fuzz-crashes/$target.log"
  status=0
  # Inputs that once crashed or hung a target run first, each once (fuzz/regressions/<target>/).
  regressions=(fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ]; then
    "$build/bin/fuzz_$target" -timeout=10 -rss_limit_mb=2048 "${regressions[@]}" > "$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      tail -40 "$log" >&2
      echo "fuzz_$target failed on a kept regression input (status $status)" >&2
      exit 1
    fi
  fi
  "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/fuzz-crashes/$target-" "$corpus" "$build/fuzz-seeds/$target" > "$log" 2>&1 || status=$?
  grep -E "DONE|ERROR|SUMMARY|runtime error" "$log" || true
  if [ "$status" -ne 0 ]; then
    tail -40 "$log" >&2
    echo "fuzz_$target failed (status $status); inputs in $build/fuzz-crashes/" >&2
    exit 1
  fi
done
echo "all fuzz targets ran clean"
