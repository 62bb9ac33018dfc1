#!/bin/sh
# Try it yourself: a shell in a private network namespace with two simulated
# units, the event module and the tools on PATH, and a PC of its own (your
# settings are not touched). Leave it with "exit". Commands can also come
# from standard input: echo "lumarc info" | scripts/try.sh
set -eu
cd "$(dirname "$0")/.."

./scripts/setup.sh >&2
cmake --preset default >/dev/null
cmake --build --preset default --target lumarc lumarc-ini lumarc-unitsim lumarc-scan drovik32 \
    quentysti lumarc-regsvr kicklet >&2

mkdir -p build/try
exec cmake/run-in-netns.sh sh scripts/try-inside.sh "$(pwd)/build/default/bin" \
    "$(pwd)/scripts/demo-files" "$(pwd)/build/try"
