#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (ASan + UBSan) in their
# own build directory and runs each for a bounded time over its kept
# corpus.  New inputs go to the build directory, never into the repository;
# a crash fails the run and leaves its input there (crash-*, named in the
# output) to be fixed and then kept under fuzz/regressions/<target>/.
#
#   fuzz/run-libfuzzer.sh <build-dir> <seconds-per-target> <target>...
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
seconds=$2
shift 2
targets=("$@")
jobs=${KIV_FUZZ_JOBS:-2}

# Configured every time (quick once cached), so that a changed option
# reaches a build directory made earlier.  Warnings are the normal build's
# business (it has -Werror); clang's differ and must not stop the fuzzing.
# The tool's commands are built for the import target.
CC=clang CXX=clang++ cmake -S "$src" -B "$build" -G Ninja \
  -DKIV_FUZZ=ON -DKIV_SANITIZE=ON -DKIV_WERROR=OFF \
  -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF -DKIV_BUILD_CLI=ON \
  -DCMAKE_BUILD_TYPE=None \
  "-DCMAKE_C_FLAGS=-O1 -g -fsanitize=fuzzer-no-link" "-DCMAKE_CXX_FLAGS=-O1 -g -fsanitize=fuzzer-no-link" >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]}"

mkdir -p "$build/artifacts"
summary="$build/fuzz-summary.txt"
: >"$summary"
status=0
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Scratch catalogues in memory where there is room (the fuzzers test code,
# not the disk), in a directory of this run's that goes when it ends, also
# after a crash that skipped a target's own clean-up.
parent=/dev/shm
[ -w "$parent" ] || parent=${TMPDIR:-/tmp}
scratch=$(mktemp -d "$parent/kivplc-fuzz-run.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export TMPDIR=$scratch
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  dict=()
  [ -f "$src/fuzz/dict/$t.dict" ] && dict=(-dict="$src/fuzz/dict/$t.dict")
  log="$build/$t.log"
  seeds=("$src/fuzz/corpus/$t")
  [ -d "$src/fuzz/regressions/$t" ] && seeds+=("$src/fuzz/regressions/$t")
  if "$build/fuzz/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "${dict[@]}" \
      "$work" "${seeds[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 60 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  echo "$t: $result, ${runs:-?} executions (up to ${seconds}s), $cov, corpus $(ls "$work" | wc -l) files" | tee -a "$summary"
done
exit $status
