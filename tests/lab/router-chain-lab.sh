#!/bin/sh
# A private test network with a chain of routers, so that the monitor can
# learn real paths, meet real time-exceeded answers and see where the
# network broke, without a packet leaving the machine. Each link carries
# both families.
#
#   PREFIX-mon   the monitor ---- PREFIX-r1 ---- PREFIX-r2 ---- PREFIX-fara
#                                                    |
#                                                PREFIX-r3 ---- PREFIX-farb
#
#   PREFIX-mon   198.18.31.1   2001:2:0:31::1   default routes via r1; lo up
#   PREFIX-r1    198.18.31.2   2001:2:0:31::2   towards the monitor (hop 1)
#                198.18.32.1   2001:2:0:32::1   towards r2
#   PREFIX-r2    198.18.32.2   2001:2:0:32::2   towards r1 (hop 2)
#                198.18.33.1   2001:2:0:33::1   towards network A
#                198.18.34.1   2001:2:0:34::1   towards r3
#   PREFIX-r3    198.18.34.2   2001:2:0:34::2   towards r2 (hop 3)
#                198.18.35.1   2001:2:0:35::1   towards network B
#   PREFIX-fara  198.18.33.2   2001:2:0:33::2   network A, an end host behind r2:
#                every address of 198.19.40.0/23 (two /24 networks) and of
#                2001:2:0:40::/63 (two /64 networks) answers there
#   PREFIX-farb  198.18.35.2   2001:2:0:35::2   network B, an end host behind r3:
#                every address of 198.19.50.0/23 and of 2001:2:0:50::/63
#
# Every namespace sends with the kernel's default TTL and hop limit of 64,
# so an answer from network A comes with 62 (two routers on the way back),
# from network B with 61, from r1 with 64, r2 63, r3 62.
#
# The routers forward both ways and answer with ICMP time exceeded at the
# kernel's default rate limit, which the monitor must cope with: per
# destination, a burst of 6 and then one every net.ipv4.icmp_ratelimit
# milliseconds (1000 by default; ICMPv6: net.ipv6.icmp.ratelimit, 100), and
# net.ipv4.icmp_msgs_per_sec over all destinations. Like real routers they
# stop using a route whose link has lost its carrier
# (ignore_routes_with_linkdown), so a packet towards a cut link gets an ICMP
# network unreachable from the router before it (at the same rate limit).
# No router has a default route: nothing unknown goes round in circles.
# With its link to r1 cut, the monitor itself says host unreachable (ICMPv6:
# address unreachable), from its own address, once its neighbour look-up
# for r1 has failed, some 3 s after a request.
# Each operation returns once its links are as it left them.
#
# usage: router-chain-lab.sh up PREFIX        create it (removes what it made on failure)
#        router-chain-lab.sh down PREFIX      remove everything it made; never fails
#        router-chain-lab.sh cut-far-b PREFIX      r3's link to network B loses its
#                                                  carrier (B's end goes down):
#                                                  r3 answers, B does not
#        router-chain-lab.sh restore-far-b PREFIX  and up again
#        router-chain-lab.sh down-r2 PREFIX        r2's links go down: r2, r3, A and B
#                                                  are silent, r1 answers
#        router-chain-lab.sh up-r2 PREFIX          r2 as it was
#        router-chain-lab.sh cut-own PREFIX        the monitor's link to r1 loses its
#                                                  carrier (r1's end goes down)
#        router-chain-lab.sh restore-own PREFIX    and comes back
#        router-chain-lab.sh open-ping-group PREFIX  let every group open ICMP and ICMPv6
#                                                  datagram sockets in the monitor namespace
#        router-chain-lab.sh capture-start PREFIX  count from now the echo requests r1
#                                                  receives from the monitor
#        router-chain-lab.sh capture-count PREFIX  prints "PROBES REQUESTS": those with a
#                                                  TTL or hop limit of at most 8, and the others
#        router-chain-lab.sh exec PREFIX COMMAND...  run a command in the monitor namespace,
#                                                  with a private /dev/shm
# PREFIX: at most 8 letters or digits; interface names are built from it.
set -eu

command=${1:-}
prefix=${2:-}
case "$prefix" in
  '' | *[!a-zA-Z0-9]* ) echo "router-chain-lab: a prefix of letters and digits is needed" >&2; exit 2 ;;
