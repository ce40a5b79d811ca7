#!/usr/bin/env bash
# Measures the recovery against copying the same files, on generated tables with a warm page cache.
#
#   bench/run.sh            N = 1,000,000 and 4,000,000, medians of 5 runs, targets checked
#   bench/run.sh --tiny     N = 10,000 and 40,000, one run each, nothing checked (run by ./test.sh)
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
mkdir -p "$work"
work=$(cd "$work" && pwd)
json=${json:-$work/results.json}

say() { printf '%s\n' "$*" >&2; }
# Stops the whole script, also from inside the subshells that the measurements run in.
die() {
  say "$@"
  kill -TERM $$
  exit 1
}

# --- build ------------------------------------------------------------------------------------
say "building in $build"
(cd "$root" && cmake --preset bench -B "$build" >/dev/null)
targets=(tabrescue tabrescue-gen-table tabrescue-stage-bench)
# The window's benchmark exists only where the window is built (Qt 6 with Qt Test).
window=0
if [[ $(cmake --build "$build" --target help) == *tabrescue-form-bench* ]]; then
  targets+=(tabrescue-form-bench)
  window=1
fi
cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null
cli=$build/tabrescue
gen=$build/bench/tabrescue-gen-table
stages=$build/bench/tabrescue-stage-bench
form=$build/bench/tabrescue-form-bench
# The core counts what the generator says it deleted, or the tables measure something else.
if [ $tiny -eq 1 ]; then
  check=$(mktemp -d)
  summary=$("$gen" --rows 3000 "$check")
  want="$(sed -n 's/.*"deleted_rows": \([0-9]*\).*/\1/p' <<<"$summary") deleted rows, $(sed -n 's/.*"deleted_objects": \([0-9]*\).*/\1/p' <<<"$summary") deleted geometries"
  got=$("$cli" --check "$check/bench.TAB")
  rm -rf "$check"
  [[ $got == *": $want" ]] || die "generated table: the core counts '$got', the generator says '$want'"
fi

# --- helpers ----------------------------------------------------------------------------------
q() { printf '%q' "$1"; }
cat_to_null() { cat "$1" >/dev/null; }

# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# timed CMD...: runs CMD and prints its wall time and its processor time (user + system,
# children included) in seconds.
timed() {
  local report wall user sys
  report=$(mktemp)
  { time "$@" 2>&4; } 4>&2 2>"$report"
  read -r wall user sys <"$report"
  rm -f "$report"
  awk -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f %.3f\n", w, u + s }'
}
TIMEFORMAT='%3R %3U %3S'

# compare PREP_A CMD_A PREP_B CMD_B: shell snippets; each CMD prints "wall cpu" (through timed, or
# from the stage benchmark's own clock). One untimed warm-up of each, then reps runs of A and B in
# turn, so that a machine whose load drifts weighs on both alike. Prints the medians
# "wall_A cpu_A wall_B cpu_B". (The warm-up also pays for memory that a virtual machine touches for
# the first time, which would otherwise be timed instead of the command.)
compare() {
  local i wa=() ca=() wb=() cb=() w c
  eval "$1"; eval "$2" >/dev/null
  eval "$3"; eval "$4" >/dev/null
  for ((i = 0; i < reps; i++)); do
    eval "$1"; read -r w c <<<"$(eval "$2")"; wa+=("$w"); ca+=("$c")
    eval "$3"; read -r w c <<<"$(eval "$4")"; wb+=("$w"); cb+=("$c")
  done
  echo "$(printf '%s\n' "${wa[@]}" | median) $(printf '%s\n' "${ca[@]}" | median)" \
    "$(printf '%s\n' "${wb[@]}" | median) $(printf '%s\n' "${cb[@]}" | median)"
}

