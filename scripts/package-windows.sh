#!/usr/bin/env bash
# Makes the Windows downloads from the MinGW build (built here when missing):
#   OUTDIR/tabrescue-VERSION-windows-x64.zip        tabrescue-gui.exe, tabrescue.exe, README.TXT, examples\
#   OUTDIR/tabrescue-VERSION-windows-x64-setup.exe  the same, installed under Program Files (NSIS)
#   scripts/package-windows.sh OUTDIR      (BUILD_DIR=build-win by default)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
build=${BUILD_DIR:-$root/build-win}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset mingw -B "$build" >/dev/null)
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tabrescue tabrescue-gui >/dev/null

version=$(sed -n 's/^project(tabrescue VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
name=tabrescue-$version-windows-x64
stage=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-package.XXXXXX")
trap 'rm -rf "$stage"' EXIT

dir=$stage/$name
mkdir -p "$dir/examples"
cp "$build/tabrescue-gui.exe" "$build/tabrescue.exe" "$dir/"
# Windows line ends for the help, whatever the checkout has.
sed 's/\r$//; s/$/\r/' "$root/data/README.TXT" >"$dir/README.TXT"
cp "$root"/examples/roads.* "$dir/examples/"

rm -f "$out/$name.zip"
(cd "$stage" && python3 - "$out/$name.zip" "$name" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for folder, _, files in os.walk(sys.argv[2]):
        for f in sorted(files):
            z.write(os.path.join(folder, f))
PY
)

cp "$root/data/windows/tabrescue.ico" "$dir/"
makensis -V2 -DVERSION="$version" -DSTAGE="$dir" -DOUTFILE="$out/$name-setup.exe" \
  "$root/scripts/windows/tabrescue.nsi" >/dev/null
echo "packages: $out/$name.zip $out/$name-setup.exe"
