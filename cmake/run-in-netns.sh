#!/bin/sh
# Runs a test program inside a private network namespace of its own.
#
# Inside: loopback up, and a veth pair (lm0/lm1) with an address from the
# documentation range and a default route, so that a datagram sent to
# 255.255.255.255 goes out of lm0 and is looped back to every local listener,
# while nothing can ever reach the machine's real network. A private mount
# namespace gives the test its own resolver configuration (name server on
# loopback), so a look-up of an unknown host fails at once instead of
# waiting for a server it can never reach.
#
# When the namespace cannot be made, CI (CI=true) fails the test; elsewhere it
# is skipped with exit code 77 and the reason.
set -u

if [ "${LUMARC_IN_NETNS:-}" != "1" ]; then
    if [ $# -eq 0 ]; then
        echo "usage: run-in-netns.sh PROGRAM [ARG...]" >&2
        exit 2
    fi
    export LUMARC_IN_NETNS=1
    # As root a plain network namespace; otherwise a user namespace that maps
    # us to root inside, where the kernel allows it.
    if [ "$(id -u)" = "0" ] && unshare -nm true 2>/dev/null; then
        exec unshare -nm -- "$0" "$@"
    fi
    if unshare -rnm true 2>/dev/null; then
        exec unshare -rnm -- "$0" "$@"
    fi
    reason="cannot create a private network namespace (unshare -nm as root, or unshare -rnm)"
    if [ "${CI:-}" = "true" ]; then
        echo "FAILED: $reason" >&2
        exit 1
    fi
    echo "SKIPPED: $reason" >&2
    exit 77
fi

fail() {
    echo "run-in-netns: $1" >&2
    if [ "${CI:-}" = "true" ]; then exit 1; fi
    exit 77
}

ip link set lo up || fail "cannot bring up lo"
ip link add lm0 type veth peer name lm1 || fail "cannot create the veth pair"
ip addr add 192.0.2.1/24 dev lm0 || fail "cannot address lm0"
ip link set lm0 up && ip link set lm1 up || fail "cannot bring up the veth pair"
ip route add default dev lm0 || fail "cannot add the default route"

resolv=$(mktemp) || fail "cannot create a resolver configuration"
printf 'nameserver 127.0.0.1\noptions timeout:1 attempts:1\n' >"$resolv"
mount --bind "$resolv" /etc/resolv.conf || fail "cannot replace /etc/resolv.conf"
rm -f "$resolv"

# Stay the parent of the test so that its exit code is passed on unchanged.
exec "$@"
