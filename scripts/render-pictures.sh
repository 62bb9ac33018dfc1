#!/bin/sh
# Renders the scanner information tool's two pages and its Offset dialog of
# a simulated scanner offscreen into PNG files (default: docs/pictures/),
# inside a private network namespace.
#   scripts/render-pictures.sh [MODEL [FOLDER]]
set -eu
cd "$(dirname "$0")/.."
model="${1:-ORBIX-2200}"
folder="${2:-docs/pictures}"

./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target gaugery-snapshot quentysti drovik32
mkdir -p "$folder"
QT_QPA_PLATFORM=offscreen exec cmake/run-in-netns.sh build/default/bin/gaugery-snapshot "$model" "$(cd "$folder" && pwd)"
