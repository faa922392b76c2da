#!/bin/sh
# Regenerates the committed seed corpus under fuzz/corpus/ (a few small files
# per harness). MAT seeds come from the layer's own writers (fuzz_seedgen,
# built in the fuzz build), log seeds from bench/genlog.py plus a few edge
# cases of the log format, expression and options seeds are written here.
# Inputs that once made a harness fail live in fuzz/regress/ and stay.
#   fuzz/make_seeds.sh [BUILD_DIR]     (default: build-fuzz)
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build-fuzz}
corpus=$src/fuzz/corpus

CC=clang CXX=clang++ cmake -S "$src" -B "$build" -DTRACE_FUZZ=ON -DTRACE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fuzz_seedgen >/dev/null

rm -rf "$corpus"
mkdir -p "$corpus/mat" "$corpus/mat73" "$corpus/log" "$corpus/eval" "$corpus/options"
"$build/fuzz_seedgen" "$corpus/mat" "$corpus/mat73"

/usr/bin/python3 "$src/bench/genlog.py" --fields 6 --samples 20 "$corpus/log/genlog.log"
/usr/bin/python3 "$src/bench/genlog.py" --fields 12 --samples 3 "$corpus/log/genlog_wide.log"
printf '# comment\r\ntime speed gear\r\n0 22.5 3\r\n\r\n0.05 -1e3 0x1p4\r\n' >"$corpus/log/crlf.log"
printf ' lead  runs trail \n  1  2 3  \n1,5\t2 inf nan -.5e-3\n#x\n4' >"$corpus/log/spaces.log"
printf 'a b\n1 2\0 9\n3\n' >"$corpus/log/nul.log"

for e in 600 0x258 '$258' 599+1 '(2+3)x(4-1)' '-~0&5' '#1010|017' '0x80000000/-1' '7%0' '1+2*3-4/2^1'; do
  printf '%s' "$e" >"$corpus/eval/$(printf '%s' "$e" | md5sum | cut -c1-8)"
done

printf 'remotehost 127.0.0.1\nport 600\n' >"$corpus/options/plain"
printf '# log host\nremotehost\tlog.example\r\nport 599+1 Port 7 port\n' >"$corpus/options/pairing"
printf 'port $ff port 0x10000 remotehost %0300d extra\n' 7 >"$corpus/options/long"
ls -l "$corpus"/*
