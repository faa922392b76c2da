#!/bin/sh
# What a user installs: builds the programs alone (Release, no tests) into
# build-pkg, installs them under a scratch prefix and renders the man pages
# from there, makes the Debian package and checks its fields and contents,
# unpacks it into a scratch root and converts the sample log with the
# programs found on PATH there; checks the Windows zip's contents when
# tests/win/run.sh has made it.
#   tests/package/run.sh [BUILD_DIR]
set -eu
src=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$src/build-pkg}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package: $*" >&2; exit 1; }
version=$(sed -n 's/^project(tracetools VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"

cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRACE_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

# The install tree.
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
installed="bin/tracepack bin/traceunpack share/man/man1/tracepack.1 share/man/man1/traceunpack.1
  share/doc/tracepack/README.md share/doc/tracepack/LICENSE share/doc/tracepack/CHANGELOG.md"
for f in $installed; do
  [ -f "$scratch/prefix/$f" ] || fail "cmake --install left out $f"
done
for page in tracepack traceunpack; do
  text=$(MANWIDTH=80 man -l "$scratch/prefix/share/man/man1/$page.1" 2>"$scratch/man.err")
  [ ! -s "$scratch/man.err" ] || fail "man -l $page.1: $(cat "$scratch/man.err")"
  echo "$text" | grep -q "$page $version" || fail "$page.1 does not show version $version"
done
(cd "$scratch/prefix" && find . -type f | sort | sed 's/^/  /') >"$scratch/tree"

# The Debian package.
rm -f "$build"/tracepack_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tracepack_"$version"_*.deb) || fail "cpack made no tracepack_${version}_*.deb"
depends=$(dpkg-deb --field "$deb" Depends)
recommends=$(dpkg-deb --field "$deb" Recommends)
echo "$depends" | grep -q "zlib1g" || fail "Depends lacks zlib1g: $depends"
echo "$depends" | grep -q "hdf5" && fail "HDF5 is a dependency, not a recommendation: $depends"
echo "$recommends" | grep -q "libhdf5" || fail "Recommends lacks HDF5: $recommends"
dpkg-deb --contents "$deb" >"$scratch/contents"
for f in $installed; do
  grep -q " \./usr/$f\$" "$scratch/contents" || fail "the package lacks /usr/$f"
done
dpkg-deb -x "$deb" "$scratch/root"
mkdir "$scratch/run"
(cd "$scratch/run" && PATH="$scratch/root/usr/bin:$PATH" &&
  tracepack "$src/samples/drive.log" drive.mat >/dev/null 2>&1 &&
  traceunpack drive.mat back.log >/dev/null 2>&1) || fail "the packaged programs did not run"
[ "$(sed -n 2p "$scratch/run/back.log")" = "$(grep -v '^#' "$src/samples/drive.log" | head -1)" ] ||
  fail "the packaged programs did not convert the sample log and back"

# The Windows zip, when built.
zip=$(ls "$src"/build-win/tracetools-"$version"-win64.zip 2>/dev/null || true)
if [ -n "$zip" ]; then
  /usr/bin/python3 - "$zip" <<'PY' || fail "the Windows zip is not complete"
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
want = {"tracepack.exe", "traceunpack.exe", "tracepack.txt", "traceunpack.txt",
        "README.md", "LICENSE", "CHANGELOG.md"}
missing = want - names
if missing:
    print("missing:", " ".join(sorted(missing)), file=sys.stderr)
    sys.exit(1)
PY
fi

echo "install tree:"
cat "$scratch/tree"
echo "package: $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"
echo "  Depends: $depends"
echo "  Recommends: $recommends"
awk '$NF !~ /\/$/ {print "  " $NF}' "$scratch/contents"
[ -z "$zip" ] || echo "windows zip: $(basename "$zip")"
