#!/usr/bin/env bash
# A picture of the Qt window after a run on the sample table, for the README: the window inside a
# virtual X screen (Xvfb), the paths typed and Recover pressed with xdotool, the window written as PNG.
#   scripts/screenshot-linux.sh [OUT.png]      (default docs/tabrescue-linux.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/tabrescue-linux.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
build=${BUILD_DIR:-$root/build}
if [ ! -f "$build/CMakeCache.txt" ]; then
  (cd "$root" && cmake --preset default -B "$build" >/dev/null)
fi
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target tabrescue-gui >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tabrescue-shot.XXXXXX")
xvfb= gui=
cleanup() {
  [ -z "$gui" ] || kill "$gui" 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((50 + RANDOM % 50))
Xvfb "$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display QT_QPA_PLATFORM=xcb TMPDIR=$work
sleep 1

mkdir -p "$work/maps/Мои карты 2015" "$work/maps/out"
cp "$root"/examples/roads.* "$work/maps/Мои карты 2015/"
"$build/tabrescue-gui" >/dev/null 2>&1 </dev/null &
gui=$!

window=
for _ in $(seq 60); do
  window=$(xdotool search --name '^tabrescue ' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.5
done
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
sleep 1
# No window manager gives the focus: a click into each box, then one on Recover (client pixels).
xdotool windowfocus --sync "$window" || true
xdotool mousemove --window "$window" 300 35 click 1
xdotool type --delay 20 "$work/maps/Мои карты 2015/roads.tab"
xdotool mousemove --window "$window" 300 83 click 1
xdotool type --delay 20 "$work/maps/out"
xdotool mousemove --window "$window" 645 110 click 1
for _ in $(seq 60); do
  ls "$work/maps/out"/roads_DAT.* >/dev/null 2>&1 && break
  sleep 0.5
done
sleep 2
import -window "$window" "$out"
echo "screenshot: $out"
