#!/bin/sh
# The main job: a Lumarc unit's Scan button scans a page into this PC, with a
# simulated unit, the event module and the tools in a private network
# namespace; then the same scanner through SANE with scanimage. Installs and
# builds what is missing first.
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target lumarc lumarc-ini lumarc-unitsim lumarc-scan drovik32 \
    quentysti lumarc-regsvr kicklet sane-lumarc

mkdir -p build/demo
exec cmake/run-in-netns.sh sh scripts/demo-inside.sh "$(pwd)/build/default/bin" "$(pwd)/build/demo" \
    "$(pwd)/scripts/demo-files"
