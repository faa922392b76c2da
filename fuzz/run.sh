#!/bin/sh
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each one in
# turn over a copy of its seed corpus, in a scratch directory (the programs
# write QLOG.txt into the current directory; nothing lands in the source
# tree but the build directory).
#   fuzz/run.sh [SECONDS_PER_HARNESS]        (default 15)
# Every harness runs SECONDS, but fuzz_mat73 (the 7.3 reader: a child
# process per input, about ten inputs a second) runs a fifth of that in runs
# shorter than a minute, 3 seconds of the default 15 that replay its seeds
# and regressions; from 60 seconds on it gets the full SECONDS.
# FUZZ_BUILD names the build directory (default: build-fuzz in the source
# tree). Fails when any harness reports a crash, leak, timeout or running out
# of memory; the scratch directory with the input that did it is then kept
# and named. Prints the executions of each harness and the time taken.
set -eu
seconds=${1:-15}
src=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$src/build-fuzz}

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DTRACE_FUZZ=ON -DTRACE_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target fuzz_log fuzz_mat fuzz_mat73 fuzz_eval fuzz_options >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/trace-fuzz-run.XXXXXX")
failed=""
total_runs=0
start=$(date +%s)
# harness, corpus, longest input: logs long enough for a line over 10239
# characters, level 4 and 5 MAT-files a few times the seeds, 7.3 files for a
# grown 7.3 seed, short expressions.
for entry in log:log:20000 mat:mat:4096 mat73:mat73:8192 eval:eval:512 options:options:1024; do
  name=${entry%%:*}
  rest=${entry#*:}
  corpus=${rest%%:*}
  maxlen=${rest#*:}
  # The 7.3 reader's child process lets the HDF5 library ask for the buffer
  # sizes a damaged file claims (an object header of 4 GiB): address space
  # that is never filled, and the failure is reported as damage. Single
  # allocations may go up to 8 GiB there; a larger one (a dataset of 9 GiB
  # claimed by a 3 KB file) fails as it would on a machine without the
  # memory, rather than have the sanitizer map its shadow for minutes. The
  # RSS limit still stops anything that fills memory.
  malloc_limit=2048
  asan=${ASAN_OPTIONS:-}
  time=$seconds
  if [ "$name" = mat73 ]; then
    malloc_limit=8192
    asan="${asan:+$asan:}allocator_may_return_null=1:max_allocation_size_mb=8192"
    if [ "$seconds" -lt 60 ]; then time=$(( seconds >= 5 ? seconds / 5 : 1 )); fi
  fi
  dir=$work/$name
  mkdir -p "$dir/corpus" "$dir/artifacts"
  cp "$src/fuzz/corpus/$corpus/"* "$dir/corpus/"
  # Inputs that once failed are replayed first with the seeds.
  if [ -d "$src/fuzz/regress/$corpus" ]; then cp "$src/fuzz/regress/$corpus/"* "$dir/corpus/"; fi
  t0=$(date +%s)
  rc=0
  (cd "$dir" && TMPDIR=$dir ASAN_OPTIONS=$asan "$build/fuzz_$name" -max_total_time="$time" -timeout=10 \
     -rss_limit_mb=2048 -malloc_limit_mb="$malloc_limit" -max_len="$maxlen" -close_fd_mask=3 -print_final_stats=1 \
     -artifact_prefix="$dir/artifacts/" corpus >"$dir/fuzz.txt" 2>&1) || rc=$?
  t1=$(date +%s)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/fuzz.txt" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/fuzz.txt" | tail -n 1)
  echo "fuzz_$name: ${runs:-?} executions in $((t1 - t0)) s (${rate:-?}/s), exit status $rc"
  total_runs=$((total_runs + ${runs:-0}))
  if [ "$rc" -ne 0 ] || [ -n "$(ls "$dir/artifacts")" ]; then
    failed="$failed fuzz_$name"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|[^ ]*: (runtime error|Fuzzer)|artifact_prefix|Test unit written|    #[0-9])' \
      "$dir/fuzz.txt" | head -n 40 || true
    echo "fuzz_$name: output in $dir/fuzz.txt, inputs in $dir/artifacts/"
  fi
done
echo "all harnesses: $total_runs executions in $(( $(date +%s) - start )) s"
if [ -n "$failed" ]; then
  echo "FAILED:$failed (scratch directory kept: $work)"
  exit 1
fi
rm -rf "$work"
