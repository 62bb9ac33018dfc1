#!/bin/sh
# The benchmarks, inside the namespace made by bench/run.sh.
#
# Three servers run side by side, each on its own loopback address: the fast
# responders (a library's ratio against a plain client there is the library's
# own cost), the bare servers (the wire itself, the reference for the fast
# responders) and a simulated unit (what tests and the demo talk to).
#
# A wake-up across CPUs costs more than these small exchanges, so each table
# states how client and servers were pinned, and ratios are only ever taken
# within one run.
set -eu
bin="$1"
unit=127.0.0.3
fast=127.0.0.4
bare=127.0.0.5

for placement in "0 1" "0 0"; do
    set -- $placement
    taskset -c "$2" "$bin/bench_responders" --fast "$fast" --bare "$bare" &
    responders=$!
    taskset -c "$2" "$bin/lumarc-unitsim" --address "$unit" --quiet </dev/null &
    sim=$!
    sleep 0.5
    echo
    echo "==== Client on CPU $1, servers on CPU $2"
    echo
    echo "== Against the fast responders ($fast; bare servers at $bare)"
    taskset -c "$1" "$bin/mgmt_bench" --unit "$fast" --bare "$bare" --targets \
        --server-pid "$responders" --title "Management port" || true
    taskset -c "$1" "$bin/aspi_bench" --unit "$fast" --bare "$bare" --targets \
        --server-pid "$responders" --title "SCSI tunnel" || true
    echo
    echo "== Against the simulated unit ($unit)"
    taskset -c "$1" "$bin/mgmt_bench" --unit "$unit" --database --server-pid "$sim" \
        --title "Management port" || true
    taskset -c "$1" "$bin/aspi_bench" --unit "$unit" --scan --server-pid "$sim" \
        --title "SCSI tunnel" || true
    kill "$responders" "$sim"
    wait "$responders" "$sim" 2>/dev/null || true
done

echo
echo "==== PNG encoding of an A4 page at 300 dpi colour (CPU 0)"
taskset -c 0 "$bin/png_bench" --benchmark_counters_tabular=true
