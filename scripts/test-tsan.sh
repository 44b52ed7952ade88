#!/bin/bash
# The plug-in and the end-to-end tests built with ThreadSanitizer (clang),
# then the tests that drive the exports from several threads, and the cheap
# single-threaded ones beside them. Any report fails the run.
#   KIV_TSAN_BUILD_DIR   build folder (default build-tsan/)
#   KIV_TSAN_FILTER      which end-to-end tests to run (a gtest filter)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KIV_TSAN_BUILD_DIR:-$root/build-tsan}"
filter="${KIV_TSAN_FILTER:-ThreadsTest.*:Slots*:Settings*:Scramble*}"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DKIV_TSAN=ON -DKIV_BUILD_TESTS=ON \
  -DKIV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kiv e2e_tests -j"$(nproc)" >/dev/null
# The first report stops the program with a failing status.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
# More decoding workers than this machine's processors: several extractions
# at once hold some.
export KIV_BZIP2_WORKERS="${KIV_BZIP2_WORKERS:-4}"
"$build/tests/e2e_tests" --gtest_filter="$filter"
