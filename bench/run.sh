#!/usr/bin/env bash
# Runs every benchmark program of BUILD and prints one summary table.
#
# Each program writes Google Benchmark's JSON to BUILD/bench-results/NAME.json
# and its console table to NAME.txt.  Repetitions run interleaved in random
# order, so that a burst of load on a shared machine falls on the library's
# and the raw reference's figures alike; the summary takes their medians.
#
#   KIV_BENCH_REPETITIONS  repetitions per benchmark (default 9)
#   KIV_BENCH_MIN_TIME     seconds per repetition (default 0.1)
#   KIV_BENCH_DIR          where catalogues are built (default BUILD/bench)
set -uo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
out="$build/bench-results"
reps=${KIV_BENCH_REPETITIONS:-9}
min_time=${KIV_BENCH_MIN_TIME:-0.1}
mkdir -p "$out"
rm -f "$out"/*.json "$out"/*.txt

{
  echo "run: $(date -u '+%Y-%m-%d %H:%M UTC'), $reps interleaved repetitions of at least ${min_time} s each, medians"
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
       "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)"
  echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
} > "$out/conditions.txt"

failed=0
for program in "$build"/bench/bench_*; do
  [ -f "$program" ] && [ -x "$program" ] || continue
  name=$(basename "$program")
  # The bulk-insert, index and import programs fix their own iteration counts and
  # take seconds per repetition.
  case $name in
    bench_terminals | bench_index | bench_access_import | bench_postgresql) r=3 ;;
    *) r=$reps ;;
  esac
  start=$SECONDS
  printf '%-22s' "$name"
  if "$program" --benchmark_repetitions="$r" --benchmark_enable_random_interleaving=true \
      --benchmark_min_time="$min_time" --benchmark_display_aggregates_only=true \
      --benchmark_out="$out/$name.json" --benchmark_out_format=json >"$out/$name.txt" 2>&1; then
    echo "$((SECONDS - start)) s"
  else
    echo "FAILED after $((SECONDS - start)) s: see $out/$name.txt"
    failed=1
  fi
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/conditions.txt"
echo
python3 "$here/summary.py" "$out"
exit $failed
