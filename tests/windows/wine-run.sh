#!/bin/bash
# Runs a 64-bit Windows program under Wine with a Wine prefix of our own.
#   wine-run.sh [--prefix DIR] program.exe [args...]
# The prefix is DIR, else $WINEPREFIX, else wineprefix/ beside the build's
# CMakeCache.txt found upward from the current folder. It is created on first
# use (about ten seconds), under a lock so parallel tests wait for it.
set -euo pipefail

prefix="${WINEPREFIX:-}"
if [[ "${1:-}" == "--prefix" ]]; then
  prefix="$2"
  shift 2
fi
if [[ -z "$prefix" ]]; then
  dir="$PWD"
  while [[ "$dir" != "/" && ! -f "$dir/CMakeCache.txt" ]]; do dir="$(dirname "$dir")"; done
  [[ -f "$dir/CMakeCache.txt" ]] || { echo "wine-run.sh: no prefix and no build tree" >&2; exit 2; }
  prefix="$dir/wineprefix"
fi

export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or browser engine: their installers would ask over the network.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
wine=/usr/lib/wine/wine64

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
