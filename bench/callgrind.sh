#!/usr/bin/env bash
# Instructions per call of each read, library against the raw reference,
# counted by valgrind's callgrind: unlike times on a shared machine these
# repeat from run to run.  Not part of `make bench` (about two minutes).
#
#   bench/callgrind.sh BUILD
#
# Only the measured function is counted (--toggle-collect), and its cost is
# divided by the calls made from the benchmark loop, so set-up and the one
# captured call are left out.
set -uo pipefail
build=${1:-build}
program="$build/bench/bench_reads"
[ -x "$program" ] || { echo "no $program: build the target bench_reads first" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Instructions per call of FUNCTION (a name, with its opening parenthesis)
# when called from a caller whose name contains CALLER, in benchmark FILTER.
per_call() {
  local filter=$1 function=$2 caller=$3 out="$work/out"
  valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect="${function%(}*" \
    "$program" --benchmark_filter="$filter" --benchmark_min_time=0.01 >/dev/null 2>&1 || return 1
  # In the caller tree each function's block lists its callers ("< ...",
  # inclusive cost and call count) above the function's own "*" line.
  callgrind_annotate --inclusive=yes --tree=caller "$out" 2>/dev/null |
    awk -v fn="$function" -v caller="$caller" '
      /^ *$/ { n = 0; next }
      index($0, "< ") { lines[++n] = $0; next }
      index($0, "* ") && index($0, fn) {
        for (i = 1; i <= n; ++i) {
          if (!index(lines[i], caller) || !match(lines[i], /\(([0-9]+)x\)/)) continue
          calls = substr(lines[i], RSTART + 1, RLENGTH - 3)
          ir = lines[i]; sub(/^ */, "", ir); sub(/ .*/, "", ir); gsub(",", "", ir)
          print int(ir / calls); exit
        }
      }'
}

printf '%-24s %14s %14s %7s\n' operation library raw ratio
for op in GetModSpecData GetModTermData GetArrayOfModSpecCodes GetArrayOfAllIndexData DoesSpecDataExist \
  GetStyleBoxData GetSpecRecCount ReturnLocalizedPrompt; do
  library=$(per_call "^$op/library\$" "KivPlcDbIO::$op(" "(anonymous namespace)::$op(")
  raw=$(per_call "^$op/raw\$" "kivbench::RawSqlite::Step(" "")
  if [ -n "$library" ] && [ -n "$raw" ]; then
    printf '%-24s %14s %14s %7s\n' "$op" "$library" "$raw" \
      "$(awk -v a="$library" -v b="$raw" 'BEGIN { r = a / b; printf(r >= 0.1 ? "%.2fx" : "%.2gx", r) }')"
  else
    printf '%-24s %14s %14s %7s\n' "$op" "${library:--}" "${raw:--}" "-"
  fi
done
