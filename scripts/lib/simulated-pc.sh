# A PC of its own inside a private network namespace, with simulated units:
# sourced by the demo and by try-inside.sh (POSIX sh).
#
#   simulated_pc ROOT BIN FILES TRIGGER-PORT
#       settings, "Windows directory" and runtime folder under ROOT; the
#       scanner's TWAIN data-source templates and model list and the
#       error-guide texts from FILES; the still-image server registered.
#   start_units BIN ADDRESS PIN TRIGGER-PORT COMMANDS-FIFO [LOG]
#       two simulated units at ADDRESS and the next one, reading commands
#       from the FIFO (kept open on descriptor 3); waits until they answer.
#       Sets $units_pid.
#   stop_units
#       ends them.
#   start_kicklet BIN [LOG]
#       the event module, as at log-in; waits until it has found the units.
#   stop_kicklet
#       ends it, if it runs.

simulated_pc() {
    _root=$1 _bin=$2 _files=$3 _trigger=$4
    export XDG_CONFIG_HOME="$_root/config" LUMARC_WINDOWS_DIR="$_root/windows" \
        XDG_RUNTIME_DIR="$_root/run" LUMARC_DEBUG=0
    mkdir -p "$XDG_RUNTIME_DIR" "$LUMARC_WINDOWS_DIR/twain_32/orbscan32" "$_root/guides"
    chmod 700 "$XDG_RUNTIME_DIR"
    "$_bin/lumarc-ini" set --settings Common TrgPort "$_trigger"
    "$_bin/lumarc-ini" set --settings TimeOut SearchBox 2
    cp "$_files"/OrbScanner.id "$_files"/*.wrp "$LUMARC_WINDOWS_DIR/twain_32/orbscan32/"
    cp "$_files/KEMRGUID.ini" "$_root/guides/"
    "$_bin/lumarc-regsvr" "$_bin/libquentysti.so"
    # Where an installer records the error-guide folder.
    "$_bin/lumarc-ini" set "$XDG_CONFIG_HOME/Velorin/registry.ini" \
        'HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\KemrGuid.exe' \
        Path "$_root/guides"
}

start_units() {
    _bin=$1 _address=$2 _pin=$3 _trigger=$4 _fifo=$5 _log=${6:-/dev/stdout}
    rm -f "$_fifo"
    mkfifo "$_fifo"
    "$_bin/lumarc-unitsim" --address "$_address" --units 2 --name "Front desk" --pin "$_pin" \
        --scanner ORBIX-4000 --user "alice:1111:127.0.0.1" --trigger-port "$_trigger" \
        --quiet <"$_fifo" >>"$_log" 2>&1 &
    units_pid=$!
    exec 3>"$_fifo"
    for _ in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do
        "$_bin/lumarc" -u "$_address" name >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    echo "the simulated units did not start" >&2
    return 1
}

stop_units() {
    echo quit >&3 2>/dev/null || true
    exec 3>&-
    wait "$units_pid" 2>/dev/null || true
}

kicklet_pid=""

start_kicklet() {
    _bin=$1 _log=${2:-/dev/stderr}
    "$_bin/kicklet" --foreground 2>>"$_log" &
    kicklet_pid=$!
    for _ in $(seq 50); do
        "$_bin/lumarc" refresh >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "the event module did not start" >&2
    return 1
}

stop_kicklet() {
    if [ -n "$kicklet_pid" ]; then
        kill "$kicklet_pid" 2>/dev/null || true
        wait "$kicklet_pid" 2>/dev/null || true
        kicklet_pid=""
    fi
}
