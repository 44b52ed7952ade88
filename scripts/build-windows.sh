#!/bin/bash
# Builds the Windows plug-ins from Linux: build-win32/kiv.wcx (PE32, i386)
# and build-win64/kiv.wcx64 (PE32+, x86-64), each with its test programs.
#   scripts/build-windows.sh [-jN] [--deps-only]
# --deps-only stops once the static libbz2 and the inflate engines of both
# architectures are there (all that scripts/release.sh needs from here).
# On a fresh machine it installs the cross toolchains first. Static libbz2 is
# built from Debian's bzip2 source package and GoogleTest from Debian's
# googletest sources, both for mingw, under build-win/ (kept between runs);
# the inflate engines by scripts/build-engines.sh under build-deps/.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
jobs=2
deps_only=0
for arg in "$@"; do
  case "$arg" in
    -j*) jobs="${arg#-j}" ;;
    --deps-only) deps_only=1 ;;
    *) echo "usage: $0 [-jN] [--deps-only]" >&2; exit 2 ;;
  esac
done

need=(i686-w64-mingw32-g++ x86_64-w64-mingw32-g++ x86_64-w64-mingw32-windres
      /usr/lib/wine/wine64 /usr/lib/wine/wine Xvfb xdotool dpkg-source cmake)
for tool in "${need[@]}"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    bash "$root/scripts/install-windows-deps.sh"
    break
  fi
done
[[ -f /usr/x86_64-w64-mingw32/lib/libz.a && -f /usr/i686-w64-mingw32/lib/libz.a && -f /usr/src/googletest/CMakeLists.txt ]] \
  || bash "$root/scripts/install-windows-deps.sh"

deps="$root/build-win/deps"
mkdir -p "$deps"

# --- bzip2 source ----------------------------------------------------------
bzsrc="$deps/bzip2-src"
if [[ ! -f "$bzsrc/bzlib.c" ]]; then
  if ! ls "$deps"/bzip2_*.dsc >/dev/null 2>&1; then
    if ! (cd "$deps" && apt-get source --download-only bzip2); then
      bash "$root/scripts/install-windows-deps.sh"   # adds the deb-src entry
      (cd "$deps" && apt-get source --download-only bzip2)
    fi
  fi
  rm -rf "$bzsrc"
  (cd "$deps" && dpkg-source -x "$(ls bzip2_*.dsc | head -n1)" "$bzsrc")
fi

# --- per architecture: libbz2.a, GoogleTest, the plug-in -------------------
build_bz2() {   # triple prefix
  local triple="$1" prefix="$2"
  [[ -f "$prefix/lib/libbz2.a" ]] && return 0
  local obj="$root/build-win/$triple/bz2-obj"
  rm -rf "$obj" && mkdir -p "$obj" "$prefix/lib" "$prefix/include"
  local c
  for c in blocksort huffman crctable randtable compress decompress bzlib; do
    "$triple-gcc" -O2 -Wall -D_FILE_OFFSET_BITS=64 -c "$bzsrc/$c.c" -o "$obj/$c.o"
  done
  "$triple-ar" rcs "$prefix/lib/libbz2.a" "$obj"/*.o
  cp "$bzsrc/bzlib.h" "$prefix/include/"
}

build_gtest() {   # toolchain prefix
  local toolchain="$1" prefix="$2"
  [[ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]] && return 0
  local bdir="$(dirname "$prefix")/gtest-build"
  cmake -S /usr/src/googletest -B "$bdir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -Dgtest_disable_pthreads=ON -DBUILD_SHARED_LIBS=OFF >/dev/null
  cmake --build "$bdir" -j"$jobs"
  cmake --install "$bdir" >/dev/null
}

build_plugin() {   # toolchain prefix builddir tests(ON/OFF)
  local toolchain="$1" prefix="$2" bdir="$3" tests="$4"
  local extra=()
  [[ "$tests" == ON ]] && extra+=(-DGTest_DIR="$prefix/lib/cmake/GTest")
  cmake -S "$root" -B "$bdir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DKIV_DEPS_PREFIX="$prefix" \
    -DKIV_BUILD_TESTS="$tests" -DKIV_BUILD_BENCH=ON "${extra[@]}"  # (bench: inflate_baseline.exe)
  # The plug-in and the Windows test programs first, so the inspection and
  # the dialog tests can run even when another test program fails to build.
  cmake --build "$bdir" -j"$jobs" --target kiv
  if [[ "$tests" == ON ]]; then
    cmake --build "$bdir" -j"$jobs" --target kiv_win_smoke platform_win32_test dialog_probe \
      kiv_open_probe $([[ -f "$root/tests/writer/CMakeLists.txt" ]] && echo kiv_make_scrambled)
  fi
  cmake --build "$bdir" -j"$jobs"
}

p32="$root/build-win/i686-w64-mingw32/prefix"
p64="$root/build-win/x86_64-w64-mingw32/prefix"
build_bz2 i686-w64-mingw32 "$p32"
build_bz2 x86_64-w64-mingw32 "$p64"
bash "$root/scripts/build-engines.sh" i686-w64-mingw32 x86_64-w64-mingw32
((deps_only)) && exit 0
build_gtest "$root/cmake/toolchain-mingw-i686.cmake" "$p32"
build_gtest "$root/cmake/toolchain-mingw-x86_64.cmake" "$p64"

build_plugin "$root/cmake/toolchain-mingw-i686.cmake" "$p32" "$root/build-win32" ON
build_plugin "$root/cmake/toolchain-mingw-x86_64.cmake" "$p64" "$root/build-win64" ON

ls -l "$root/build-win32/kiv.wcx" "$root/build-win64/kiv.wcx64"
