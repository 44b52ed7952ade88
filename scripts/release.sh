#!/bin/bash
# Builds the release packages from scratch and writes them into dist/:
#   kiv-wcx-<version>-windows.zip          kiv.wcx, kiv.wcx64, pluginst.inf, readme.txt
#   kiv-wcx-<version>-linux-x86_64.tar.gz  kiv.wcx, install-doublecmd.sh, wcxhost, readme.txt
#   SHA256SUMS
#   scripts/release.sh [--out DIR] [--build DIR]
# Every file is built anew (Linux, 32- and 64-bit Windows), then smoke-checked:
# the packed Linux library and kiv.wcx64 (under Wine) list, test and extract
# the sample archive, and both PE files are inspected. Two runs on the same
# commit give the same bytes, wherever the tree and the build folder are.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/dist"
build="$root/build-release"
while (($#)); do
  case "$1" in
    --out) out="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    *) echo "usage: $0 [--out DIR] [--build DIR]" >&2; exit 2 ;;
  esac
done
mkdir -p "$out" "$build"
out="$(cd "$out" && pwd)"
build="$(cd "$build" && pwd)"
case "$build" in /|"$root") echo "release.sh: refusing to clean $build" >&2; exit 2 ;; esac

installer="$root/scripts/install-doublecmd.sh"
if [[ ! -f "$installer" ]]; then
  echo "release.sh: $installer is missing; the Linux package ships it." >&2
  exit 1
fi

"$root/scripts/install-deps.sh"
# The cross toolchains and the static libbz2 of both architectures (built
# once under build-win/ and kept).
"$root/scripts/build-windows.sh" --deps-only

# Every timestamp inside the packages is the commit's time.
if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)"
fi
[[ -n "$SOURCE_DATE_EPOCH" ]] || { echo "release.sh: no git commit; set SOURCE_DATE_EPOCH" >&2; exit 1; }
export SOURCE_DATE_EPOCH
if [[ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]]; then
  echo "release.sh: note: the tree has uncommitted changes; they are built in" >&2
fi

rm -rf "$build"
mkdir -p "$build"

# configure NAME BUILD_TYPE [cmake args...]: a build folder of its own whose
# path does not reach the files (-ffile-prefix-map), with binaries stripped
# at link time.
configure() {
  local name="$1" type="$2"; shift 2
  local dir="$build/$name"
  local map="-ffile-prefix-map=$root=/src -ffile-prefix-map=$dir=/build"
  local upper="${type^^}"
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" \
    -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="$map" -DCMAKE_CXX_FLAGS="$map" \
    -DCMAKE_MODULE_LINKER_FLAGS_"$upper"=-s -DCMAKE_EXE_LINKER_FLAGS_"$upper"=-s \
    "$@" >/dev/null
}

# Each build as the tests build it: Linux RelWithDebInfo, Windows Release.
echo "== building"
configure linux RelWithDebInfo
configure win32 Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DKIV_DEPS_PREFIX="$root/build-win/i686-w64-mingw32/prefix"
configure win64 Release -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
  -DKIV_DEPS_PREFIX="$root/build-win/x86_64-w64-mingw32/prefix"
cmake --build "$build/linux" -j2 --target kiv wcxhost kivmksample
cmake --build "$build/win32" -j2 --target kiv
cmake --build "$build/win64" -j2 --target kiv wcxhost

version="$(sed -n 's/^#define KIV_VERSION "\(.*\)"$/\1/p' "$build/linux/generated/kiv_version.h")"
[[ -n "$version" ]] || { echo "release.sh: no version in the build" >&2; exit 1; }
winzip="kiv-wcx-$version-windows.zip"
linuxtar="kiv-wcx-$version-linux-x86_64.tar.gz"
linuxdir="kiv-wcx-$version-linux-x86_64"

echo "== packing $version"
stage="$build/stage"
mkdir -p "$stage"
sed "s/@VERSION@/$version/g" "$root/packaging/readme.txt" >"$stage/readme.txt"
rm -f "$out/$winzip" "$out/$linuxtar" "$out/SHA256SUMS"
python3 "$root/packaging/pack.py" zip "$out/$winzip" \
  "kiv.wcx=$build/win32/kiv.wcx:644" \
  "kiv.wcx64=$build/win64/kiv.wcx64:644" \
  "pluginst.inf=$root/packaging/pluginst.inf:644:crlf" \
  "readme.txt=$stage/readme.txt:644:crlf"
