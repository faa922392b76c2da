#!/bin/sh
# The sample log through the Windows programs under wine, against the Linux
# programs: the same MAT-file after its header text, the same log after its
# header comment, the same console text once CRLF line ends are made LF.
#   tests/win/smoke.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
lin=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
unset DISPLAY
[ -d "$WINEPREFIX" ] || wineboot --init >/dev/null 2>&1
work=$(mktemp -d "${TMPDIR:-/tmp}/trace-win-smoke.XXXXXX")
trap 'rm -rf "$work"' EXIT

convert() {  # dir, tracepack, traceunpack, launcher...
  dir=$1 pack=$2 unpack=$3
  shift 3
  mkdir -p "$dir"
  cp "$src/samples/drive.log" "$dir/"
  (cd "$dir" && "$@" "$pack" drive.log drive.mat >out.txt 2>err.txt &&
     "$@" "$unpack" drive.mat back.log >>out.txt 2>>err.txt)
  tail -c +129 "$dir/drive.mat" >"$dir/mat.body"
  tail -n +2 "$dir/back.log" >"$dir/log.body"
  tr -d '\r' <"$dir/out.txt" >"$dir/out.lf"
  tr -d '\r' <"$dir/err.txt" >"$dir/err.lf"
}
convert "$work/lin" "$lin/tracepack" "$lin/traceunpack" env
convert "$work/win" "$win/tracepack.exe" "$win/traceunpack.exe" wine

status=0
for f in mat.body log.body out.lf err.lf; do
  if ! cmp -s "$work/lin/$f" "$work/win/$f"; then
    echo "smoke: $f differs between Linux and Windows" >&2
    diff "$work/lin/$f" "$work/win/$f" | head -20 >&2 || true
    status=1
  fi
done
[ $status -eq 0 ] && echo "smoke: the sample converts the same on Windows as on Linux"
exit $status
