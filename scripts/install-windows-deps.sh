#!/bin/bash
# Installs what the Windows cross build and its Wine tests need: the mingw-w64
# cross compilers, static zlib for them, 64-bit and 32-bit Wine, a virtual X
# server with a keyboard driver for the dialog tests, and the source-package
# tools that fetch libbz2's source; binutils for the 32-bit probe program;
# nasm for the 64-bit build of the ISA-L inflate engine.
# Also adds the i386 architecture (for 32-bit Wine) and the deb-src entries
# for that fetch.
# 32-bit Wine is installed last and on its own: when the mirror's i386 indexes
# are inconsistent it cannot be, and then everything else is still installed
# and the 32-bit Wine suites are skipped, saying so.
# Safe to run again: it only installs what is missing. Needs root.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

# 32-bit Wine is an i386 package; without the architecture apt cannot see it.
updated=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  bash "$here/apt-update.sh"
  updated=1
fi

packages=(
  cmake make
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  libz-mingw-w64-dev
  googletest
  wine64
  xvfb xdotool x11-utils
  dpkg-dev file zip python3 binutils nasm
)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
apt_install() {
  DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 install -y --no-install-recommends "$@"
}

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
installed wine32:i386 || missing32=1

if ((${#missing[@]} || ${missing32:-0})); then
  ((updated)) || bash "$here/apt-update.sh"
  updated=1
fi
((${#missing[@]} == 0)) || apt_install "${missing[@]}"
if ((${missing32:-0})) && ! apt_install wine32:i386; then
  echo "install-windows-deps: wine32:i386 could not be installed (apt says why above);" \
    "the 32-bit Wine suites are skipped until it is" >&2
fi

# Source entries mirroring the binary ones, so `apt-get source` finds bzip2.
bash "$here/apt-deb-src.sh"
