#!/bin/sh
# The demo itself, run inside a private network namespace by demo.sh:
#   demo-inside.sh BIN OUTPUT-FOLDER DEMO-FILES
set -eu
bin="$1"
output="$2"
files="$3"
unit=127.0.0.2
pin=2468
# The PC's trigger port: on one machine the units' own port 10002 is taken
# by their management servers, so the PC listens on 10003.
trigger=10003

. "$(dirname "$0")/lib/simulated-pc.sh"

# A PC of this demo only: settings, "Windows directory", runtime folder.
demo=$(mktemp -d)
echo "== Setting up this PC: trigger port $trigger, the scanner's TWAIN data-source"
echo "   templates and model list, the error-guide texts, the still-image server"
simulated_pc "$demo" "$bin" "$files" "$trigger"
page="$output/page.png"
rm -f "$page"
echo "   The Scan button starts lumarc-scan (Lanyard.ini, [Launch]):"
"$bin/lumarc-ini" set --launch Launch Scan_Apl "$bin/lumarc-scan"
"$bin/lumarc-ini" set --launch Launch Scan_Opt "-u $unit -r 150 -o $page --quiet"
"$bin/lumarc-ini" get-section --launch Launch | sed 's/^/     /'

echo
echo "== Starting two simulated units at $unit and the next address"
cleanup() {
    stop_kicklet
    stop_units
    rm -rf "$demo"
}
trap cleanup EXIT
start_units "$bin" "$unit" "$pin" "$trigger" "$demo/commands"

echo
echo "== Starting kicklet, the event module (as at log-in); it finds the units"
start_kicklet "$bin"
echo "   lumarc refresh:"
"$bin/lumarc" refresh | sed 's/^/     /'

echo
echo "== alice presses Scan on the first unit: kicklet starts lumarc-scan for her"
echo "press 1 scan alice" >&3
for _ in $(seq 100); do
    [ -f "$page" ] && break
    sleep 0.1
done
if [ -f "$page" ]; then
    echo "   scanned page: $page ($(wc -c <"$page") bytes)"
else
    echo "   no page arrived"
fi

echo
echo "== The same scanner from any SANE program: Debian's scanimage through the"
echo "   lumarc backend (the SANE dll loader finds it by SANE_CONFIG_DIR and"
echo "   LD_LIBRARY_PATH here; installed, /etc/sane.d/dll.d/lumarc does that)"
mkdir -p "$demo/sane.d"
echo lumarc >"$demo/sane.d/dll.conf"
echo "# the units of the settings file only" >"$demo/sane.d/lumarc.conf"
sane_page="$output/page-sane.png"
rm -f "$sane_page"
export SANE_CONFIG_DIR="$demo/sane.d" LD_LIBRARY_PATH="$bin"
echo "   scanimage -L:"
scanimage -L | sed 's/^/     /'
# lumarc-scan may still be on its way out and hold the unit for a moment.
for _ in $(seq 20); do
    scanimage -d "lumarc:$unit" --mode Color --resolution 150 --format=png \
        -o "$sane_page" 2>"$demo/scanimage.err" && break
    grep -q "Device busy" "$demo/scanimage.err" || break
    sleep 0.2
done
if [ -s "$sane_page" ]; then
    echo "   scanimage -d lumarc:$unit --resolution 150 --format=png:"
    echo "     $sane_page ($(wc -c <"$sane_page") bytes)"
else
    echo "   scanimage failed: $(cat "$demo/scanimage.err")"
fi
unset SANE_CONFIG_DIR LD_LIBRARY_PATH

echo
echo "== The scanner information tool's road: lumarc sti inquiry goes through COM;"
echo "   its LockDevice and UnLockDevice make kicklet show \"0\" and \"1\" on the panel"
"$bin/lumarc" sti inquiry | sed 's/^/   /'

echo
echo "== A scanning program reports a scanner error (03 80 01 5A); kicklet shows the"
echo "   error guide's text on the current unit's panel"
"$bin/lumarc" report-error "03 80 01 5A" | sed 's/^/   /'
sleep 0.5

echo
echo "== The first unit's panel log: the launch report, the lock texts, the error text"
echo "panel 1" >&3
sleep 0.3

echo
echo "== The unit list kicklet keeps (lumarc-ini get-section --settings 1 and 2)"
"$bin/lumarc-ini" get-section --settings 1 | sed 's/^/   /'
"$bin/lumarc-ini" get-section --settings 2 | sed 's/^/   /'

echo
echo "== Managing the unit with lumarc: its name, firmware, network and scanner"
"$bin/lumarc" -u "$unit" info | sed 's/^/   /'

echo
echo "== A user registers from this PC; the administrator lists the users (PIN from"
echo "   standard input), renames the unit; a wrong PIN is refused"
echo 7777 | "$bin/lumarc" -u "$unit" --user-pin - --host 192.0.2.20 user-add bob
echo "$pin" | "$bin/lumarc" -u "$unit" --pin - users
echo "$pin" | "$bin/lumarc" -u "$unit" --pin - set-name "Lobby"
"$bin/lumarc" -u "$unit" --json name
echo 0000 | "$bin/lumarc" -u "$unit" --pin - users || true

echo
echo "demo: done; the scanned pages stay in $page and $sane_page"
