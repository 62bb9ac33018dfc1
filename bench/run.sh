#!/bin/sh
# Builds the release preset and runs the benchmarks inside a private network
# namespace.
#   bench/run.sh
set -eu
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j2 \
    --target mgmt_bench aspi_bench png_bench bench_responders sti_bench kicklet_bench \
    gaugery_bench unitdesk_bench lumarc-unitsim drovik32 zorvan quentysti kicklet kicklet_standin \
    sane-lumarc lumarc-scan >/dev/null
exec cmake/run-in-netns.sh sh bench/run-inside.sh build/release/bin
