#!/usr/bin/env bash
# A picture of tabrescue-gui.exe after a run on the sample table, for the README: the window under
# Wine inside a virtual X screen (Xvfb), Enter pressed for Recover, the window written as PNG.
#   scripts/screenshot-windows.sh [OUT.png]      (default docs/tabrescue-windows.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/tabrescue-windows.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
build=${BUILD_DIR:-$root/build-win}
case "$build" in /*) ;; *) build=$root/$build ;; esac
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset mingw -B "$build" >/dev/null)
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tabrescue-gui >/dev/null

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-shot-wine.XXXXXX")
work=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-shot.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$work"
}
trap cleanup EXIT

display=:$((50 + RANDOM % 50))
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
sleep 1

"$wine" wineboot -i >/dev/null 2>&1 </dev/null
# Tahoma and the other faces Wine draws with come from Debian's fonts-wine.
mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

tables="$work/Мои карты 2015"
mkdir -p "$tables" "$work/out"
cp "$root"/examples/roads.* "$tables/"
cp "$build/tabrescue-gui.exe" "$work/"
# The tables on drive D:, as a user would have them.
ln -sfn "$work" "$WINEPREFIX/dosdevices/d:"
"$wine" "$work/tabrescue-gui.exe" 'D:\Мои карты 2015\roads.tab' 'D:\out' >/dev/null 2>&1 </dev/null &

window=
for _ in $(seq 60); do
  window=$(xdotool search --name '^tabrescue ' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
sleep 1
xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus "$window" || true
xdotool key --window "$window" Return
for _ in $(seq 60); do
  [ -f "$work/out/roads_MAP.tab" ] || [ -f "$work/out/roads_MAP.TAB" ] && break
  sleep 0.5
done
sleep 2
import -window "$window" "$out"
echo "screenshot: $out"
