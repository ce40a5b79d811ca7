#!/usr/bin/env bash
# Fails on an include of ours that points up the layers, or sideways between dat/ and map/.
# Layers, bottom-up: base, io, table, then dat and map beside each other, recovery, choosers, form, app.
set -euo pipefail
cd "$(dirname "$0")/../src"

rank() {
  case "$1" in
    base) echo 0 ;; io) echo 1 ;; table) echo 2 ;; dat | map) echo 3 ;;
    recovery) echo 4 ;; choosers) echo 5 ;; form) echo 6 ;; app) echo 7 ;; *) echo unknown ;;
  esac
}

bad=0
while IFS=: read -r file _ line; do
  from=${file%%/*}
  to=$(sed -n 's/^#include "\([a-z_]*\)\/.*/\1/p' <<<"$line")
  [ -n "$to" ] || continue
  rf=$(rank "$from") rt=$(rank "$to")
  if [ "$rf" = unknown ] || [ "$rt" = unknown ]; then
    echo "layers: $file: folder not in the layer list: $line" >&2; bad=1
  elif [ "$rt" -gt "$rf" ] || { [ "$rt" -eq "$rf" ] && [ "$to" != "$from" ]; }; then
    echo "layers: $file includes upward or sideways: $line" >&2; bad=1
  fi
done < <(grep -rn '^#include "' --include='*.h' --include='*.cpp' .  | sed 's|^\./||')
[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
