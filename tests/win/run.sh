#!/bin/sh
# The Windows build and its tests: cross-builds both programs with mingw-w64
# into build-win, runs the Windows unit tests under wine, converts the sample
# log on both platforms and compares, runs the end-to-end tests against the
# Windows programs, and makes the zip. Needs the Linux test build
# (build-test) of the README's test command.
#   tests/win/run.sh [LINUX_BUILD_DIR [WINDOWS_BUILD_DIR]]
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
lin=${1:-$src/build-test}
win=${2:-$src/build-win}
start=$(date +%s)
cmake -S "$src" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$win" -j2
ctest --test-dir "$win" --output-on-failure
# Each part starts once the wine server of the one before has gone: a
# program started while a server shuts down loses its connection.
settle() { WINEPREFIX="$win/wineprefix" wineserver -w 2>/dev/null || true; }
settle
"$src/tests/win/smoke.sh" "$lin" "$win"
settle
cmake -S "$src" -B "$lin" -DTRACE_WINDOWS_BUILD="$win" >/dev/null
cmake --build "$lin" -j2 --target e2e_tests tracepack traceunpack
ctest --test-dir "$lin" --output-on-failure -R '^win\.'
(cd "$win" && cpack -G ZIP >/dev/null)
ls "$win"/tracetools-*-win64.zip
echo "windows: built and tested in $(( $(date +%s) - start )) s"
