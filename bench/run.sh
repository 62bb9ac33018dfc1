#!/bin/sh
# Builds the release preset and runs the benchmarks inside a private network
# namespace.
#   bench/run.sh
set -eu
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target mgmt_bench aspi_bench sti_bench gaugery_bench lumarc-unitsim drovik32 \
    quentysti kicklet_standin >/dev/null
exec cmake/run-in-netns.sh sh bench/run-inside.sh build/release/bin
