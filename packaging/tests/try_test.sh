#!/bin/sh
# The README's "Try it yourself" session, with its commands from standard
# input: the units answer, a press on the Scan button scans a page, the
# still-image server and the panel log work.
#   try_test.sh SOURCE-DIR BIN-DIR
set -u
source=$1 bin=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

output=$(sh "$source/scripts/try-inside.sh" "$bin" "$source/scripts/demo-files" "$folder" <<EOF 2>&1
lumarc name
unit press 1 scan alice
for i in \$(seq 100); do [ -s "$folder/scans/page.png" ] && break; sleep 0.1; done
echo "page: \$(head -c 4 "$folder/scans/page.png" | tail -c 3)"
lumarc sti inquiry | head -1
unit panel 1
EOF
)
echo "$output"
echo "$output" | grep -q '^  Name: *Front desk-1' || fail "lumarc name on the simulated unit"
echo "$output" | grep -q '^page: PNG' || fail "no page scanned on the button press"
echo "$output" | grep -q '^INQUIRY of ORBIX-4000' || fail "lumarc sti inquiry"
echo "$output" | grep -q 'panel: report 0' || fail "the launch report on the panel"
echo "ok"
