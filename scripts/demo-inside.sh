#!/bin/sh
# The demo itself, run inside a private network namespace by demo.sh.
set -eu
bin="$1"
unit=127.0.0.2
pin=2468
# The PC's trigger port: on one machine the units' own port 10002 is taken
# by their management servers, so the PC listens on 10003.
trigger=10003

# Settings of this demo only.
XDG_CONFIG_HOME=$(mktemp -d)
export XDG_CONFIG_HOME
"$bin/lumarc-ini" set --settings Common TrgPort "$trigger"
"$bin/lumarc-ini" set --settings TimeOut SearchBox 2

echo "== Starting two simulated units at $unit and the next address"
commands=$(mktemp -u)
mkfifo "$commands"
"$bin/lumarc-unitsim" --address "$unit" --units 2 --name "Front desk" --pin "$pin" \
    --scanner ORBIX-4000 --user "alice:1111:127.0.0.1" --trigger-port "$trigger" \
    --quiet <"$commands" &
sim=$!
exec 3>"$commands"
cleanup() {
    echo quit >&3 2>/dev/null || true
    wait "$sim" 2>/dev/null || true
    rm -f "$commands"
    rm -rf "$XDG_CONFIG_HOME"
}
trap cleanup EXIT
# Wait until the unit answers.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    "$bin/lumarc" -u "$unit" name >/dev/null 2>&1 && break
    sleep 0.2
done

echo
echo "== lumarc discover"
"$bin/lumarc" discover

echo
echo "== lumarc -u $unit info"
"$bin/lumarc" -u "$unit" info

echo
echo "== lumarc -u $unit echo"
"$bin/lumarc" -u "$unit" echo

echo
echo "== A user registers from this PC: lumarc user-add bob --host 192.0.2.20"
echo 7777 | "$bin/lumarc" -u "$unit" --user-pin - --host 192.0.2.20 user-add bob

echo
echo "== The administrator lists the users (PIN from standard input)"
echo "$pin" | "$bin/lumarc" -u "$unit" --pin - users

echo
echo "== The administrator renames the unit, then the name is read back"
echo "$pin" | "$bin/lumarc" -u "$unit" --pin - set-name "Lobby"
"$bin/lumarc" -u "$unit" --json name

echo
echo "== A wrong PIN is refused with the unit's status"
echo 0000 | "$bin/lumarc" -u "$unit" --pin - users || true

echo
echo "== lumarc events, while alice presses Scan on the first unit"
"$bin/lumarc" events --count 1 &
events=$!
sleep 0.5
echo "press 1 scan alice" >&3
wait "$events"

echo
echo "== lumarc-scan: one page from the unit's scanner, through the SCSI tunnel"
page=$(mktemp --suffix=.png)
"$bin/lumarc-scan" -u "$unit" -r 150 -o "$page" --quiet
rm -f "$page"

echo
echo "== The still-image device server, registered in this demo's configuration,"
echo "   serves the current unit's scanner: lumarc sti goes through COM and Escape"
"$bin/lumarc-regsvr" "$bin/libquentysti.so"
"$bin/lumarc-ini" set --settings Common Current 1
"$bin/lumarc-ini" set --settings 1 IP "$unit"
"$bin/lumarc-ini" set --settings 1 Scanner ORBIX-4000
"$bin/lumarc" sti list
"$bin/lumarc" sti inquiry

echo
echo "demo: done"
