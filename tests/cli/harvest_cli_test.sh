#!/usr/bin/env bash
# tavrin-harvest as a user meets it: exit codes, messages, and a run over an empty cache.
set -u
harvester="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect_exit() {  # expected-status description command...
  local expected=$1 what=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL: $what: exit $status, expected $expected"; cat "$work/err"; failures=$((failures + 1))
  fi
}

expect_exit 2 "no destination" "$harvester"
grep -q -- "--dest DIR is required" "$work/err" || { echo "FAIL: no reason given"; failures=$((failures + 1)); }
[ "$(wc -l <"$work/err")" -eq 1 ] || { echo "FAIL: the reason takes more than one line"; failures=$((failures + 1)); }
expect_exit 2 "unknown option" "$harvester" --dest "$work/d" --bogus
expect_exit 2 "not a cache folder" "$harvester" --dest "$work/d" --cache "$work"
expect_exit 0 "help" "$harvester" --help
grep -q -- "--since" "$work/out" || { echo "FAIL: help lists no options"; failures=$((failures + 1)); }

# A destination below a file cannot be created.
touch "$work/file"
expect_exit 1 "destination below a file" "$harvester" --dest "$work/file/sub"

# An empty Firefox cache: the pass runs, copies nothing, reports its counts.
mkdir -p "$work/cache2/entries"
expect_exit 0 "empty cache" "$harvester" --dest "$work/new/dest" --cache "$work/cache2" --stats --passes 2 --interval 10
[ -d "$work/new/dest" ] || { echo "FAIL: destination not created"; failures=$((failures + 1)); }
[ ! -s "$work/out" ] || { echo "FAIL: printed copies from an empty cache"; failures=$((failures + 1)); }
[ "$(grep -c '"entries":0,"copied":0' "$work/err")" -eq 2 ] || {
  echo "FAIL: expected two pass statistics lines"; cat "$work/err"; failures=$((failures + 1)); }
# Every kind under the name scripts and users read, in the order the folders were given: an empty
# simple cache, and a blockfile cache that also holds a file named like a simple entry.
mkdir -p "$work/Cache_Data/index-dir" "$work/GPUCache"
printf '\xc3\xca\x03\xc1\x00\x00\x00\x00' >"$work/GPUCache/index"
: >"$work/GPUCache/0123456789abcdef_0"
expect_exit 0 "list caches" "$harvester" --list-caches --cache "$work/cache2" --cache "$work/Cache_Data" --cache "$work/GPUCache"
printf 'firefox\t%s\t0\nchromium\t%s\t0\nblockfile\t%s\t0\n' "$work/cache2" "$work/Cache_Data" "$work/GPUCache" >"$work/want"
cmp -s "$work/want" "$work/out" || { echo "FAIL: cache list"; diff "$work/want" "$work/out"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "all command-line checks passed"
