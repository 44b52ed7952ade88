#!/bin/bash
# Installs what building, testing (sanitizers and fuzzing included), the
# demo, the benchmarks and the real-host test (Double Commander under Xvfb)
# need on a fresh Debian machine, and the source entries through which the
# builds fetch the fast inflate engines' source packages (nasm assembles one
# of them; dpkg-dev unpacks them). Safe to run again: it installs only what
# is missing.
# Needs root (or sudo).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"

packages=(
  build-essential cmake pkg-config
  zlib1g-dev libbz2-dev nasm dpkg-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  binutils python3 unzip zip bzip2 lbzip2 time valgrind tzdata
  clang-14 libclang-rt-14-dev
  doublecmd-qt xvfb xdotool imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  [[ $(id -u) -eq 0 ]] || SUDO="sudo"
  $SUDO bash "$here/apt-update.sh"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o Acquire::Retries=3 install -y --no-install-recommends "${missing[@]}"
fi
bash "$here/apt-deb-src.sh"
