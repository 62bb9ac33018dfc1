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

echo "== Scanner information tool: start to the Device Info page filled"
"$bin/gaugery_bench" || true

echo
echo "== Configuration tool: 100 units, list rebuild and the list shown after the refresh"
"$bin/unitdesk_bench" 30 || true
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
    echo
    echo "== Still-image server against the transport ($unit)"
    taskset -c "$1" "$bin/sti_bench" "$unit" "" || true
    kill "$responders" "$sim"
    wait "$responders" "$sim" 2>/dev/null || true
done

# What LockDevice and UnLockDevice cost when no event module runs: the
# system calls of a run with 20000 pairs less those of a run with none.
echo
echo "== System calls of LockDevice/UnLockDevice without an event module"
if command -v strace >/dev/null; then
    "$bin/lumarc-unitsim" --address "$unit" --quiet </dev/null &
    sim=$!
    sleep 0.5
    counts=$(mktemp -d)
    for pairs in 0 20000; do
        strace -f -c -o "$counts/$pairs" "$bin/sti_bench" "$unit" --lock-pairs "$pairs"
    done
    kill "$sim"
    wait "$sim" 2>/dev/null || true
    total() { awk '$NF == "total" { n = $4 } END { print n + 0 }' "$1"; }
    sends() { awk '$NF == "sendto" { n = $4 } END { print n + 0 }' "$1"; }
    extra=$(( $(total "$counts/20000") - $(total "$counts/0") ))
    echo "  20000 pairs: $extra more system calls ($(( $(sends "$counts/20000") - $(sends "$counts/0") )) sendto);" \
         "$(awk -v n="$extra" 'BEGIN { printf "%.3f", n / 40000 }') per call (target <= 1)"
    rm -rf "$counts"
else
    echo "  (strace is not installed)"
fi

echo
echo "==== Event module: button press to report 0, refresh of 100 units"
"$bin/kicklet_bench" 300 || true

echo
echo "==== A page through scanimage and the SANE backend against lumarc-scan"
sh "$(dirname "$0")/sane-scan.sh" "$bin" || true

echo
echo "==== PNG encoding of an A4 page at 300 dpi colour (CPU 0)"
taskset -c 0 "$bin/png_bench" --benchmark_counters_tabular=true