esac
if [ ${#prefix} -gt 8 ]; then
  echo "router-chain-lab: the prefix is longer than 8 characters" >&2
  exit 2
fi
shift 2

mon=$prefix-mon
r1=$prefix-r1
r2=$prefix-r2
r3=$prefix-r3
fara=$prefix-fara
farb=$prefix-farb

# Interfaces: m0 the monitor's; 1m r1's towards the monitor, 1n towards r2;
# 2p r2's towards r1, 2a towards A, 2n towards r3; 3p r3's towards r2, 3b
# towards B; a0 and b0 the far networks'.
m0=${prefix}m0
if1m=${prefix}1m
if1n=${prefix}1n
if2p=${prefix}2p
if2a=${prefix}2a
if2n=${prefix}2n
if3p=${prefix}3p
if3b=${prefix}3b
a0=${prefix}a0
b0=${prefix}b0

down() {
  for ns in "$mon" "$r1" "$r2" "$r3" "$fara" "$farb"; do
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "/etc/netns/$mon"
}

no_dad() {
  ip netns exec "$1" sysctl -q -w "net.ipv6.conf.$2.accept_dad=0"
}

# An address of each family on an interface, set up; again after the link
# went down, when the kernel may have dropped the IPv6 one.
address() {
  ns=$1 dev=$2 v4=$3 v6=$4
  ip -n "$ns" addr replace "$v4" dev "$dev"
  ip -n "$ns" -6 addr replace "$v6" dev "$dev" nodad
  ip -n "$ns" link set "$dev" up
}

route() {
  ns=$1
  shift
  case "$1" in
    *:*) ip -n "$ns" -6 route replace "$@" ;;
    *) ip -n "$ns" route replace "$@" ;;
  esac
}

# The kernel brings a link's operational state up a moment after both ends
# are up, and until then the routers ignore the routes through it: each
# operation returns once its links are as it left them, within 5 s.
# usage: settled up|down NAMESPACE INTERFACE...
settled() {
  wanted=$1 ns=$2
  shift 2
  for dev in "$@"; do
    tries=0
    while :; do
      case "$(ip -n "$ns" -o link show dev "$dev")" in
        *"state UP "*) [ "$wanted" = up ] && break ;;
        *) [ "$wanted" = down ] && break ;;
      esac
      tries=$((tries + 1))
      if [ $tries -ge 100 ]; then
        echo "router-chain-lab: $dev in $ns did not come $wanted" >&2
        return 1
      fi
      sleep 0.05
    done
  done
}

router_settings() {
  ip netns exec "$1" sysctl -q -w net.ipv4.ip_forward=1
  ip netns exec "$1" sysctl -q -w net.ipv6.conf.all.forwarding=1
  ip netns exec "$1" sysctl -q -w net.ipv4.conf.all.ignore_routes_with_linkdown=1
  ip netns exec "$1" sysctl -q -w net.ipv6.conf.all.ignore_routes_with_linkdown=1
}

# Routers' addresses and routes: a link set down loses its routes, so the
# operations that bring one up again run these once more.
configure_r1() {
  address "$r1" "$if1m" 198.18.31.2/24 2001:2:0:31::2/64
  address "$r1" "$if1n" 198.18.32.1/24 2001:2:0:32::1/64
  # Everything of the lab beyond r1 lies beyond r2; the longer connected
  # routes win for the two links of r1.
  route "$r1" 198.18.0.0/15 via 198.18.32.2
  route "$r1" 2001:2::/48 via 2001:2:0:32::2
}

configure_r2() {
  address "$r2" "$if2p" 198.18.32.2/24 2001:2:0:32::2/64
  address "$r2" "$if2a" 198.18.33.1/24 2001:2:0:33::1/64
  address "$r2" "$if2n" 198.18.34.1/24 2001:2:0:34::1/64
  route "$r2" 198.18.31.0/24 via 198.18.32.1
  route "$r2" 2001:2:0:31::/64 via 2001:2:0:32::1
  route "$r2" 198.19.40.0/23 via 198.18.33.2
  route "$r2" 2001:2:0:40::/63 via 2001:2:0:33::2
  route "$r2" 198.18.35.0/24 via 198.18.34.2
  route "$r2" 2001:2:0:35::/64 via 2001:2:0:34::2
  route "$r2" 198.19.50.0/23 via 198.18.34.2
  route "$r2" 2001:2:0:50::/63 via 2001:2:0:34::2
}

configure_r3() {
  address "$r3" "$if3p" 198.18.34.2/24 2001:2:0:34::2/64
  address "$r3" "$if3b" 198.18.35.1/24 2001:2:0:35::1/64
  # Back to the monitor only: r3 answers nobody else.
  route "$r3" 198.18.31.0/24 via 198.18.34.1
  route "$r3" 2001:2:0:31::/64 via 2001:2:0:34::1
  route "$r3" 198.19.50.0/23 via 198.18.35.2
  route "$r3" 2001:2:0:50::/63 via 2001:2:0:35::2
}

# The far networks are end hosts: a default route through their router.
configure_fara() {
  address "$fara" "$a0" 198.18.33.2/24 2001:2:0:33::2/64
  route "$fara" default via 198.18.33.1
  route "$fara" default via 2001:2:0:33::1
}

configure_farb() {
  address "$farb" "$b0" 198.18.35.2/24 2001:2:0:35::2/64
  route "$farb" default via 198.18.35.1
  route "$farb" default via 2001:2:0:35::1
}

# Every address of a network answers, on lo.
local_networks() {
  ip -n "$1" link set lo up
  ip -n "$1" route add local "$2" dev lo
  ip -n "$1" -6 route add local "$3" dev lo
}

