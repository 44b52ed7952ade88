#!/bin/bash
# Builds the release twice and checks it: the first packages are listed and
# inspected (tests/release/check_release.py), then a second build in another
# folder, with another umask and time zone, must give the same bytes.
#   tests/release/run.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$root/build-release-test"
rm -rf "$work"
mkdir -p "$work"

echo "== release, first build"
start=$(date +%s)
"$root/scripts/release.sh" --out "$work/first" --build "$work/build-one"
echo "-- first build took $(( $(date +%s) - start )) s"
python3 "$root/tests/release/check_release.py" "$work/first"

echo "== release, second build elsewhere (umask 077, TZ=Asia/Tokyo)"
start=$(date +%s)
(umask 077; TZ=Asia/Tokyo "$root/scripts/release.sh" --out "$work/second" --build "$work/other/build-two")
echo "-- second build took $(( $(date +%s) - start )) s"
status=0
for f in "$work"/first/*; do
  name="$(basename "$f")"
  if cmp "$f" "$work/second/$name"; then
    echo "ok    $name is byte-identical"
  else
    echo "FAIL  $name differs between the two builds"
    status=1
  fi
done
[[ "$(ls "$work/first")" == "$(ls "$work/second")" ]] || { echo "FAIL  the builds wrote other files"; status=1; }
((status == 0)) && echo "release: reproducible"
exit $status
