#!/bin/sh
# The shell of try.sh, inside its private network namespace:
#   try-inside.sh BIN DEMO-FILES FOLDER
# Scanned pages and the logs stay in FOLDER.
set -eu
bin=$1
files=$2
folder=$3
unit=127.0.0.2
pin=2468
trigger=10003

. "$(dirname "$0")/lib/simulated-pc.sh"

pc=$(mktemp -d)
cleanup() {
    stop_kicklet
    stop_units
    rm -rf "$pc"
}
trap cleanup EXIT
mkdir -p "$folder/scans"
simulated_pc "$pc" "$bin" "$files" "$trigger"
"$bin/lumarc-ini" set --settings 1 IP "$unit"
"$bin/lumarc-ini" set --launch Launch Scan_Apl "$bin/lumarc-scan"
"$bin/lumarc-ini" set --launch Launch Scan_Opt "-u $unit -r 150 -o $folder/scans/page.png --quiet"
: >"$folder/units.log"
start_units "$bin" "$unit" "$pin" "$trigger" "$pc/commands" "$folder/units.log"
start_kicklet "$bin" "$folder/kicklet.log"

# "unit COMMAND": a command to the simulated units, and what they answer.
mkdir "$pc/helpers"
cat >"$pc/helpers/unit" <<HELPER
#!/bin/sh
before=\$(wc -c <"$folder/units.log")
echo "\$*" >"$pc/commands"
sleep 0.3
tail -c +\$((before + 1)) "$folder/units.log"
HELPER
chmod +x "$pc/helpers/unit"

cat >"$pc/rc" <<RC
PS1='(lumarc try) \w\\$ '
PATH="$bin:$pc/helpers:\$PATH"
export LUMARC_UNIT=$unit
[ -r /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
for completion in "$(dirname "$0")/../packaging/bash-completion"/*; do . "\$completion"; done
RC

if [ -t 0 ]; then
    cat <<GREETING
Two simulated units answer at $unit and 127.0.0.3 (administrator PIN $pin,
user alice with PIN 1111); kicklet runs. Try:

  lumarc discover                      lumarc info
  echo $pin | lumarc --pin - users       lumarc sti inquiry
  unit press 1 scan alice              (kicklet scans into $folder/scans/page.png)
  unit panel 1                         (what the unit's panel showed)
  lumarc-scan -r 300 -o - > page.png   lumarc help users
  unit help                            (what the simulated units understand)

Logs: $folder/units.log, $folder/kicklet.log. "exit" ends it all.
GREETING
    bash --rcfile "$pc/rc" -i
else
    # Commands from standard input (scripts, tests).
    bash -c ". '$pc/rc'; . /dev/stdin"
fi
