#!/usr/bin/env bash
# Measures the recovery against copying the same files, on generated tables with a warm page cache.
#
#   bench/run.sh            N = 1,000,000 and 4,000,000, medians of 5 repetitions, targets checked
#   bench/run.sh --tiny     N = 10,000 and 40,000, one repetition, nothing checked (run by ./test.sh)
#
# Options: --rows N, --big N, --reps R, --seed S, --work DIR (tables and scratch files; default
# build/bench-data), --build DIR (default build), --json FILE (default WORK/results.json), --clean.
# Prints a table of ratios and writes it as JSON. Exit status 3 when a full run misses a target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

rows=1000000 big=4000000 reps=5 seed=1 tiny=0 clean=0
build=$root/build work= json=
while [ $# -gt 0 ]; do
  case $1 in
    --tiny) tiny=1 rows=10000 big=40000 reps=1 ;;
    --rows) rows=$2; shift ;;
    --big) big=$2; shift ;;
    --reps) reps=$2; shift ;;
    --seed) seed=$2; shift ;;
    --work) work=$2; shift ;;
    --build) build=$2; shift ;;
    --json) json=$2; shift ;;
    --clean) clean=1 ;;
    *) sed -n '2,10s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
  shift
done
work=${work:-$build/bench-data}
json=${json:-$work/results.json}
mkdir -p "$work"
work=$(cd "$work" && pwd)

say() { printf '%s\n' "$*" >&2; }

# --- build ------------------------------------------------------------------------------------
say "building in $build"
cmake -S "$root" -B "$build" -DTABRESCUE_BENCH=ON >/dev/null
targets=(tabrescue tabrescue-gen-table tabrescue-stage-bench)
[ $tiny -eq 1 ] && targets+=(bench_tests)
# The window's benchmark exists only where the window is built (Qt 6 with Qt Test).
window=0
if cmake --build "$build" --target help | grep -q 'tabrescue-form-bench'; then
  targets+=(tabrescue-form-bench)
  window=1
fi
cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null
cli=$build/tabrescue
gen=$build/bench/tabrescue-gen-table
stages=$build/bench/tabrescue-stage-bench
form=$build/bench/tabrescue-form-bench
[ $tiny -eq 1 ] && "$build/bench/bench_tests" --gtest_brief=1 >&2

# --- helpers ----------------------------------------------------------------------------------
q() { printf '%q' "$1"; }
cat_to_null() { cat "$1" >/dev/null; }

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# measure PREP CMD...: runs PREP (untimed, a shell snippet) and then CMD, reps times after one
# untimed warm-up run; prints the median wall time of CMD in seconds. (A virtual machine backs
# memory that was never touched slowly; the warm-up pays that, not the first measurement.)
measure() {
  local prep=$1; shift
  local i t0 t1 times=()
  eval "$prep"
  "$@"
  for ((i = 0; i < reps; i++)); do
    eval "$prep"
    t0=$EPOCHREALTIME
    "$@"
    t1=$EPOCHREALTIME
    times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | median
}

# The table of N rows, generated once per N and seed.
table_for() {
  local n=$1 dir=$work/n$1-s$seed
  if [ ! -f "$dir/summary.json" ]; then
    say "generating $n rows in $dir"
    rm -rf "$dir"
    "$gen" --rows "$n" --seed "$seed" "$dir/table" >"$dir.json.part"
    mv "$dir.json.part" "$dir/summary.json"
  fi
  echo "$dir"
}

