#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer on) in
# build-fuzz and runs each for FUZZ_SECONDS seconds (60), as many at once as there are cores.
# Seeds come from the fixture builders and, when Python's GDAL bindings are there, from tables
# GDAL writes. Any crash, hang, leak or out-of-memory fails the run; the input that caused it is
# left in build-fuzz/artifacts/.
#
#   scripts/test-fuzz.sh                   60 s per target (CI)
#   FUZZ_SECONDS=3600 scripts/test-fuzz.sh one hour per target
#   FUZZ_TARGETS="map tab_text" scripts/test-fuzz.sh   only these targets
#   build-fuzz/tests/fuzz/map_fuzz build-fuzz/corpus/map -jobs=2 -workers=2   one target, by hand
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc 2>/dev/null || echo 2)
root=$PWD/build-fuzz

cmake --preset fuzz >/dev/null
targets=$(cmake --build "$root" --target help | sed -n 's/^\.\.\. \([a-z_]*\)_fuzz$/\1/p' | sort)
if [ -n "${FUZZ_TARGETS:-}" ]; then
  for t in $FUZZ_TARGETS; do
    if ! printf '%s\n' $targets | grep -qx "$t"; then
      echo "no fuzz target $t (there are: $(echo $targets))" >&2
      exit 2
    fi
  done
  targets=$FUZZ_TARGETS
fi
if [ -z "$targets" ]; then
  echo "no fuzz targets yet"
  exit 0
fi
cmake --build "$root" -j "$jobs" --target fuzz_seed_maker $(for t in $targets; do echo "${t}_fuzz"; done)

# Seed corpora: fixtures, then GDAL's tables (each target's files of one kind).
seeds=$root/seeds
rm -rf "$seeds" && "$root/tests/fuzz/fuzz_seed_maker" "$seeds"
if /usr/bin/python3 -c "from osgeo import ogr" 2>/dev/null; then
  gdal=$root/gdal-tables
  rm -rf "$gdal" && /usr/bin/python3 tests/interop/gdal_interop.py make "$gdal" \
    mixed cyrillic symbols attributes_only
  for dir in "$gdal"/*; do
    name=$(basename "$dir")
    cp "$dir/$name.dat" "$seeds/dat/gdal_$name"
    cp "$dir/$name.map" "$seeds/map/gdal_$name"
    cp "$dir/$name.tab" "$seeds/tab_text/gdal_$name"
    { printf '\x03'; cat "$dir/$name.tab"; printf '\n#~~#\n'; cat "$dir/$name.dat"; printf '\n#~~#\n'
      cat "$dir/$name.map"; } >"$seeds/driver/gdal_$name"
  done
fi

# Each session starts from the seeds and the inputs that once failed. The targets write their
# files to a private folder, in memory where the system has one.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm/tabrescue-fuzz-$$
else
  export TMPDIR=$root/tmp
fi
trap 'rm -rf "$TMPDIR"' EXIT
rm -rf "$TMPDIR" "$root/corpus" "$root/logs" && mkdir -p "$TMPDIR" "$root/artifacts" "$root/logs"
# Ten frames of each allocation's stack instead of thirty: unwinding them cost a tenth of the time.
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:malloc_context_size=10${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# Inputs beyond these sizes only cost time: a .MAP of 16 blocks, a .DAT of a thousand rows, a
# definition of a hundred fields. (In an hour's session the text target lengthened its inputs to
# 8 KiB, and each execution then cost ten times what it had.)
max_len() {
  case $1 in
    tab_text) echo 4096 ;;
    map) echo 8192 ;;
    driver) echo 32768 ;;
    *) echo 16384 ;;
  esac
}

run_one() {
  local t=$1 dict=()
  mkdir -p "$root/corpus/$t"
  case $t in tab_text | driver) dict=(-dict=tests/fuzz/tab_text.dict) ;; esac
  "$root/tests/fuzz/${t}_fuzz" "$root/corpus/$t" "$seeds/$t" "tests/fuzz/corpus/$t" "tests/fuzz/regressions/$t" \
    "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=64 \
    -max_len="$(max_len "$t")" -print_final_stats=1 -artifact_prefix="$root/artifacts/$t-" \
    >"$root/logs/$t.log" 2>&1
}
export -f run_one max_len
export root seeds seconds

status=0
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1
for t in $targets; do
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$root/logs/$t.log" | tail -1)
  if grep -q "ERROR: \|FUZZ FINDING\|SUMMARY: \|Test unit written" "$root/logs/$t.log"; then
    status=1
    echo "=== ${t}_fuzz: FINDING"
    grep -m 30 "ERROR\|FUZZ FINDING\|SUMMARY\|#[0-9]* 0x\|Test unit written" "$root/logs/$t.log" || true
  else
    echo "=== ${t}_fuzz: ${execs:-?} executions in ${seconds} s, no finding"
  fi
done
exit $status
