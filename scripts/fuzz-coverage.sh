#!/usr/bin/env bash
# Line and branch coverage of src/ reached by the fuzz corpora: each target's committed corpus, its
# seeds and the inputs that once failed, replayed through a build with clang's source coverage.
# Prints the totals for src/ and for the reader folders (table, dat, map).
#
#   scripts/fuzz-coverage.sh                    the committed corpus
#   scripts/fuzz-coverage.sh build-fuzz/corpus  another corpus folder (one subfolder per target)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test
corpus=$(realpath "${1:-tests/fuzz/corpus}")
root=$PWD/build-fuzz-cov
jobs=$(nproc 2>/dev/null || echo 2)
targets="dat map tab_text driver"

cmake -S . -B "$root" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DTABRESCUE_GUI=OFF \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build "$root" -j "$jobs" --target fuzz_seed_maker $(for t in $targets; do echo "${t}_fuzz"; done) >/dev/null
rm -rf "$root/seeds" "$root/profiles" && "$root/tests/fuzz/fuzz_seed_maker" "$root/seeds"
mkdir -p "$root/profiles"
objects=()
for t in $targets; do
  mkdir -p "$corpus/$t"
  LLVM_PROFILE_FILE="$root/profiles/$t.profraw" \
    "$root/tests/fuzz/${t}_fuzz" "$corpus/$t" "$root/seeds/$t" "tests/fuzz/regressions/$t" >/dev/null 2>&1
  objects+=(-object "$root/tests/fuzz/${t}_fuzz")
done
llvm-profdata merge -sparse "$root"/profiles/*.profraw -o "$root/fuzz.profdata"
# The TOTAL row: regions, missed, cover, functions, missed, executed, lines, missed, cover, branches...
# (inline functions the targets instantiate alike but not identically are reported as mismatched)
report() {
  llvm-cov report "${objects[@]:1}" -instr-profile="$root/fuzz.profdata" "$@" 2>/dev/null | tail -1 |
    awk '{ printf "lines %s (%d of %d), branches %s (%d of %d)\n", $10, $8 - $9, $8, $13, $11 - $12, $11 }'
}
echo "src/:            $(report "$PWD/src")"
echo "table, dat, map: $(report "$PWD/src/table" "$PWD/src/dat" "$PWD/src/map")"
