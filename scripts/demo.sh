#!/bin/sh
# The main job: a simulated Lumarc unit in a private network namespace,
# shown with the lumarc command. Installs and builds what is missing first.
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target lumarc lumarc-ini lumarc-unitsim lumarc-scan drovik32 \
    quentysti lumarc-regsvr

exec cmake/run-in-netns.sh sh scripts/demo-inside.sh build/default/bin
