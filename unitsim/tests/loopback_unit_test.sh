#!/bin/sh
# A simulated unit on a loopback address is this machine's alone. Another
# machine (a network namespace of its own, joined to this one by a veth
# pair) finds a unit on the shared link with a broadcast search, but never
# the loopback unit, which this machine does find.
#   loopback_unit_test.sh BIN-DIR        (inside a private network namespace)
set -u
bin=$1
folder=$(mktemp -d)
sim='' peer=''
cleanup() {
    kill $sim $peer 2>/dev/null
    rm -rf "$folder"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$folder/units.log"; exit 1; }
export HOME="$folder"

# The link to the other machine: lt0 here, lt1 there.
ip link add lt0 type veth peer name lt1 || fail "no veth pair"
ip addr add 198.51.100.1/24 dev lt0
ip link set lt0 up
unshare -n sleep 60 &
peer=$!
sleep 0.2
ip link set lt1 netns "$peer" || fail "cannot move lt1"
nsenter -t "$peer" -n sh -c 'ip link set lo up && ip addr add 198.51.100.2/24 dev lt1 &&
    ip link set lt1 up && ip route add default via 198.51.100.1' || fail "cannot set up the peer"

"$bin/lumarc-unitsim" --name LOOPBACK-UNIT > "$folder/units.log" 2>&1 &
sim="$!"
"$bin/lumarc-unitsim" --address 198.51.100.1 --name LINK-UNIT >> "$folder/units.log" 2>&1 &
sim="$sim $!"
for i in $(seq 50); do
    [ "$(grep -c ready "$folder/units.log")" = 2 ] && break
    sleep 0.1
done

here=$("$bin/lumarc" --timeout 2 discover)
there=$(nsenter -t "$peer" -n "$bin/lumarc" --timeout 2 discover)
echo "from this machine:"; echo "$here"
echo "from the other machine:"; echo "$there"
echo "$here" | grep -q LOOPBACK-UNIT || fail "this machine does not find the loopback unit"
echo "$there" | grep -q LINK-UNIT || fail "the other machine's search does not arrive"
echo "$there" | grep -q LOOPBACK-UNIT && fail "the other machine found the loopback unit"
echo "ok"
