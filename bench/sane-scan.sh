#!/bin/sh
# An A4 page at 300 dpi in colour from a simulated unit, once through
# scanimage and the lumarc SANE backend, once through lumarc-scan, side by
# side: both write a PNG file (and scanimage once more a PNM, without the
# encoding). Client on CPU 0, unit on CPU 1.
#   cmake/run-in-netns.sh sh bench/sane-scan.sh BIN    (bench/run.sh runs it too)
set -eu
bin=$(cd "$1" && pwd)
unit=127.0.0.6
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir -p "$work/sane.d" "$work/run"
chmod 700 "$work/run"
echo lumarc >"$work/sane.d/dll.conf"
echo "$unit" >"$work/sane.d/lumarc.conf"
export SANE_CONFIG_DIR="$work/sane.d" LD_LIBRARY_PATH="$bin" XDG_RUNTIME_DIR="$work/run" \
    XDG_CONFIG_HOME="$work/config" LUMARC_WINDOWS_DIR="$work/windows"

taskset -c 1 "$bin/lumarc-unitsim" --address "$unit" --quiet </dev/null &
sim=$!
sleep 0.5

now() { date +%s%N; }
# Seconds one command takes, to the millisecond.
timed() {
    start=$(now)
    taskset -c 0 "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    echo "$start $(now)" | awk '{ printf "%.3f", ($2 - $1) / 1e9 }'
}
# A first scan of each, so that neither pays for the page's rendering on
# the unit or for a cold cache of its libraries.
timed scanimage -d "lumarc:$unit" --resolution 75 --format=pnm -o "$work/warm.pnm" >/dev/null
timed "$bin/lumarc-scan" -u "$unit" -r 75 -q -o "$work/warm.png" >/dev/null

sane_png=$(timed scanimage -d "lumarc:$unit" --mode Color --resolution 300 --format=png \
    -o "$work/sane.png")
tool_png=$(timed "$bin/lumarc-scan" -u "$unit" -r 300 -q -o "$work/tool.png")
sane_pnm=$(timed scanimage -d "lumarc:$unit" --mode Color --resolution 300 --format=pnm \
    -o "$work/sane.pnm")

echo "== A4 at 300 dpi, colour (2480 x 3507 pixels), one run each"
printf '  %-44s %8s s\n' "scanimage + lumarc backend, PNG" "$sane_png" \
    "lumarc-scan, PNG" "$tool_png" \
    "scanimage + lumarc backend, PNM (no encoding)" "$sane_pnm"
# Ratios of speeds (lumarc-scan's time over scanimage's): scanimage encodes
# PNG with libpng's defaults (every filter tried, zlib level 6), lumarc-scan
# with the filter and strategy png_bench chose, so the PNM line shows what
# the backend itself delivers.
awk -v s="$sane_png" -v t="$tool_png" -v p="$sane_pnm" 'BEGIN {
    printf "  scanimage + backend, PNG, at %.2fx the speed of lumarc-scan\n", t / s
    printf "  scanimage + backend, PNM, at %.2fx the speed of lumarc-scan (target >= 0.90)\n", t / p }'
ls -l "$work/sane.png" "$work/tool.png" "$work/sane.pnm" | awk '{ printf "  %10d bytes  %s\n", $5, $NF }' |
    sed "s|$work/||"
