#!/bin/sh
# The benchmark against fping, as root on Debian 12: builds the bench preset
# and runs bench/bench.py in the monitor namespace of the test network
# (tests/lab/network-lab.sh), on its loopback hosts, with a /dev/shm of its
# own. Options go to bench.py (--ci for the small form).
# With --network first it runs bench/network_bench.py instead: far hosts
# beyond the lab's router, answered by bench/echo_responder in the lab's far
# namespace.
# With --ipv6 first it runs bench/bench.py --families instead: 10,000 IPv6
# hosts against 10,000 IPv4 ones, in a namespace of its own where both
# ranges are local on lo.
# With --accuracy first it runs bench/accuracy.py instead: the round trips
# ours and fping report against the wire's, 50 hosts behind a veth pair in
# two namespaces of its own (--accuracy --ci for the short form).
# With --page first it runs bench/page_bench.py instead: the status page of
# -metrics, its first load in headless Chromium and the monitor's CPU with
# pages open, 10,000 hosts in a namespace of its own where they are local on
# lo (--page --ci for the short form).
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

bv_require_root_or_skip "benchmark" "raw sockets, network namespaces, nftables"

./scripts/install-deps.sh build test >&2
# The tables go to standard output: the build's lines go elsewhere.
bv_build_preset bench beaconvigilor-headless echo_responder >&2
build=$PWD/build/bench

if [ "${1:-}" = "--ipv6" ]; then
  shift
  ns=bvb6$(( $$ % 10000 ))
  trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
  trap 'exit 130' INT TERM
  ip netns del "$ns" 2>/dev/null || true
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  # Every address of both ranges answers, from the kernel's echo.
  ip -n "$ns" route add local 198.18.0.0/18 dev lo
  ip -n "$ns" -6 route add local 2001:2:0:1::/64 dev lo
  # A /dev/shm of its own, as the lab gives its commands (see below).
  ip netns exec "$ns" sh -c 'mount -t tmpfs -o mode=1777 bench-shm /dev/shm && exec "$@"' run.sh \
    python3 bench/bench.py --families --program "$build/beaconvigilor-headless" "$@"
  exit $?
fi

if [ "${1:-}" = "--page" ]; then
  shift
  command -v node >/dev/null && [ -x /usr/bin/chromium ] || bv_fail "benchmark: the page needs node and /usr/bin/chromium"
  [ -d tests/browser/node_modules/playwright-core ] || (cd tests/browser && npm ci --no-audit --no-fund >&2)
  ns=bvpg$(( $$ % 10000 ))
  trap 'ip netns del "$ns" 2>/dev/null || true' EXIT
  trap 'exit 130' INT TERM
  ip netns del "$ns" 2>/dev/null || true
  ip netns add "$ns"
  ip -n "$ns" link set lo up
  # Every address of the range answers, from the kernel's echo.
  ip -n "$ns" route add local 198.18.0.0/18 dev lo
  ip netns exec "$ns" sh -c 'mount -t tmpfs -o mode=1777 bench-shm /dev/shm && exec "$@"' run.sh \
    python3 bench/page_bench.py --program "$build/beaconvigilor-headless" \
    --node-modules "$PWD/tests/browser/node_modules" "$@"
  exit $?
fi

if [ "${1:-}" = "--accuracy" ]; then
  shift
  ns=bvac$(( $$ % 10000 ))
  monitor=${ns}m hosts=${ns}h link=${ns}v
  trap 'ip netns del "$monitor" 2>/dev/null || true; ip netns del "$hosts" 2>/dev/null || true' EXIT
  trap 'exit 130' INT TERM
  ip netns del "$monitor" 2>/dev/null || true
  ip netns del "$hosts" 2>/dev/null || true
  ip netns add "$monitor"
  ip netns add "$hosts"
  ip link add "$link" netns "$monitor" type veth peer name "$link" netns "$hosts"
  ip -n "$monitor" link set lo up
  ip -n "$hosts" link set lo up
  ip -n "$monitor" addr add 198.18.0.1/30 dev "$link"
  ip -n "$hosts" addr add 198.18.0.2/30 dev "$link"
  ip -n "$monitor" link set "$link" up
  ip -n "$hosts" link set "$link" up
  # Fixed neighbours: no ARP on the link while it is measured.
  mac_of() { ip -n "$1" -o link show dev "$link" | sed 's/.*link\/ether \([^ ]*\).*/\1/'; }
  ip -n "$monitor" neigh replace 198.18.0.2 lladdr "$(mac_of "$hosts")" dev "$link" nud permanent
  ip -n "$hosts" neigh replace 198.18.0.1 lladdr "$(mac_of "$monitor")" dev "$link" nud permanent
  # The 50 hosts, answered by the far namespace's kernel, routed over the pair.
  ip -n "$monitor" route add 198.18.1.0/26 via 198.18.0.2
  addresses=
  for host in $(seq 1 50); do
    ip -n "$hosts" addr add "198.18.1.$host/32" dev lo
    addresses=${addresses:+$addresses,}198.18.1.$host
  done
  ip netns exec "$monitor" sh -c 'mount -t tmpfs -o mode=1777 bench-shm /dev/shm && exec "$@"' run.sh \
    python3 bench/accuracy.py --program "$build/beaconvigilor-headless" --link "$link" --hosts "$addresses" "$@"
  exit $?
fi

lab=bvbn$(( $$ % 10000 ))
cleanup() { tests/lab/network-lab.sh down "$lab"; }
trap cleanup EXIT
trap 'exit 130' INT TERM
tests/lab/network-lab.sh up "$lab"

if [ "${1:-}" != "--network" ]; then
  # The program's named lock objects live in /dev/shm: other runs of the
  # program on the machine must not share the six request counts with the
  # one measured, and the lab gives each command a /dev/shm of its own.
  tests/lab/network-lab.sh exec "$lab" python3 bench/bench.py --program "$build/beaconvigilor-headless" "$@"
  exit $?
fi
shift

# Far hosts by the thousand, more than the lab's far side holds: a /18 of
# the benchmarking range that none of the lab's own networks touches,
# routed by the lab's router to its far side, where every address of it is
# local and our responder answers for them, not the kernel.
lab_networks=$(ip -n "$lab-rtr" -4 -o route show | awk '$1 != "default" { print $1 }')
hosts=$(python3 -c '
import ipaddress, sys
taken = [ipaddress.ip_network(n, strict=False) for n in sys.argv[1:]]
free = [n for n in ("198.19.64.0/18", "198.19.128.0/18", "198.19.192.0/18", "198.18.64.0/18")
        if not any(ipaddress.ip_network(n).overlaps(t) for t in taken)]
print(free[0] if free else "")' $lab_networks)
[ -n "$hosts" ] || bv_fail "benchmark: the lab uses all of 198.18.0.0/15; no room for the far hosts"
far_address=$(ip -n "$lab-far" -4 -o addr show dev "${lab}f0" | awk '{ sub("/.*", "", $4); print $4; exit }')
ip -n "$lab-rtr" route add "$hosts" via "$far_address"
ip -n "$lab-far" route add local "$hosts" dev lo
ip netns exec "$lab-far" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
tests/lab/network-lab.sh exec "$lab" python3 bench/network_bench.py --program "$build/beaconvigilor-headless" \
  --responder "$build/bench/echo_responder" --lab "$lab" --hosts "$hosts" "$@"
