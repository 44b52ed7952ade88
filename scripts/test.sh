#!/bin/bash
# Installs what is missing, builds, and runs every test: the Linux unit and
# end-to-end suites, the same suites under AddressSanitizer and
# UndefinedBehaviorSanitizer with a minute of every fuzz target, the calls
# from several threads under ThreadSanitizer, then the Windows builds
# (kiv.wcx and kiv.wcx64 inspected and run under 32-bit and 64-bit Wine,
# password dialog driven under Xvfb).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KIV_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
KIV_BUILD_DIR="$build" "$root/scripts/build.sh"
(cd "$build" && ctest --output-on-failure -j2)
if [[ "${KIV_SKIP_SANITIZERS:-0}" != 1 ]]; then
  "$root/scripts/test-sanitizers.sh"
fi
if [[ "${KIV_SKIP_TSAN:-0}" != 1 ]]; then
  "$root/scripts/test-tsan.sh"
fi
if [[ "${KIV_SKIP_WINDOWS:-0}" != 1 ]]; then
  "$root/scripts/build-windows.sh"
  "$root/scripts/test-windows.sh"
fi
