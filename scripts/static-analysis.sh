#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the project's own sources
# (src/ and fuzz/), from a configured build tree's compile_commands.json.
# Exits non-zero on any finding.
#   scripts/static-analysis.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-fuzz}
db=$build/compile_commands.json
[ -f "$db" ] || { echo "no $db: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON" >&2; exit 2; }
jobs=$(nproc 2>/dev/null || echo 2)

echo "-- clang-tidy"
run-clang-tidy -quiet -j "$jobs" -p "$build" "$PWD/(src|fuzz)/.*\.cpp$" >"$build/clang-tidy.log" 2>&1 || {
  grep -E 'warning:|error:' "$build/clang-tidy.log" || tail -n 40 "$build/clang-tidy.log"
  exit 1
}

echo "-- cppcheck"
cppcheck --project="$db" --std=c++17 -j "$jobs" -q --inline-suppr \
  --enable=warning,style,performance,portability --error-exitcode=1 \
  --suppressions-list=cppcheck-suppressions.txt -i "$build" -i tests \
  --template='{file}:{line}: {severity}: {message} [{id}]'
echo "static analysis: clean"
