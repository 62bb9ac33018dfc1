#!/bin/sh
# The benchmarks, inside the namespace made by bench/run.sh. A wake-up across
# CPUs costs more than these small exchanges, so each figure states how the
# two ends were pinned, and only figures taken the same way are compared.
set -eu
bin="$1"

echo "== Scanner information tool: start to the Device Info page filled"
"$bin/gaugery_bench" || true
echo
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
    echo
    echo "== Still-image server, client on CPU $1, unit on CPU $2"
    taskset -c "$1" "$bin/sti_bench" "$unit" "" || true
    kill "$sim"
    wait "$sim" 2>/dev/null || true
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
