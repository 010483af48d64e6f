#!/usr/bin/env bash
# Fails when a C++ file under src/ tests/ bench/ fuzz/ is not formatted as .clang-format says, and
# names each such file. With --apply, formats them all in place instead.
#   TAVRIN_CHECK_FORMAT=1  runs the check even while it is switched off below
set -euo pipefail
cd "$(dirname "$0")/.."

# On: the tree is formatted; 0 switches the check off.
enabled=1

clang_format=clang-format-14
mapfile -t files < <(git ls-files -- 'src/*.h' 'src/*.cpp' 'tests/*.h' 'tests/*.cpp' 'bench/*.h' 'bench/*.cpp' \
                                     'fuzz/*.h' 'fuzz/*.cpp')

if [ "${1:-}" = "--apply" ]; then
  "$clang_format" -i "${files[@]}"
  echo "formatted ${#files[@]} files"
  exit 0
fi

if [ "$enabled" != 1 ] && [ "${TAVRIN_CHECK_FORMAT:-0}" != 1 ]; then
  echo "format check switched off (scripts/check_format.sh: enabled=0)"
  exit 0
fi

# One warning per place that would change; counted per file.
report=$("$clang_format" --dry-run "${files[@]}" 2>&1 | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' \
  | cut -d: -f1 | sort | uniq -c | sort -rn || true)
if [ -n "$report" ]; then
  echo "not formatted (places per file; scripts/check_format.sh --apply formats them):"
  echo "$report"
  exit 1
fi
echo "all ${#files[@]} files formatted"