up() {
  # A failure half-way leaves nothing behind.
  trap 'down' EXIT
  for ns in "$mon" "$r1" "$r2" "$r3" "$fara" "$farb"; do
    ip netns add "$ns"
  done
  ip link add "$m0" netns "$mon" type veth peer name "$if1m" netns "$r1"
  ip link add "$if1n" netns "$r1" type veth peer name "$if2p" netns "$r2"
  ip link add "$if2a" netns "$r2" type veth peer name "$a0" netns "$fara"
  ip link add "$if2n" netns "$r2" type veth peer name "$if3p" netns "$r3"
  ip link add "$if3b" netns "$r3" type veth peer name "$b0" netns "$farb"

  # No duplicate address detection, for the link-local addresses too: every
  # IPv6 address is usable at once.
  no_dad "$mon" "$m0"
  no_dad "$r1" "$if1m"
  no_dad "$r1" "$if1n"
  no_dad "$r2" "$if2p"
  no_dad "$r2" "$if2a"
  no_dad "$r2" "$if2n"
  no_dad "$r3" "$if3p"
  no_dad "$r3" "$if3b"
  no_dad "$fara" "$a0"
  no_dad "$farb" "$b0"

  ip -n "$mon" link set lo up
  address "$mon" "$m0" 198.18.31.1/24 2001:2:0:31::1/64
  route "$mon" default via 198.18.31.2
  route "$mon" default via 2001:2:0:31::2

  for ns in "$r1" "$r2" "$r3"; do
    ip -n "$ns" link set lo up
    router_settings "$ns"
  done
  configure_r1
  configure_r2
  configure_r3

  configure_fara
  configure_farb
  local_networks "$fara" 198.19.40.0/23 2001:2:0:40::/63
  local_networks "$farb" 198.19.50.0/23 2001:2:0:50::/63

  settled up "$mon" "$m0"
  settled up "$r1" "$if1m" "$if1n"
  settled up "$r2" "$if2p" "$if2a" "$if2n"
  settled up "$r3" "$if3p" "$if3b"
  settled up "$fara" "$a0"
  settled up "$farb" "$b0"

  # Names find no server: no look-up leaves the namespace.
  mkdir -p "/etc/netns/$mon"
  echo "nameserver 127.0.0.1" >"/etc/netns/$mon/resolv.conf"
  trap - EXIT
}

# Counted where the monitor's requests enter r1, before r1 lowers their TTL.
capture_start() {
  ip netns exec "$r1" nft -f - <<EOF
table inet capture
delete table inet capture
table inet capture {
  counter probes {}
  counter requests {}
  chain from_monitor {
    type filter hook prerouting priority -300;
    iifname "$if1m" ip ttl <= 8 icmp type echo-request counter name "probes"
    iifname "$if1m" ip ttl > 8 icmp type echo-request counter name "requests"
    iifname "$if1m" ip6 hoplimit <= 8 icmpv6 type echo-request counter name "probes"
    iifname "$if1m" ip6 hoplimit > 8 icmpv6 type echo-request counter name "requests"
  }
}
EOF
}

packets_of() {
  ip netns exec "$r1" nft list counter inet capture "$1" 2>/dev/null | sed -n 's/.*packets \([0-9]*\).*/\1/p'
}

capture_count() {
  probes=$(packets_of probes)
  requests=$(packets_of requests)
  if [ -z "$probes" ] || [ -z "$requests" ]; then
    echo "router-chain-lab: no capture started" >&2
    exit 1
  fi
  echo "$probes $requests"
}

case "$command" in
  up) down; up ;;
  down) down ;;
  # The far end goes down, so that r3 sees its carrier go as a router would.
  cut-far-b) ip -n "$farb" link set "$b0" down; settled down "$r3" "$if3b" ;;
  restore-far-b) configure_farb; settled up "$r3" "$if3b"; settled up "$farb" "$b0" ;;
  down-r2)
    for dev in "$if2p" "$if2a" "$if2n"; do ip -n "$r2" link set "$dev" down; done
    settled down "$r1" "$if1n"; settled down "$fara" "$a0"; settled down "$r3" "$if3p" ;;
  up-r2)
    configure_r2
    settled up "$r2" "$if2p" "$if2a" "$if2n"
    settled up "$r1" "$if1n"; settled up "$fara" "$a0"; settled up "$r3" "$if3p" ;;
  cut-own) ip -n "$r1" link set "$if1m" down; settled down "$mon" "$m0" ;;
  restore-own) configure_r1; settled up "$r1" "$if1m"; settled up "$mon" "$m0" ;;
  # The range is a setting of each network namespace; a new one starts closed;
  # it governs the ICMPv6 datagram socket too.
  open-ping-group) ip netns exec "$mon" sysctl -q -w net.ipv4.ping_group_range="0 2147483647" ;;
  capture-start) capture_start ;;
  capture-count) capture_count ;;
  # The command gets a /dev/shm of its own: the program's named lock objects
  # of other runs on this machine (a killed one may hold semaphore counts for
  # good) must not reach the monitor under test.
  exec) exec ip netns exec "$mon" sh -c 'mount -t tmpfs -o mode=1777 lab-shm /dev/shm && exec "$@"' router-chain-lab "$@" ;;
  *) echo "router-chain-lab: unknown command '$command'" >&2; exit 2 ;;
esac