warm() { cat "$1"/table/* >/dev/null; cat "$1"/table/* >/dev/null; }

# Every run starts from a clean slate: no leftovers, no dirty pages from the run before.
fresh() { rm -rf "$@"; sync; }

# One whole run of the command line; its log goes to a file, its exit status must be 0.
whole_run() { # DIR
  if ! TMPDIR=$1/tmp "$cli" --all -o "$1/out" "$1/table/bench.TAB" >"$1/run.log" 2>&1 ||
    [ ! -f "$1/out/bench_DAT.TAB" ] || [ ! -f "$1/out/bench_MAP.TAB" ]; then
    say "tabrescue failed:"
    tail -n 20 "$1/run.log" >&2
    exit 1
  fi
}
prep_run() { fresh "$1/out" "$1/tmp"; mkdir -p "$1/out" "$1/tmp"; }

peak_rss_kib() { # DIR
  prep_run "$1"
  TMPDIR=$1/tmp /usr/bin/time -v -o "$1/time.txt" "$cli" --all -o "$1/out" "$1/table/bench.TAB" >/dev/null 2>&1
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$1/time.txt"
}

# Median real time in seconds of one stage from Google Benchmark's CSV.
stage_seconds() { # CSV NAME
  awk -F, -v name="$2" '
    { gsub(/"/, "", $1) }
    $1 ~ "^" name "/" && $1 ~ /_median$/ { med = $3; unit = $5 }
    $1 ~ "^" name "/" && $1 !~ /_(mean|median|stddev|cv)$/ { one = $3; unit = $5 }
    END {
      v = (med != "") ? med : one
      f = (unit == "ns") ? 1e-9 : (unit == "us") ? 1e-6 : (unit == "ms") ? 1e-3 : 1
      printf "%.6f", v * f
    }' "$1"
}

# --- measurements at N ------------------------------------------------------------------------
dir=$(table_for "$rows")
scratch=$dir/scratch
mkdir -p "$scratch"
tab=$dir/table/bench.TAB dat=$dir/table/bench.DAT map=$dir/table/bench.MAP
warm "$dir"

say "stages at N=$rows ($reps repetitions)"
sync
"$stages" --table="$tab" --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
  --benchmark_format=csv >"$scratch/stages.csv" 2>"$scratch/stages.err" ||
  { cat "$scratch/stages.err" >&2; exit 1; }
if grep -q ',true,' "$scratch/stages.csv"; then
  cat "$scratch/stages.csv" "$scratch/stages.err" >&2
  exit 1
fi
rm -f "$dir"/table/bench#R_*
s_datcount=$(stage_seconds "$scratch/stages.csv" getDelDATcount)
s_mapcount=$(stage_seconds "$scratch/stages.csv" getDelMAPcount)
s_datrec=$(stage_seconds "$scratch/stages.csv" doDelDAT_recover)
s_maprec=$(stage_seconds "$scratch/stages.csv" doDelMAP_ID_recover)

say "baselines at N=$rows"
# What starting a process costs here: the baselines pay it, the in-process stages do not.
b_start=$(measure : /bin/true)
b_catdat=$(measure : cat_to_null "$dat")
b_catmap=$(measure : cat_to_null "$map")
b_cpdat=$(measure "fresh $(q "$scratch/copy.DAT")" cp "$dat" "$scratch/copy.DAT")
b_cpmap=$(measure "fresh $(q "$scratch/copy.MAP")" cp "$map" "$scratch/copy.MAP")
rm -f "$scratch"/copy.*

say "whole runs at N=$rows"
s_run=$(measure "prep_run $(q "$dir")" whole_run "$dir")
b_cpr=$(measure "fresh $(q "$scratch/copy")" cp -r "$dir/table" "$scratch/copy")
rss=$(peak_rss_kib "$dir")
fresh "$dir/out" "$dir/tmp" "$scratch/copy"

s_window=0
if [ $window -eq 1 ]; then
  say "runs through the window at N=$rows"
  QT_QPA_PLATFORM=offscreen TMPDIR=$dir/tmp TABRESCUE_BENCH_TABLE=$tab TABRESCUE_BENCH_OUT=$dir/out \
    TABRESCUE_BENCH_REPS=$reps TABRESCUE_BENCH_RESULT=$scratch/window.txt "$form" >"$scratch/window.log" 2>&1 ||
    { cat "$scratch/window.log" >&2; exit 1; }
  s_window=$(awk '$1 == "window_seconds" { print $2 }' "$scratch/window.txt")
  fresh "$dir/out" "$dir/tmp"
fi

# --- whole runs at the big N -------------------------------------------------------------------
bigdir=$(table_for "$big")
warm "$bigdir"
say "whole runs at N=$big"
s_runbig=$(measure "prep_run $(q "$bigdir")" whole_run "$bigdir")
b_cprbig=$(measure "fresh $(q "$bigdir/copy")" cp -r "$bigdir/table" "$bigdir/copy")
rssbig=$(peak_rss_kib "$bigdir")
fresh "$bigdir/out" "$bigdir/tmp" "$bigdir/copy"

if [ $clean -eq 1 ]; then
  rm -rf "$dir" "$bigdir"
fi

# --- report -----------------------------------------------------------------------------------
# Linear growth allows 10% over the ratio of the sizes.
growth_target=$(awk -v a="$big" -v b="$rows" 'BEGIN { printf "%.2f", 1.1 * a / b }')

awk -v tiny=$tiny -v out="$work/results.part" \
  -v datcount="$s_datcount" -v catdat="$b_catdat" \
  -v mapcount="$s_mapcount" -v catmap="$b_catmap" \
  -v datrec="$s_datrec" -v cpdat="$b_cpdat" \
  -v maprec="$s_maprec" -v cpmap="$b_cpmap" \
  -v run="$s_run" -v cpr="$b_cpr" -v runbig="$s_runbig" -v cprbig="$b_cprbig" \
  -v rss="$rss" -v rssbig="$rssbig" -v rows="$rows" -v big="$big" -v growth="$growth_target" \
  -v start="$b_start" -v window="$s_window" '
  function row(name, ours, base, target, unit) {
    n++; names[n] = name; o[n] = ours; b[n] = base; t[n] = target; u[n] = unit
    r[n] = (base > 0) ? ours / base : ours
  }
  BEGIN {
    row("getDelDATcount / cat .DAT", datcount, catdat, 1.2, "s")
    row("getDelMAPcount / cat .MAP", mapcount, catmap, 1.2, "s")
    row("doDelDAT_recover / cp .DAT", datrec, cpdat, 1.5, "s")
    row("doDelMAP_ID_recover / cp .MAP", maprec, cpmap, 1.5, "s")
    row("tabrescue --all / cp -r", run, cpr, 3.5, "s")
    row("tabrescue --all / cp -r, N=" big, runbig, cprbig, 0, "s")
    row("peak RSS, N=" rows, rss / 1024, 0, 64, "MiB")
    row("peak RSS, N=" big, rssbig / 1024, 0, 64, "MiB")
    row("time N=" big " / time N=" rows, runbig, run, growth, "s")
    if (window > 0) row("window / command line", window, run, 1.2, "s")

    printf "N = %d (and %d), medians of wall time in seconds\n", rows, big
    printf "%-38s %10s %10s %8s %7s\n", "measure", "ours", "baseline", "ratio", "target"
    missed = 0
    for (i = 1; i <= n; i++) {
      verdict = (t[i] == 0) ? "" : (tiny ? "" : (r[i] <= t[i] ? "met" : "MISSED"))
      if (verdict == "MISSED") missed++
      printf "%-38s %10.3f %10s %8.2f %7s  %s\n", names[i], o[i], (u[i] == "MiB") ? "-" : sprintf("%.3f", b[i]),
             r[i], (t[i] == 0) ? "-" : "<= " t[i], verdict
      printf "%s    {\"measure\": \"%s\", \"ours\": %.6f, \"baseline\": %s, \"unit\": \"%s\", \"ratio\": %.4f, \"target\": %s, \"met\": %s}",
             (i > 1 ? ",\n" : ""), names[i], o[i], (u[i] == "MiB") ? "null" : sprintf("%.6f", b[i]), u[i], r[i],
             (t[i] == 0) ? "null" : t[i], (t[i] == 0 || tiny) ? "null" : (r[i] <= t[i] ? "true" : "false") > out
    }
    printf "(starting a process takes %.3f s here; the stages run inside one)\n", start
    if (tiny) print "(tiny run: targets not checked)"
    print "" > out
    print missed > (out ".missed")
  }'
missed=$(cat "$work/results.part.missed")
{
  printf '{\n  "rows": %s,\n  "big_rows": %s,\n  "repetitions": %s,\n  "seed": %s,\n' "$rows" "$big" "$reps" "$seed"
  printf '  "cores": %s,\n  "kernel": "%s",\n  "targets_checked": %s,\n  "process_start": %s,\n' \
    "$(nproc)" "$(uname -r)" "$([ $tiny -eq 1 ] && echo false || echo true)" "$b_start"
  printf '  "results": [\n%s\n  ]\n}\n' "$(cat "$work/results.part")"
} >"$json"
rm -f "$work/results.part" "$work/results.part.missed"
echo "written $json"

if [ $tiny -eq 0 ] && [ "$missed" -gt 0 ]; then
  say "$missed target(s) missed"
  exit 3
fi
