#!/usr/bin/env bash
# Cross-builds the core, tabrescue.exe, tabrescue-gui.exe and the test programs for 64-bit Windows
# with MinGW-w64 and runs every test program under Wine (windows without a display: the null
# graphics driver). Then makes the zip and the installer, installs silently, runs whole recoveries
# of the installed tabrescue.exe with Windows paths against the Linux command line
# (build/tabrescue), and uninstalls. Any failure fails the script.
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
# Windows without X: the null driver, which the server reads when it starts again.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w
"$wineserver" -p >/dev/null 2>&1 </dev/null
"$wine" wineboot >/dev/null 2>&1 </dev/null
prepared=$SECONDS

failed=0
logs="$build/wine-logs"
mkdir -p "$logs"
for exe in "$build"/tests/*_tests.exe; do
  name=$(basename "$exe" .exe)
  if timeout 300 "$wine" "$exe" --gtest_brief=1 >"$logs/$name.txt" 2>&1 </dev/null; then
    echo "wine $name: $(grep -E '^\[  PASSED  \]' "$logs/$name.txt" || echo passed)"
  else
    echo "wine $name: FAILED"
    cat "$logs/$name.txt"
    failed=1
  fi
done

tested=$SECONDS

# The packages, installed as a user would: silently, then checked file by file.
check() { if ! "$@"; then echo "windows packages: failed: $*"; failed=1; fi; }
BUILD_DIR=$build scripts/package-windows.sh "$work/packages" >/dev/null
version=$(sed -n 's/^project(tabrescue VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=tabrescue-$version-windows-x64
listing=$(python3 -m zipfile -l "$work/packages/$name.zip")
for f in tabrescue-gui.exe tabrescue.exe README.TXT examples/roads.tab examples/roads.map; do
  check grep -q "$name/$f" <<<"$listing"
done
# The installer and the uninstaller are waited for by the server (-w), which a persistent one never ends.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w
"$wine" "$work/packages/$name-setup.exe" /S >/dev/null 2>&1 </dev/null
"$wineserver" -w
installed="$WINEPREFIX/drive_c/Program Files/tabrescue"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/tabrescue/tabrescue.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\tabrescue'
for f in tabrescue-gui.exe tabrescue.exe README.TXT uninstall.exe examples/roads.tab; do
  check test -f "$installed/$f"
done
check test -f "$shortcut"
check "$wine" reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 </dev/null
packaged=$SECONDS

# Whole runs of the installed tabrescue.exe with Windows paths against the Linux command line, with
# the server and the prefix's services up again as for the tests.
"$wineserver" -w
"$wineserver" -p >/dev/null 2>&1 </dev/null
"$wine" wineboot >/dev/null 2>&1 </dev/null
cmake --build build --target tabrescue >/dev/null 2>&1 ||
  { cmake --preset default >/dev/null && cmake --build build --target tabrescue >/dev/null; }
if ! scripts/compare-windows-runs.py build/tabrescue "$installed/tabrescue.exe" "$wine" examples "$work"; then
  failed=1
fi
compared=$SECONDS

# The uninstaller copies itself away and returns at once; the server knows when it has finished.
"$wineserver" -k >/dev/null 2>&1 || true
"$wineserver" -w
"$wine" "C:\\Program Files\\tabrescue\\uninstall.exe" /S >/dev/null 2>&1 </dev/null
"$wineserver" -w
check test ! -e "$installed"
check test ! -e "$(dirname "$shortcut")"
check test "$("$wine" reg query "$uninstall_key" >/dev/null 2>&1 </dev/null; echo $?)" != 0

echo "windows: build $((built - started)) s, wine prefix $((prepared - built)) s," \
     "tests $((tested - prepared)) s, packages and install $((packaged - tested)) s," \
     "whole runs $((compared - packaged)) s, uninstall $((SECONDS - compared)) s"
exit "$failed"
