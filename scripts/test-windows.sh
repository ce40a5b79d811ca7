#!/usr/bin/env bash
# Cross-builds the core, tabrescue.exe and the core test programs for 64-bit Windows with MinGW-w64,
# runs every test program under Wine, then whole recoveries of tabrescue.exe with Windows paths
# against the Linux command line (build/tabrescue). Any failure fails the script.
#   scripts/test-windows.sh            build into build-win and test
#   BUILD_DIR=out/win scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-win}
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS

# -O1: a third less compile time than -O2; the Linux build already tests the optimised code.
cmake --preset mingw -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"
built=$SECONDS

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    if [ -x "/usr/lib/wine/$name" ]; then echo "/usr/lib/wine/$name"; return 0; fi
  done
  echo "not found: $*" >&2
  return 1
}
wine=$(find_tool wine64 wine)
wineserver=$(find_tool wineserver64 wineserver)

# One fresh prefix for the whole run, removed at the end.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
work=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-runs.XXXXXX")
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT

# A server that stays up between the programs, and the prefix's own services started with no
# terminal: started by the first test instead, they would hold its output pipe open.
"$wineserver" -p >/dev/null 2>&1 </dev/null
"$wine" wineboot -i >/dev/null 2>&1 </dev/null
prepared=$SECONDS

failed=0
logs="$build/wine-logs"
mkdir -p "$logs"
for exe in "$build"/tests/*_tests.exe; do
  name=$(basename "$exe" .exe)
  if "$wine" "$exe" --gtest_brief=1 >"$logs/$name.txt" 2>&1 </dev/null; then
    echo "wine $name: $(grep -E '^\[  PASSED  \]' "$logs/$name.txt" || echo passed)"
  else
    echo "wine $name: FAILED"
    cat "$logs/$name.txt"
    failed=1
  fi
done

tested=$SECONDS

# Whole runs of tabrescue.exe with Windows paths against the Linux command line.
cmake --build build --target tabrescue >/dev/null 2>&1 ||
  { cmake --preset default >/dev/null && cmake --build build --target tabrescue >/dev/null; }
if ! scripts/compare-windows-runs.py build/tabrescue "$build/tabrescue.exe" "$wine" examples "$work"; then
  failed=1
fi

echo "windows: build $((built - started)) s, wine prefix $((prepared - built)) s," \
     "core tests $((tested - prepared)) s, whole runs $((SECONDS - tested)) s"
exit "$failed"
