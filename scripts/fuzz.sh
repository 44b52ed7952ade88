#!/bin/bash
# Builds the fuzz targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for a while over its corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     default 60 s, every target
# KIV_FUZZ_JOBS runs that many targets at once (default: the number of cores).
# KIV_FUZZ_KEEP_GOING=1 keeps fuzzing after a finding (long runs); every
# finding is still saved and still fails the run.
# The corpora grow in build-fuzz/corpus/<target>; findings are written to
# build-fuzz/findings/<target>. Exits non-zero when anything was found.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KIV_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(plugin scrambled catalogue reader decoders inflate bzip2)
jobs="${KIV_FUZZ_JOBS:-$(nproc)}"

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DKIV_FUZZ=ON -DKIV_BUILD_BENCH=OFF \
  -DKIV_BUILD_TESTS="${KIV_FUZZ_TESTS:-OFF}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target kivfuzzseeds "${targets[@]/#/fuzz_}" >/dev/null
rm -rf "$build/seeds"
"$build/fuzz/kivfuzzseeds" "$build/seeds"

# Every call must return within 10 s; an input gets 60 s for its many calls
# (the harnesses time each call themselves). Memory: the entry list's 1 GiB
# cap plus the sanitizers' own overhead.
flags=(-dict="$root/fuzz/kiv.dict" -max_len=1048576 -timeout=60 -rss_limit_mb=2560 -max_total_time="$seconds"
       -print_final_stats=1)
run() {
  local t="$1" corpus="$build/corpus/$1" findings="$build/findings/$1" log="$build/fuzz-$1.log"
  mkdir -p "$corpus" "$findings"
  local extra=()
  if [[ "${KIV_FUZZ_KEEP_GOING:-0}" == 1 ]]; then
    extra=(-fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1)
  fi
  (cd "$findings" && "$build/fuzz/fuzz_$t" "${flags[@]}" "${extra[@]}" -artifact_prefix="$findings/" \
      "$corpus" "$build/seeds/$t" >"$log" 2>&1) || true
}
pids=()
for t in "${targets[@]}"; do
  run "$t" &
  pids+=($!)
  while [[ $(jobs -rp | wc -l) -ge $jobs ]]; do wait -n || true; done
done
wait

status=0
printf '%-10s %12s %8s %8s %8s %s\n' target executions cov ft corpus findings
for t in "${targets[@]}"; do
  log="$build/fuzz-$t.log"
  # The last status line carries the figures, in plain and in fork mode.
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' | tail -1 || true)
  [[ -n "$runs" ]] || runs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$last")
  cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+' || echo '?')
  ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+' || echo '?')
  corp=$(ls "$build/corpus/$t" | wc -l)
  # Slow units (over 10 s for a whole input) are noted, not failed: the
  # harnesses time each call themselves, and a timeout is a finding.
  found=$(find "$build/findings/$t" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf '%-10s %12s %8s %8s %8s %s\n' "$t" "${runs:-?}" "$cov" "$ft" "$corp" "$found"
  if [[ "$found" != 0 ]] || grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error' "$log"; then
    status=1
    echo "  see $log and $build/findings/$t" >&2
  fi
done
exit $status
