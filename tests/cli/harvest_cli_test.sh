#!/usr/bin/env bash
# tavrin-harvest as a user meets it: exit codes, messages, and a run over an empty cache.
set -u
harvester="$1"
make_cache="$2"
work=$(mktemp -d)
small="$work/small"
limited="$work/limited-fs"
limited_fs="$(cd "$(dirname "$0")/../support" && pwd)/limited_fs.py"
cleanup() {
  mountpoint -q "$small" 2>/dev/null && umount "$small"
  mountpoint -q "$limited" 2>/dev/null && fusermount -u "$limited"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

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

# Usage mistakes and folders that are not there say so, with the system's reason.
expect_exit 2 "an option taken for a value" "$harvester" --dest --stats
grep -q -- "--dest needs a value" "$work/err" || fail "--dest --stats not refused"
expect_exit 2 "missing cache folder" "$harvester" --dest "$work/d" --cache "$work/absent"
grep -q "cannot read the cache folder $work/absent: No such file or directory" "$work/err" || fail "missing --cache"
expect_exit 1 "destination below a file" "$harvester" --dest "$work/file/sub"
grep -q "$work/file/sub: Not a directory" "$work/err" || { fail "no reason for the destination"; cat "$work/err"; }
expect_exit 0 "no cache found" env HOME="$work/nohome" XDG_CACHE_HOME="$work/nohome" "$harvester" --list-caches
grep -q "no browser cache found" "$work/err" || fail "an empty cache list is not said"
expect_exit 0 "harvest without a cache" env HOME="$work/nohome" XDG_CACHE_HOME= XDG_CONFIG_HOME= "$harvester" --dest "$work/d"
grep -q "no browser cache found" "$work/err" || fail "a harvest without a cache is silent"
# Two caches found below the home folder: the run ends with its documented status, not by a crash
# when the sources are released at exit.
for profile in p1 p2; do "$make_cache" "$work/home/.cache/mozilla/firefox/$profile/cache2" 2 3000 "$profile"; done
expect_exit 0 "two caches found" env HOME="$work/home" XDG_CACHE_HOME= XDG_CONFIG_HOME= "$harvester" --dest "$work/found" --min-kb 0
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "the caches found were not copied"
grep -q "Exit status" "$work/out" || "$harvester" --help | grep -q "3 when" || fail "--help has no exit status"

# Pairs of addresses that end in the same name: re-runs and two harvesters at once never add an
# identical copy. A crashed run's temporary is removed; a picture named like one is kept.
"$make_cache" "$work/pairs" 10 3000
mkdir -p "$work/rerun"
printf 'left' >"$work/rerun/.tavrin-copy-Ab12Cd"
printf 'mine' >"$work/rerun/.tavrin-copy-ABCDEF.jpg"
for run in 1 2 3; do
  expect_exit 0 "re-run $run" "$harvester" --dest "$work/rerun" --cache "$work/pairs" --min-kb 0
done
"$harvester" --dest "$work/rerun" --cache "$work/pairs" --min-kb 0 >/dev/null 2>&1 &
"$harvester" --dest "$work/rerun" --cache "$work/pairs" --min-kb 0 >/dev/null 2>&1
wait
[ "$(find "$work/rerun" -type f | wc -l)" -eq 11 ] || { fail "re-runs added copies"; ls -a "$work/rerun"; }
[ ! -e "$work/rerun/.tavrin-copy-Ab12Cd" ] || fail "a crashed run's temporary stayed"
[ -e "$work/rerun/.tavrin-copy-ABCDEF.jpg" ] || fail "a picture named like a temporary was removed"
[ -z "$(find "$work/rerun" -type f -exec md5sum {} + | awk '{print $1}' | sort | uniq -d)" ] || fail "identical copies"

# Damaged entries end only themselves: the first pass copies every other picture and says each
# damaged one once, and the run exits 3. Later passes that meet them unchanged say nothing more, and
# the status is the last pass's.
"$make_cache" "$work/damaged" 12 3000 pic 3,4,9
expect_exit 3 "damaged entries" "$harvester" --dest "$work/past" --cache "$work/damaged" --min-kb 0 --stats
[ "$(grep -c "pass 1 left an entry for a later pass: cannot read $work/damaged/.*: the cache entry is damaged" "$work/err")" -eq 3 ] ||
  { fail "damage not said once per entry"; cat "$work/err"; }
[ "$(wc -l <"$work/out")" -eq 9 ] || fail "the entries after a damaged one were not copied in the first pass"
grep -q '"pass":2' "$work/err" && fail "a one-shot run with damaged entries ran a second pass"
expect_exit 0 "damaged entries again" "$harvester" --dest "$work/past" --cache "$work/damaged" --min-kb 0 \
  --passes 3 --interval 10
[ "$(grep -c "left an entry" "$work/err")" -eq 3 ] || { fail "damage said again for unchanged entries"; cat "$work/err"; }
# On a terminal, a summary line at the end.
script -qec "'$harvester' --dest '$work/past' --cache '$work/damaged' --min-kb 0" /dev/null >"$work/tty"
grep -q "0 copied, 9 already present, 3 failed, 0 passes ended by an error" "$work/tty" || { fail "no summary"; cat "$work/tty"; }

# SIGHUP, like SIGTERM, ends a watch cleanly.
"$harvester" --dest "$work/hup" --cache "$work/pairs" --watch --interval 50 >/dev/null 2>&1 &
pid=$!
sleep 0.5
kill -HUP "$pid"
wait "$pid"
[ $? -eq 0 ] || fail "SIGHUP did not end the run cleanly"

# A destination that fails: a small file system that fills, then read-only, then removed during a
# watch. Each pass that fails says what, where and why on stderr, and the run exits 3. CI runs as
# root, where the file system must mount; elsewhere these cases are left out.
mkdir -p "$small"
if mount -t tmpfs -o size=256k tmpfs "$small" 2>/dev/null; then
  "$make_cache" "$work/big" 8 100000
  expect_exit 3 "full disk" "$harvester" --dest "$small/dest" --cache "$work/big" --min-kb 0
  grep -q "ended by an error: cannot write into $small/dest: No space left on device" "$work/err" || {
    fail "full disk not said"; cat "$work/err"; }
  [ -z "$(find "$small" -name '.tavrin-copy-*')" ] || fail "a full disk left a temporary file"
  mount -o remount,ro "$small"
  expect_exit 3 "read-only" "$harvester" --dest "$small/dest" --cache "$work/pairs" --min-kb 0
  grep -q "cannot create a file in $small/dest: Read-only file system" "$work/err" || {
    fail "read-only not said"; cat "$work/err"; }
  umount "$small"
elif [ "$(id -u)" -eq 0 ]; then
  fail "cannot mount a tmpfs as root"
else
  echo "not root: the full and read-only destination cases are left out"
fi
# A destination whose file system takes names of 143 bytes at most and has no hard links, as
# eCryptfs and FAT do (a FUSE file system): over-long names are shortened to fit, clash numbers
# included, and no real name is ever created empty: each copy is created under its temporary name
# and moved into place whole.
mkdir -p "$work/limited-back" "$limited"
if [ "$(id -u)" -eq 0 ] || [ -w /dev/fuse ]; then
  /usr/bin/python3 "$limited_fs" "$work/limited-back" "$limited" --name-max 143 --no-hard-links \
    --log "$work/limited.log" 2>"$work/limited.err" &
  for _ in $(seq 100); do mountpoint -q "$limited" && break; sleep 0.1; done
  if mountpoint -q "$limited"; then
    "$make_cache" "$work/long" 6 3000 "$(printf 'l%.0s' $(seq 150))"
    "$make_cache" "$work/long" 2 3000 short
    expect_exit 0 "names too long for the destination" "$harvester" --dest "$limited/dest" --cache "$work/long" --min-kb 0
    [ "$(wc -l <"$work/out")" -eq 8 ] || { fail "not every picture copied under a name that fits"; cat "$work/err"; }
    [ -z "$(find "$work/limited-back/dest" -type f -printf '%f\n' | awk 'length($0) > 143')" ] || fail "a name too long"
    grep '^create ' "$work/limited.log" | grep -v '^create \.tavrin-copy-' && fail "a real name was created before its copy"
    [ -z "$(find "$work/limited-back" -name '.tavrin-copy-*')" ] || fail "a temporary stayed"
    fusermount -u "$limited"
  else
    fail "the FUSE file system did not mount"; cat "$work/limited.err"
  fi
  wait
else
  echo "no access to /dev/fuse: the limited destination cases are left out"
fi
# A copy beyond the file size limit is a failing pass that says so, not a run killed by a signal.
"$make_cache" "$work/large" 1 300000
expect_exit 3 "file size limit" bash -c 'ulimit -f 100 && exec "$@"' limited \
  "$harvester" --dest "$work/limited" --cache "$work/large" --min-kb 0
# Said once, though the run tries the failing pass again.
[ "$(grep -c "cannot write into $work/limited: File too large" "$work/err")" -eq 1 ] || {
  fail "file size limit not said once"; cat "$work/err"; }
# Out of descriptors: said in the system's words, never as a damaged entry.
expect_exit 3 "few descriptors" bash -c 'ulimit -n 8 && exec "$@"' limited \
  "$harvester" --dest "$work/few" --cache "$work/damaged" --cache "$work/pairs" --min-kb 0
grep -q "Too many open files" "$work/err" || { fail "running out of descriptors not said"; cat "$work/err"; }
grep -q "entry is damaged" "$work/err" && { fail "running out of descriptors said as damage"; cat "$work/err"; }
# Out of memory, wherever it strikes (the readers' threads, the pass): never an abort, and a run
# that could not copy everything says why in the system's words.
"$make_cache" "$work/many" 6000 200
for limit in 40000 70000 100000 150000; do
  rm -rf "$work/mem"
  bash -c 'ulimit -v "$1" && shift && exec "$@"' limited "$limit" \
    "$harvester" --dest "$work/mem" --cache "$work/many" --min-kb 0 >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq 0 ] || [ "$status" -eq 3 ] || { fail "memory limit $limit: exit $status"; cat "$work/err"; }
  if [ "$(wc -l <"$work/out")" -lt 6000 ]; then
    grep -q "Cannot allocate memory" "$work/err" || { fail "memory limit $limit: not said"; cat "$work/err"; }
  fi
done
"$harvester" --dest "$work/gone" --cache "$work/pairs" --watch --since all --interval 50 --min-kb 0 >/dev/null 2>"$work/err" &
pid=$!
sleep 0.5
rm -rf "$work/gone"
"$make_cache" "$work/pairs" 2 3000 late
sleep 0.5
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 3 ] || fail "removed destination: exit $status, expected 3"
grep -q "cannot create a file in $work/gone: No such file or directory" "$work/err" || {
  fail "removed destination not said"; cat "$work/err"; }

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "all command-line checks passed"
