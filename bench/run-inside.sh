#!/bin/sh
# The benchmarks, inside the namespace made by bench/run.sh. A wake-up across
# CPUs costs more than these small exchanges, so each figure states how the
# two ends were pinned, and only figures taken the same way are compared.
set -eu
bin="$1"

echo "== Management exchange (client and unit on CPU 0)"
taskset -c 0 "$bin/mgmt_bench"

unit=127.0.0.3
for placement in "0 1" "0 0"; do
    set -- $placement
    taskset -c "$2" "$bin/lumarc-unitsim" --address "$unit" --quiet </dev/null &
    sim=$!
    sleep 0.5
    echo
    echo "== SCSI tunnel, client on CPU $1, unit on CPU $2"
    taskset -c "$1" "$bin/aspi_bench" "$unit" "" || true
    kill "$sim"
    wait "$sim" 2>/dev/null || true
done
