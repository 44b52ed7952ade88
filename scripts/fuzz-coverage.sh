#!/bin/bash
# Line coverage of the plug-in's code reached by the fuzz corpora: builds the
# targets with clang's coverage instrumentation, replays every corpus input
# once and prints the report per source file.
#   scripts/fuzz-coverage.sh [CORPUS_ROOT]   default build-fuzz/corpus
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpora="${1:-$root/build-fuzz/corpus}"
build="$root/build-fuzz-coverage"
targets=(plugin scrambled catalogue reader decoders)

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DKIV_FUZZ_COVERAGE=ON -DKIV_BUILD_TESTS=OFF \
  -DKIV_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}" >/dev/null
rm -rf "$build/profiles"
mkdir -p "$build/profiles"
objects=()
for t in "${targets[@]}"; do
  [[ -d "$corpora/$t" ]] || continue
  LLVM_PROFILE_FILE="$build/profiles/$t-%p.profraw" "$build/fuzz/fuzz_$t" -runs=0 "$corpora/$t" >/dev/null 2>&1 || true
  objects+=(-object "$build/fuzz/fuzz_$t")
done
llvm-profdata-14 merge -sparse "$build"/profiles/*.profraw -o "$build/fuzz.profdata"
llvm-cov-14 report "${objects[@]:1}" -instr-profile="$build/fuzz.profdata" \
  "$root/archive" "$root/readers" "$root/extract" "$root/plugin"
