#!/bin/bash
# Installs what the Windows cross build and its Wine tests need: the mingw-w64
# cross compilers, static zlib for them, 64-bit and 32-bit Wine, a virtual X
# server with a keyboard driver for the dialog tests, and the source-package
# tools that fetch libbz2's source; binutils for the 32-bit probe program.
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
  dpkg-dev file zip python3 binutils
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
has_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ! has_src; then
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -E 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/kiv-deb-src.sources
  elif [[ -f /etc/apt/sources.list ]]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' \
      > /etc/apt/sources.list.d/kiv-deb-src.list
  else
    echo "no apt sources found to mirror as deb-src" >&2
    exit 1
  fi
  bash "$here/apt-update.sh"
  updated=1
fi
# A deb-src entry added earlier without an index update.
if ((!updated)) && ! apt-cache showsrc bzip2 >/dev/null 2>&1; then
  bash "$here/apt-update.sh"
fi
