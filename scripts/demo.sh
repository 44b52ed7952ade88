#!/bin/bash
# The main job on a fresh machine: install what is missing, build, make a
# sample archive and list, test and extract it through the plug-in with the
# host stand-in; then show a setting and a scrambled archive at work.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KIV_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
KIV_BUILD_DIR="$build" "$root/scripts/build.sh"

demo="$build/demo"
rm -rf "$demo"
mkdir -p "$demo/plugin" "$demo/out"
"$build/tests/writer/kivmksample" "$demo/sample.kiv"
host="$build/wcxhost"

echo "== wcxhost list sample.kiv"
"$host" list "$demo/sample.kiv"
echo
echo "== wcxhost test sample.kiv"
"$host" test "$demo/sample.kiv"
echo
echo "== wcxhost extract sample.kiv out/"
"$host" extract "$demo/sample.kiv" "$demo/out"
find "$demo/out" | sort | sed "s|$demo/||"

echo
echo "== the same archive with flatArchive=1 in kiv.ini beside the plug-in"
cp "$build/kiv.wcx" "$demo/plugin/kiv.wcx"
printf 'flatArchive=1\n' > "$demo/plugin/kiv.ini"
"$host" --plugin "$demo/plugin/kiv.wcx" list "$demo/sample.kiv"

echo
echo "== a scrambled archive, password from KIV_PASSWORD"
"$build/tests/writer/kivmksample" --password "open sesame" "$demo/scrambled.kiv"
KIV_PASSWORD="open sesame" "$host" list "$demo/scrambled.kiv"
