#!/bin/bash
# Prepares the fast inflate engines the plug-in links statically, from
# Debian's source packages:
#   libdeflate  whole-buffer zlib decoding, plain C: every build compiles it
#               from the prepared tree (CMake does, with the build's flags);
#   ISA-L       streaming inflate in x86-64 assembly: built here, with its own
#               makefile and nasm, into TRIPLE/lib/libisal.a for each x86-64
#               target asked for (x86_64-linux-gnu, x86_64-w64-mingw32).
#   scripts/build-engines.sh [TRIPLE...]    (default: x86_64-linux-gnu)
# i686-w64-mingw32 needs the libdeflate tree only (ISA-L has no 32-bit code).
#
# Both trees get a patch of ours (scripts/engines/) that makes the engine
# refuse every stream zlib refuses, and more where matching zlib exactly
# would cost speed: the plug-in then decodes that stream with zlib, so its
# results stay zlib's to the byte.
#
# Everything is kept between runs under build-deps/ (KIV_DEPS_DIR): the
# source packages, the patched trees and the libraries; a changed patch
# prepares its tree and libraries again. Safe to run again and in parallel
# (one run at a time does the work).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
deps="${KIV_DEPS_DIR:-$root/build-deps}"
patches="$root/scripts/engines"
triples=("$@")
((${#triples[@]})) || triples=(x86_64-linux-gnu)
for t in "${triples[@]}"; do
  case "$t" in
    x86_64-linux-gnu | x86_64-w64-mingw32 | i686-w64-mingw32) ;;
    *) echo "build-engines: unknown target $t" >&2; exit 2 ;;
  esac
done

mkdir -p "$deps/src"
exec 9>"$deps/.lock"
flock 9

# fetch PACKAGE: its source package (.dsc and the tarballs) in src/.
fetch() {
  local pkg="$1"
  ls "$deps/src/${pkg}"_*.dsc >/dev/null 2>&1 && return 0
  if ! (cd "$deps/src" && apt-get source --download-only "$pkg" >/dev/null); then
    # A machine without source entries yet.
    bash "$root/scripts/apt-deb-src.sh"
    (cd "$deps/src" && apt-get source --download-only "$pkg" >/dev/null)
  fi
}

# prepare PACKAGE PATCH: the patched tree in src/PACKAGE; prints the tree's
# stamp (the package version and the patch), which the builds below record.
prepare() {
  local pkg="$1" patch="$patches/$2" tree="$deps/src/$1"
  fetch "$pkg"
  local dsc
  dsc="$(ls "$deps/src/${pkg}"_*.dsc | sort -V | tail -n1)"
  local stamp
  stamp="$(basename "$dsc") $(sha256sum <"$patch" | cut -c1-16)"
  if [[ "$(cat "$tree/.kiv-stamp" 2>/dev/null)" != "$stamp" ]]; then
    rm -rf "$tree"
    (cd "$deps/src" && dpkg-source --no-check -x "$(basename "$dsc")" "$tree" >/dev/null)
    patch -s -d "$tree" -p1 <"$patch" || { echo "build-engines: $patch does not apply to $(basename "$dsc")" >&2; exit 1; }
    echo "$stamp" >"$tree/.kiv-stamp"
  fi
  echo "$stamp"
}

# build_isal TRIPLE STAMP: TRIPLE/lib/libisal.a and TRIPLE/include/isa-l/.
build_isal() {
  local triple="$1" stamp="$2" out="$deps/$1"
  [[ -f "$out/lib/libisal.a" && "$(cat "$out/.isal-stamp" 2>/dev/null)" == "$stamp" ]] && return 0
  command -v nasm >/dev/null || { echo "build-engines: nasm is missing (scripts/install-deps.sh)" >&2; exit 1; }
  local work="$out/isal-build"
  rm -rf "$work" "$out/lib/libisal.a" "$out/include/isa-l"
  mkdir -p "$out/lib" "$out/include/isa-l"
  cp -a "$deps/src/libisal" "$work"
  # Only inflate and the checksums it needs; position-independent code for
  # the Linux shared object; no debug information (no build paths inside).
  local args=(-f Makefile.unx -j"$(nproc)" units="igzip crc" lib host_cpu=x86_64 AS=nasm DEBUG= DEBUG_nasm=)
  case "$triple" in
    x86_64-linux-gnu) args+=(CFLAGS_="-Wall -fPIC") ;;
    x86_64-w64-mingw32) args+=(arch=mingw) ;;
  esac
  (cd "$work" && make "${args[@]}" >"$out/isal-build.log" 2>&1) ||
    { echo "build-engines: ISA-L for $triple failed (see $out/isal-build.log)" >&2; exit 1; }
  cp "$work/bin/isa-l.a" "$out/lib/libisal.a"
  cp "$work"/include/*.h "$out/include/isa-l/"
  rm -rf "$work"
  echo "$stamp" >"$out/.isal-stamp"
}

prepare libdeflate libdeflate-zlib-strict.patch >/dev/null
isal_stamp="$(prepare libisal isal-zlib-strict.patch)"
for t in "${triples[@]}"; do
  [[ "$t" == x86_64-* ]] && build_isal "$t" "$isal_stamp"
done
exit 0
