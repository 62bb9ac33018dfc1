#!/bin/sh
# Builds the release preset and runs the benchmarks inside a private network
# namespace, pinned to one CPU so that client and unit wake each other on
# the same core for both clients alike.
#   bench/run.sh [ROUNDS] [CALLS_PER_ROUND]
set -eu
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target mgmt_bench >/dev/null
exec cmake/run-in-netns.sh taskset -c 0 build/release/bin/mgmt_bench "$@"
