#!/bin/bash
# Runs a Windows program under Wine with a Wine prefix of our own.
#   wine-run.sh [--arch win64|win32] [--prefix DIR] program.exe [args...]
# win64 (the default) runs 64-bit programs with Wine's 64-bit loader; win32
# runs 32-bit programs with the 32-bit loader in a 32-bit prefix, which must
# be a different folder: Wine cannot change a prefix's architecture later.
# The prefix is DIR, else $WINEPREFIX, else wineprefix/ beside the build's
# CMakeCache.txt found upward from the current folder. It is created on first
# use (about half a minute), under a lock so parallel tests wait for it.
set -euo pipefail

prefix="${WINEPREFIX:-}"
arch=win64
while (($#)); do
  case "$1" in
    --prefix) prefix="$2"; shift 2 ;;
    --arch) arch="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [[ -z "$prefix" ]]; then
  dir="$PWD"
  while [[ "$dir" != "/" && ! -f "$dir/CMakeCache.txt" ]]; do dir="$(dirname "$dir")"; done
  [[ -f "$dir/CMakeCache.txt" ]] || { echo "wine-run.sh: no prefix and no build tree" >&2; exit 2; }
  prefix="$dir/wineprefix"
fi

export WINEPREFIX="$prefix"
export WINEARCH="$arch"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or browser engine: their installers would ask over the network.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
case "$arch" in
  win64) wine=/usr/lib/wine/wine64 ;;
  win32) wine=/usr/lib/wine/wine ;;
  *) echo "wine-run.sh: --arch is win64 or win32, not $arch" >&2; exit 2 ;;
esac

# The end-to-end tests answer the plug-in's password dialog themselves. Their
# windows are kept away from a window manager: with none running (Xvfb), Wine
# would wait two seconds for every closed dialog to be withdrawn.
unmanaged_key='HKCU\Software\Wine\AppDefaults\e2e_tests.exe\X11 Driver'
unmanaged_mark="$prefix/e2e-unmanaged.done"

if [[ ! -f "$prefix/system.reg" || ! -f "$unmanaged_mark" ]]; then
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [[ ! -f "$prefix/system.reg" ]]; then
      "$wine" wineboot --init >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w || true
    fi
    if [[ -f "$prefix/system.reg" && ! -f "$unmanaged_mark" ]]; then
      "$wine" reg add "$unmanaged_key" /v Managed /d N /f >/dev/null 2>&1 && touch "$unmanaged_mark"
    fi
  ) 9>"$prefix.lock"
  [[ -f "$prefix/system.reg" ]] || { echo "wine-run.sh: could not create $prefix" >&2; exit 2; }
fi

exec "$wine" "$@"
