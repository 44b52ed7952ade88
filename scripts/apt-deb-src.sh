#!/bin/bash
# Adds source entries mirroring the binary ones, so that `apt-get source`
# finds the source packages the builds compile themselves (bzip2 for the
# Windows files, libdeflate and libisal for every build), and refreshes the
# indexes when it added them or they were never read. Safe to run again.
# Needs root (or sudo).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
SUDO=""
[[ $(id -u) -eq 0 ]] || SUDO="sudo"

has_src() {
  grep -rqsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/
}
if ! has_src; then
  if [[ -f /etc/apt/sources.list.d/debian.sources ]]; then
    sed -E 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/kiv-deb-src.sources >/dev/null
  elif [[ -f /etc/apt/sources.list ]]; then
    grep -E '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/kiv-deb-src.list >/dev/null
  else
    echo "no apt sources found to mirror as deb-src" >&2
    exit 1
  fi
  $SUDO bash "$here/apt-update.sh"
elif ! apt-cache showsrc bzip2 >/dev/null 2>&1; then
  # A source entry added earlier without an index update.
  $SUDO bash "$here/apt-update.sh"
fi
