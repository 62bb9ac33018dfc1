#!/bin/sh
# The demo itself, run inside a private network namespace by demo.sh.
set -eu
bin="$1"
unit=127.0.0.2
pin=2468

echo "== Starting a simulated unit at $unit"
"$bin/lumarc-unitsim" --address "$unit" --name "Front desk" --pin "$pin" \
    --scanner ORBIX-4000 --user "alice:1111:192.0.2.10" --quiet &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
# Wait until the unit answers.
for _ in 1 2 3 4 5 6 7 8 9 10; do
    "$bin/lumarc" -u "$unit" name >/dev/null 2>&1 && break
    sleep 0.2
done

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
echo "demo: done"
