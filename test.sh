#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

jobs=$(nproc 2>/dev/null || echo 2)
scripts/check-layers.sh
cmake --preset default >/dev/null
cmake --build build -j "$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz target.
scripts/test-sanitizers.sh
scripts/test-fuzz.sh
# The core and the command line built for Windows, run under Wine.
scripts/test-windows.sh
# A tiny benchmark run, so that the benchmarks cannot rot (no timing is asserted).
bench/run.sh --tiny