# One run of a stage in the stage benchmark: "wall cpu" of the stage alone, in seconds.
stage_once() { # NAME
  local csv=$scratch/stage.csv
  "$stages" --table="$tab" --benchmark_filter="^$1/" --benchmark_format=csv >"$csv" 2>"$scratch/stage.err" ||
    die "the stage benchmark failed: $(cat "$scratch/stage.err")"
  grep -q ',true,' "$csv" && die "$1 failed: $(cat "$csv" "$scratch/stage.err")"
  stage_seconds "$csv" "$1"
  echo
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

# Every timed command starts from a clean slate: no dirty pages from the one before, no leftovers.
# The sync comes first: memory freed by the removal is then reused at once. (A virtual machine may
# hand memory that stays free for a second or two back to its host, and taking it back costs
# about 15 us a page: waiting for a sync after the removal made the same cp -r ten times slower.)
fresh() { sync; rm -rf "$@"; }

# One whole run of the command line; its log goes to a file, it must end OK with both results.
whole_run() { # DIR
  if ! TMPDIR=$1/tmp "$cli" --all -o "$1/out" "$1/table/bench.TAB" >"$1/run.log" 2>&1 ||
    [ ! -f "$1/out/bench_DAT.TAB" ] || [ ! -f "$1/out/bench_MAP.TAB" ]; then
    die "tabrescue failed: $(tail -n 20 "$1/run.log")"
  fi
}
prep_run() { fresh "$1/out" "$1/tmp"; mkdir -p "$1/out" "$1/tmp"; }

peak_rss_kib() { # DIR
  prep_run "$1"
  TMPDIR=$1/tmp /usr/bin/time -v -o "$1/time.txt" "$cli" --all -o "$1/out" "$1/table/bench.TAB" >/dev/null 2>&1
  awk -F': ' '/Maximum resident set size/ { print $2 }' "$1/time.txt"
}

# Medians of one stage's wall and processor time in seconds, from Google Benchmark's CSV.
stage_seconds() { # CSV NAME
  awk -F, -v name="$2" '
    { gsub(/"/, "", $1) }
    $1 ~ "^" name "/" && $1 ~ /_median$/ { mw = $3; mc = $4; unit = $5 }
    $1 ~ "^" name "/" && $1 !~ /_(mean|median|stddev|cv)$/ { ow = $3; oc = $4; unit = $5 }
    END {
      w = (mw != "") ? mw : ow; c = (mw != "") ? mc : oc
      f = (unit == "ns") ? 1e-9 : (unit == "us") ? 1e-6 : (unit == "ms") ? 1e-3 : 1
      printf "%.6f %.6f", w * f, c * f
    }' "$1"
}

# --- measurements at N ------------------------------------------------------------------------
dir=$(table_for "$rows")
scratch=$dir/scratch
mkdir -p "$scratch"
tab=$dir/table/bench.TAB dat=$dir/table/bench.DAT map=$dir/table/bench.MAP
warm "$dir"

say "stages and their baselines at N=$rows ($reps runs each)"
# What starting a process costs here: the baselines pay it, the stages run inside one process.
read -r b_start _ _ _ <<<"$(compare : "timed /bin/true" : "timed /bin/true")"
read -r s_datcount c_datcount b_catdat d_catdat <<<"$(compare \
  "sync" "stage_once getDelDATcount" \
  "sync" "timed cat_to_null $(q "$dat")")"
read -r s_mapcount c_mapcount b_catmap d_catmap <<<"$(compare \
  "sync" "stage_once getDelMAPcount" \
  "sync" "timed cat_to_null $(q "$map")")"
read -r s_datrec c_datrec b_cpdat d_cpdat <<<"$(compare \
  "fresh $(q "$dir")/table/bench#R_DAT.*" "stage_once doDelDAT_recover" \
  "fresh $(q "$scratch/copy.DAT")" "timed cp $(q "$dat") $(q "$scratch/copy.DAT")")"
read -r s_maprec c_maprec b_cpmap d_cpmap <<<"$(compare \
  "fresh $(q "$dir")/table/bench#R_MAP.*" "stage_once doDelMAP_ID_recover" \
  "fresh $(q "$scratch/copy.MAP")" "timed cp $(q "$map") $(q "$scratch/copy.MAP")")"
rm -f "$scratch"/copy.* "$dir"/table/bench#R_*

say "whole runs at N=$rows"
read -r s_run c_run b_cpr d_cpr <<<"$(compare \
  "prep_run $(q "$dir")" "timed whole_run $(q "$dir")" \
  "fresh $(q "$scratch/copy")" "timed cp -r $(q "$dir/table") $(q "$scratch/copy")")"
rss=$(peak_rss_kib "$dir")
fresh "$dir/out" "$dir/tmp" "$scratch/copy"

s_window=0 repaints=0
if [ $window -eq 1 ]; then
  say "runs through the window at N=$rows"
  QT_QPA_PLATFORM=offscreen TMPDIR=$dir/tmp TABRESCUE_BENCH_TABLE=$tab TABRESCUE_BENCH_OUT=$dir/out \
    TABRESCUE_BENCH_REPS=$reps TABRESCUE_BENCH_RESULT=$scratch/window.txt "$form" >"$scratch/window.log" 2>&1 ||
    { cat "$scratch/window.log" >&2; exit 1; }
  s_window=$(awk '$1 == "window_seconds" { print $2 }' "$scratch/window.txt")
  repaints=$(awk '$1 == "repaints" { print $2 }' "$scratch/window.txt")
  fresh "$dir/out" "$dir/tmp"
fi

# --- whole runs at the big N -------------------------------------------------------------------
bigdir=$(table_for "$big")
warm "$bigdir"
say "whole runs at N=$big"
read -r s_runbig c_runbig b_cprbig d_cprbig <<<"$(compare \
  "prep_run $(q "$bigdir")" "timed whole_run $(q "$bigdir")" \
  "fresh $(q "$bigdir/copy")" "timed cp -r $(q "$bigdir/table") $(q "$bigdir/copy")")"
rssbig=$(peak_rss_kib "$bigdir")
fresh "$bigdir/out" "$bigdir/tmp" "$bigdir/copy"

if [ $clean -eq 1 ]; then
  rm -rf "$dir" "$bigdir"
fi

# --- report -----------------------------------------------------------------------------------
# Linear growth allows 10% over the ratio of the sizes.
growth_target=$(awk -v a="$big" -v b="$rows" 'BEGIN { printf "%.2f", 1.1 * a / b }')
part=$work/results.part

FIGURES="$s_datcount $b_catdat $c_datcount $d_catdat $s_mapcount $b_catmap $c_mapcount $d_catmap \
$s_datrec $b_cpdat $c_datrec $d_cpdat $s_maprec $b_cpmap $c_maprec $d_cpmap \
$s_run $b_cpr $c_run $d_cpr $s_runbig $b_cprbig $c_runbig $d_cprbig $rss $rssbig $s_window" \
awk -v tiny=$tiny -v out="$part" -v rows="$rows" -v big="$big" -v reps="$reps" -v growth="$growth_target" \
  -v start="$b_start" -v repaints="$repaints" '
  # name, wall ours, wall base, cpu ours, cpu base, target, unit
  function row(name, w, bw, c, bc, target, unit) {
    n++; names[n] = name; o[n] = w; b[n] = bw; co[n] = c; cb[n] = bc; t[n] = target; u[n] = unit
    r[n] = (bw > 0) ? w / bw : w
    rc[n] = (bc > 0) ? c / bc : ""
  }
  BEGIN {
    split(ENVIRON["FIGURES"], v, " ")
    row("getDelDATcount / cat .DAT", v[1], v[2], v[3], v[4], 1.2, "s")
    row("getDelMAPcount / cat .MAP", v[5], v[6], v[7], v[8], 1.2, "s")
    row("doDelDAT_recover / cp .DAT", v[9], v[10], v[11], v[12], 1.5, "s")
    row("doDelMAP_ID_recover / cp .MAP", v[13], v[14], v[15], v[16], 1.5, "s")
    row("tabrescue --all / cp -r", v[17], v[18], v[19], v[20], 3.5, "s")
    row("same at N=" big, v[21], v[22], v[23], v[24], 0, "s")
    row("peak RSS (MiB), N=" rows, v[25] / 1024, 0, "", 0, 64, "MiB")
    row("peak RSS (MiB), N=" big, v[26] / 1024, 0, "", 0, 64, "MiB")
    row("time N=" big " / time N=" rows, v[21], v[17], v[23], v[19], growth, "s")
    row("  the same for cp -r", v[22], v[18], v[24], v[20], 0, "s")
    if (v[27] > 0) row("window / command line", v[27], v[17], "", 0, 1.2, "s")

    printf "N = %d (whole runs also at N = %d); medians of %d runs after one warm-up\n", rows, big, reps
    printf "%-32s %8s %8s %6s | %8s %8s %6s | %s\n", "", "wall", "baseline", "ratio", "cpu", "baseline", "ratio", "target"
    missed = 0
    for (i = 1; i <= n; i++) {
      verdict = (t[i] == 0 || tiny) ? "" : (r[i] <= t[i] ? "met" : "MISSED")
      if (verdict == "MISSED") missed++
      if (u[i] == "MiB")
        printf "%-32s %8.1f %8s %6s | %8s %8s %6s | <= %s %s\n", names[i], o[i], "", "", "", "", "", t[i], verdict
      else
        printf "%-32s %8.3f %8.3f %6.2f | %8s %8s %6s | %s %s\n", names[i], o[i], b[i], r[i],
               (co[i] == "") ? "" : sprintf("%.3f", co[i]), (cb[i] > 0) ? sprintf("%.3f", cb[i]) : "",
               (rc[i] == "") ? "" : sprintf("%.2f", rc[i]), (t[i] == 0) ? "" : "<= " t[i], verdict
      printf "%s    {\"measure\": \"%s\", \"unit\": \"%s\", \"ours\": %.6f, \"baseline\": %s, \"ratio\": %.4f, \"cpu_ours\": %s, \"cpu_baseline\": %s, \"cpu_ratio\": %s, \"target\": %s, \"met\": %s}",
             (i > 1 ? ",\n" : ""), names[i], u[i], o[i], (u[i] == "MiB") ? "null" : sprintf("%.6f", b[i]), r[i],
             (co[i] == "") ? "null" : co[i], (cb[i] > 0) ? cb[i] : "null", (rc[i] == "") ? "null" : rc[i],
             (t[i] == 0) ? "null" : t[i], (t[i] == 0 || tiny) ? "null" : (r[i] <= t[i] ? "true" : "false") > out
    }
    print "" > out
    printf "Starting a process takes %.3f s here; the baselines pay it, the four stages run inside one.\n", start
    if (v[27] > 0) printf "The log pane repainted %d times during a run through the window.\n", repaints
    if (tiny) print "(tiny run: targets not checked)"
    print missed > (out ".missed")
  }'
missed=$(cat "$part.missed")
{
  printf '{\n  "rows": %s,\n  "big_rows": %s,\n  "repetitions": %s,\n  "seed": %s,\n' "$rows" "$big" "$reps" "$seed"
  printf '  "cores": %s,\n  "kernel": "%s",\n  "targets_checked": %s,\n  "process_start": %s,\n' \
    "$(nproc)" "$(uname -r)" "$([ $tiny -eq 1 ] && echo false || echo true)" "$b_start"
  printf '  "window_repaints": %s,\n  "results": [\n%s\n  ]\n}\n' "$repaints" "$(cat "$part")"
} >"$json"
rm -f "$part" "$part.missed"
echo "written $json"

if [ $tiny -eq 0 ] && [ "$missed" -gt 0 ]; then
  say "$missed target(s) missed"
  exit 3
fi
