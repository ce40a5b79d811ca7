#!/usr/bin/env bash
# Installs the Debian packages a job needs, only those that are missing.
#   scripts/install-deps.sh build   compiler, CMake, GoogleTest
#   scripts/install-deps.sh gui     + Qt 6 Widgets
#   scripts/install-deps.sh test    + everything the tests and scripts use (GDAL, clang for fuzzing,
#                                     MinGW, Wine, NSIS; Xvfb, Wine's fonts, ImageMagick and xdotool
#                                     for the Windows screenshot)
set -euo pipefail

want=(g++ make cmake libgtest-dev)
case "${1:-build}" in
  build) ;;
  gui) want+=(qt6-base-dev) ;;
  test) want+=(qt6-base-dev gdal-bin python3-gdal clang libclang-rt-14-dev
               g++-mingw-w64-x86-64-posix googletest wine64 python3 libbenchmark-dev time gcovr
               nsis xvfb fonts-wine imagemagick xdotool llvm) ;;
  *) echo "usage: $0 build|gui|test" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
