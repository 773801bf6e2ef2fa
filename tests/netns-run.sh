#!/bin/sh
# Runs one test in a network namespace of its own, with only a loopback device that is up and a default
# route onto it. Tests that bind the protocols' fixed ports or start the whole program run this way, so
# a box or another test run on the same machine cannot answer them, and nothing they send can leave.
# Exits 77 (CTest's skip code) where no namespace can be made, except under CI, where that fails.
set -u
if [ "${MG_NETNS_INSIDE:-}" = 1 ]; then
    /usr/sbin/ip link set lo up || exit 1
    /usr/sbin/ip route add default dev lo || exit 1
    unset MG_NETNS_INSIDE
    exec "$@"
fi
export MG_NETNS_INSIDE=1
# As root a plain namespace will do; a normal user needs a user namespace to own it.
for flags in -n -rn; do
    if unshare $flags true 2>/dev/null; then
        exec unshare $flags "$0" "$@"
    fi
done
echo "netns-run: no network namespace for this test: 'unshare -n' and 'unshare -rn' both refused" \
     "($(unshare -rn true 2>&1 | head -n 1))" >&2
if [ "${CI:-}" = true ]; then
    echo "netns-run: under CI this is a failure, not a skip" >&2
    exit 1
fi
exit 77
