#!/usr/bin/env bash
# Builds the suite with coverage in build-coverage, runs it, and prints the line and branch
# coverage of src/ (gcovr). Extra arguments go to gcovr, e.g. --html-details build-coverage/cov.html
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)
root=$PWD/build-coverage
cmake --preset coverage >/dev/null
cmake --build "$root" -j "$jobs"
find "$root" -name '*.gcda' -delete
(cd "$root" && QT_QPA_PLATFORM=offscreen ctest -j "$jobs" --output-on-failure >"$root/ctest.log" 2>&1) \
  || { tail -40 "$root/ctest.log"; echo "coverage: some tests failed" >&2; exit 1; }
# Branches the compiler adds for exceptions say nothing about our code.
gcovr -r . --object-directory "$root" --filter 'src/' --exclude-throw-branches \
  --exclude-unreachable-branches --exclude-directories '.*CMakeFiles/[0-9.]+/.*' --print-summary -o "$root/coverage.txt" "$@" \
  | sed -n 's/^\(lines\|branches\): /\1: /p'
