#!/usr/bin/env bash
# Runs every benchmark program; each writes Google Benchmark's JSON next to
# its console table under BUILD/bench-results/.
set -euo pipefail
build=${1:-build}
out="$build/bench-results"
mkdir -p "$out"
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  echo "== $name"
  "$b" --benchmark_out="$out/$name.json" --benchmark_out_format=json
done