python3 "$root/packaging/pack.py" tar "$out/$linuxtar" \
  "$linuxdir/=:755" \
  "$linuxdir/kiv.wcx=$build/linux/kiv.wcx:644" \
  "$linuxdir/install-doublecmd.sh=$installer:755" \
  "$linuxdir/wcxhost=$build/linux/wcxhost:755" \
  "$linuxdir/readme.txt=$stage/readme.txt:644"

# --- smoke checks of what was packed -----------------------------------------
echo "== smoke checks"
smoke="$build/smoke"
mkdir -p "$smoke"
sample="$smoke/sample.kiv"
"$build/linux/tests/writer/kivmksample" "$sample"
"$build/linux/tests/writer/kivmksample" --password "open sesame" "$smoke/scrambled.kiv"

# list, test and extract the sample with HOST..., into folder OUT; the list
# must end with the entry count and the extracted files must hold the data.
drive() {
  local what="$1" outdir="$2"; shift 2
  rm -rf "$outdir" && mkdir -p "$outdir"
  "$@" list "$sample" | tr -d '\r' >"$outdir.list" \
    || { echo "$what: list failed" >&2; cat "$outdir.list" >&2; return 1; }
  grep -q '^19 entries' "$outdir.list" || { echo "$what: not 19 entries" >&2; cat "$outdir.list" >&2; return 1; }
  "$@" test "$sample" >"$outdir.test" 2>&1 || { echo "$what: test failed" >&2; cat "$outdir.test" >&2; return 1; }
  "$@" extract "$sample" "$outdir" >"$outdir.extract" 2>&1 \
    || { echo "$what: extract failed" >&2; cat "$outdir.extract" >&2; return 1; }
  grep -q '^Garden planner' "$outdir/README.txt" && grep -q 'north watered' "$outdir/data/watering.log" \
    || { echo "$what: extracted files are wrong" >&2; return 1; }
  echo "ok    $what lists, tests and extracts the sample"
}

tar -xzf "$out/$linuxtar" -C "$smoke"
lx="$smoke/$linuxdir"
# A settings folder of its own, so that the user's kiv.ini shapes nothing.
drive "linux kiv.wcx" "$smoke/linux-out" "$lx/wcxhost" --config-dir "$smoke/linux-config"
KIV_PASSWORD="open sesame" "$lx/wcxhost" --config-dir "$smoke/linux-config" test "$smoke/scrambled.kiv" >"$smoke/scrambled.test" 2>&1 \
  || { echo "linux kiv.wcx: the scrambled sample does not test" >&2; cat "$smoke/scrambled.test" >&2; exit 1; }
echo "ok    linux kiv.wcx tests the scrambled sample"
[[ "$("$lx/wcxhost" --version)" == "wcxhost $version" ]] || { echo "wcxhost --version is wrong" >&2; exit 1; }
# Through a file: under pipefail, grep -q leaving early would fail the pipe
# with SIGPIPE whenever strings still had output to write.
strings "$lx/kiv.wcx" >"$smoke/kiv.wcx.strings"
grep -qx "kiv.wcx version $version" "$smoke/kiv.wcx.strings" \
  || { echo "linux kiv.wcx: no version string" >&2; exit 1; }
echo "ok    linux wcxhost --version and the library's version string say $version"

mkdir -p "$smoke/win"
unzip -q "$out/$winzip" -d "$smoke/win"
cp "$build/win64/wcxhost.exe" "$smoke/win/"
python3 "$root/tests/windows/check_pe.py" "$smoke/win/kiv.wcx" --arch i386 >"$smoke/pe32.txt" \
  || { cat "$smoke/pe32.txt"; exit 1; }
python3 "$root/tests/windows/check_pe.py" "$smoke/win/kiv.wcx64" --arch x86-64 >"$smoke/pe64.txt" \
  || { cat "$smoke/pe64.txt"; exit 1; }
echo "ok    kiv.wcx and kiv.wcx64 pass the PE inspection"
# The Wine prefix is kept between runs, beside the cross-built libraries.
export WINEPREFIX="$root/build-win/release-wineprefix"
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
(cd "$smoke/win" && drive "kiv.wcx64 under Wine" "$smoke/win-out" \
  "$root/tests/windows/wine-run.sh" --prefix "$WINEPREFIX" ./wcxhost.exe)
diff -r "$smoke/linux-out" "$smoke/win-out" >/dev/null \
  || { echo "kiv.wcx64 extracts other files than the Linux build" >&2; exit 1; }
echo "ok    kiv.wcx64 extracts the same files as the Linux build"

(cd "$out" && sha256sum "$winzip" "$linuxtar" >SHA256SUMS)
echo "== $out"
(cd "$out" && ls -l "$winzip" "$linuxtar" SHA256SUMS && cat SHA256SUMS)
