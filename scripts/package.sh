#!/usr/bin/env bash
# Builds the Debian package from a build folder (default: build/release),
# configured for /usr, and prints the package's path.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake --preset release >&2
fi
cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >&2
cmake --build "$build" >&2
(cd "$build" && rm -f ./*.deb && cpack -G DEB >&2)
ls "$PWD/$build"/*.deb
