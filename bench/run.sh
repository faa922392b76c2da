#!/bin/sh
# One command for the whole benchmark: build in Release, generate the logs,
# measure ours, the peers and the floors side by side, with transparent huge
# pages allowed and disabled, to a fresh target and over an existing one,
# and print the table.
#   bench/run.sh [S|M|L|all ...] [bench.py options, e.g. --thp on --target fresh]
# Scratch files go to $TRACE_BENCH_DIR (default /tmp/trace-bench).
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTRACE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 || echo "run.sh: build incomplete, measuring what was built" >&2
# The launcher that runs each tool with huge pages allowed or disabled.
cc -O2 -Wall -o build-bench/thp_launch bench/thp_launch.c
[ $# -gt 0 ] || set -- all
exec /usr/bin/python3 "$repo/bench/bench.py" --build "$repo/build-bench" "$@"
