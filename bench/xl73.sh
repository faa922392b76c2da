#!/bin/sh
# XL73, run on demand: tracepack on a log of one field of 2^28 samples, whose
# 2 GiB of doubles are too many for level 5, so the file is written as MAT
# 7.3. Prints wall, user and sys seconds and the peak RSS of each run, and
# the same for a base binary measured in the same run, runs interleaved.
#   bench/xl73.sh [BASE_TRACEPACK]
# Environment: TRACEPACK (default: build-bench/tracepack, built here as
# run.sh builds it), RUNS (timed runs per binary, default 2),
# TRACE_BENCH_DIR (scratch, default /tmp/trace-bench; 3 GB for the log and
# an output).
set -e
repo=$(cd "$(dirname "$0")/.." && pwd)
base=$1
runs=${RUNS:-2}
dir=${TRACE_BENCH_DIR:-/tmp/trace-bench}/xl73
mkdir -p "$dir"
if [ -z "$TRACEPACK" ]; then
  cmake -S "$repo" -B "$repo/build-bench" -DCMAKE_BUILD_TYPE=Release -DTRACE_TESTS=OFF >/dev/null
  cmake --build "$repo/build-bench" -j2 --target tracepack >/dev/null
  TRACEPACK=$repo/build-bench/tracepack
fi

# One field "x" of the digits (3 * i) mod 10: 2 bytes a sample, 537 MB.
log=$dir/xl73.log
samples=268435456
if [ "$(stat -c %s "$log" 2>/dev/null)" != $((2 + 2 * samples)) ]; then
  /usr/bin/python3 - "$log" "$samples" <<'EOF'
import os, sys
path, n = sys.argv[1], int(sys.argv[2])
period = "".join("%d\n" % (3 * i % 10) for i in range(10)).encode()
chunk = period * 65536
with open(path + ".part", "wb") as f:
    f.write(b"x\n")
    for _ in range(n // 655360):
        f.write(chunk)
    f.write(period * (n % 655360 // 10))
    f.write(period[:2 * (n % 10)])
os.replace(path + ".part", path)
EOF
fi
cat "$log" >/dev/null  # in the page cache, as every run finds it

# Every value of the written file, through h5py: the run's figures count
# only for a file that reads back exactly.
check() {
  /usr/bin/python3 - "$1" "$samples" <<'EOF' || return 1
import sys, h5py, numpy as np
n = int(sys.argv[2])
step = 10 << 20
want = np.tile(np.arange(10, dtype=np.float64) * 3 % 10, step // 10)
with h5py.File(sys.argv[1], "r") as f:
    x = f["x"]
    ok = x.shape == (n, 1) and x.attrs["MATLAB_class"] == b"double"
    for at in range(0, n, step):
        part = x[at:at + step, 0]
        ok = ok and np.array_equal(part, want[:len(part)])
sys.exit(0 if ok else 1)
EOF
}

# One timed run: "wall user sys peak-KiB".
run() {
  rm -f "$dir/out.mat"
  (cd "$dir" && /usr/bin/time -f '%e %U %S %M' -o "$dir/time.out" "$1" "$log" out.mat >/dev/null 2>"$dir/err.out")
  if [ ! -s "$dir/out.mat" ]; then
    echo "xl73.sh: $1 wrote no file:" >&2
    cat "$dir/err.out" >&2
    exit 1
  fi
  cat "$dir/time.out"
}

echo "XL73: $samples samples of one field, $(stat -c %s "$log") bytes of log; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-6s %-4s %8s %8s %8s %9s\n' binary run wall_s user_s sys_s peak_MiB
for label in ours base; do
  if [ $label = ours ]; then bin=$TRACEPACK; else bin=$base; fi
  [ -n "$bin" ] || continue
  run "$bin" >/dev/null  # warm-up, and the check of what it writes
  if ! check "$dir/out.mat"; then
    echo "xl73.sh: $bin: out.mat does not read back as the log" >&2
    exit 1
  fi
done
k=1
while [ $k -le "$runs" ]; do
  for label in ours base; do
    if [ $label = ours ]; then bin=$TRACEPACK; else bin=$base; fi
    [ -n "$bin" ] || continue
    figures=$(run "$bin")
    echo "$figures" | awk -v b=$label -v k=$k '{printf "%-6s %-4d %8.2f %8.2f %8.2f %9d\n", b, k, $1, $2, $3, $4 / 1024}'
  done
  k=$((k + 1))
done
rm -f "$dir/out.mat"
