#!/bin/bash
# The whole test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), then a short run of every fuzz target
# from the same build. Any finding fails the run.
#   KIV_FUZZ_SECONDS   seconds per fuzz target (default 60; 0 skips fuzzing)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KIV_SANITIZE_BUILD_DIR:-$root/build-sanitize}"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DKIV_FUZZ=ON -DKIV_BUILD_TESTS=ON \
  -DKIV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
# Leaks fail the tests as well; the plug-in is loaded and unloaded many times.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
(cd "$build" && ctest --output-on-failure -j"$(nproc)")

seconds="${KIV_FUZZ_SECONDS:-60}"
if [[ "$seconds" != 0 ]]; then
  KIV_FUZZ_BUILD_DIR="$build" KIV_FUZZ_TESTS=ON "$root/scripts/fuzz.sh" "$seconds"
fi
