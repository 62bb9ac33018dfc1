#!/bin/sh
# Installs every Debian package that the build, the tests and the demo need.
# Idempotent: when everything is present it only checks, which takes well
# under a second. Needs root (or sudo) only when something is missing.
set -eu

PACKAGES="
    g++ cmake ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libpng-dev libsystemd-dev dbus-daemon libsane-dev sane-utils
    iproute2 util-linux procps strace help2man dpkg-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    exit 0
fi

echo "setup: installing:$missing"
SUDO=""
if [ "$(id -u)" != "0" ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
