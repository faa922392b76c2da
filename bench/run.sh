#!/bin/sh
# One command for the whole benchmark: build in Release, generate the logs,
# measure ours, the peers and the floors side by side, print the table.
#   bench/run.sh [S|M|L|all ...] [bench.py options]
# Scratch files go to $TRACE_BENCH_DIR (default /tmp/trace-bench).
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTRACE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 || echo "run.sh: build incomplete, measuring what was built" >&2
[ $# -gt 0 ] || set -- all
exec /usr/bin/python3 "$repo/bench/bench.py" --build "$repo/build-bench" "$@"
