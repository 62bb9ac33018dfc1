#!/bin/sh
# Renders the pictures of the two Qt programs offscreen into PNG files
# (default: docs/pictures/), inside a private network namespace: the scanner
# information tool's two pages and its Offset dialog for a simulated scanner,
# and the configuration tool's four pages and its Administrator PIN, User
# Registration and Network Configuration dialogs.
#   scripts/render-pictures.sh [MODEL [FOLDER]]
set -eu
cd "$(dirname "$0")/.."
model="${1:-ORBIX-2200}"
folder="${2:-docs/pictures}"

./scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target gaugery-snapshot unitdesk-snapshot quentysti drovik32 \
    unitdesk gaugery kicklet
mkdir -p "$folder"
target="$(cd "$folder" && pwd)"
export QT_QPA_PLATFORM=offscreen
cmake/run-in-netns.sh build/default/bin/gaugery-snapshot "$model" "$target"
exec cmake/run-in-netns.sh build/default/bin/unitdesk-snapshot "$target"
