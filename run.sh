#!/usr/bin/env bash
# Installs what is missing, builds, and runs the main job: with arguments they go to the command
# line `tabrescue`; without, the window opens when there is a display, else the bundled sample
# table is recovered into ./out/ and the log printed.
set -euo pipefail
cd "$(dirname "$0")"
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  scripts/install-deps.sh gui >&2
  cmake --preset default >/dev/null
  cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tabrescue-gui >&2
  exec build/tabrescue-gui
fi
scripts/install-deps.sh build >&2

cmake --preset default >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target tabrescue >&2
if [ $# -gt 0 ]; then
  exec build/tabrescue "$@"
fi
mkdir -p out
exec build/tabrescue --all -o out examples/roads.tab
