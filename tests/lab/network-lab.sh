#!/bin/sh
# A private test network of three namespaces, so that the monitor can meet
# real answers, silence, rejections and a router without a packet leaving
# the machine. Each link carries both families.
#
#   PREFIX-mon  the monitor: 198.18.1.1 and 2001:2:0:11::1, default routes via
#               the router; lo up
#   PREFIX-rtr  the router:  198.18.1.2 and 2001:2:0:11::2 towards the monitor,
#               198.18.2.1 and 2001:2:0:12::1 towards the far side
#   PREFIX-far  the far side: 198.18.2.2 and 2001:2:0:12::2, and every address
#               of 198.19.16.0/20 and of 2001:2:0:20::/64 answers there (one
#               hop beyond the router)
#
# On the far side, addresses in the set "dropped" get no answer and those in
# "rejected" get host-unreachable (ICMPv6: address unreachable). From the
# start 198.19.16.2 and 2001:2:0:20::2 are dropped and 198.19.16.3 and
# 2001:2:0:20::3 rejected; every other far address answers until silenced.
# The monitor's /etc/hosts (under `ip netns exec`) names a few of them:
# named.lab 198.19.16.5, silent.lab 198.19.16.2, router.lab 198.18.1.2,
# v6only.lab 2001:2:0:20::5 alone, dual.lab both 198.19.16.6 and
# 2001:2:0:20::6; any other name fails at once (no name server answers in
# the namespace).
#
# usage: network-lab.sh up PREFIX        create it (removes what it made on failure)
#        network-lab.sh down PREFIX      remove everything it made; never fails
#        network-lab.sh silence PREFIX ADDRESS...   drop the echo requests to them
#        network-lab.sh answer PREFIX ADDRESS...    let them answer again
#        network-lab.sh reject PREFIX ADDRESS...    answer them with host-unreachable
#        network-lab.sh only-silent PREFIX ADDRESS... exactly these are dropped from now on
#        network-lab.sh only-rejected PREFIX ADDRESS... exactly these are rejected from now on
#        network-lab.sh open-ping-group PREFIX      let every group open ICMP and ICMPv6
#                                                   datagram sockets in the monitor namespace
#        network-lab.sh delay PREFIX MILLISECONDS ADDRESS...  the far side answers them
#                                                   that much later (a responder of its own)
#        network-lab.sh exec PREFIX COMMAND...      run a command in the monitor namespace,
#                                                   with a private /dev/shm
# ADDRESS: IPv4 or IPv6, each in its family's set.
# PREFIX: at most 8 letters or digits; interface names are built from it.
set -eu

command=${1:-}
prefix=${2:-}
case "$prefix" in
  '' | *[!a-zA-Z0-9]* ) echo "network-lab: a prefix of letters and digits is needed" >&2; exit 2 ;;
esac
if [ ${#prefix} -gt 8 ]; then
  echo "network-lab: the prefix is longer than 8 characters" >&2
  exit 2
fi
shift 2

mon=$prefix-mon
rtr=$prefix-rtr
far=$prefix-far

down() {
  if [ -f "/run/$prefix-responder.pid" ]; then
    kill "$(cat "/run/$prefix-responder.pid")" 2>/dev/null || true
    rm -f "/run/$prefix-responder.pid"
  fi
  for ns in "$mon" "$rtr" "$far"; do
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "/etc/netns/$mon"
}

no_dad() {
  ip netns exec "$1" sysctl -q -w "net.ipv6.conf.$2.accept_dad=0"
}

up() {
  # A failure half-way leaves nothing behind.
  trap 'down' EXIT
  ip netns add "$mon"
  ip netns add "$rtr"
  ip netns add "$far"
  ip link add "${prefix}m0" netns "$mon" type veth peer name "${prefix}r0" netns "$rtr"
  ip link add "${prefix}r1" netns "$rtr" type veth peer name "${prefix}f0" netns "$far"

  # No duplicate address detection, for the link-local addresses too: every
  # IPv6 address is usable at once.
  no_dad "$mon" "${prefix}m0"
  no_dad "$rtr" "${prefix}r0"
  no_dad "$rtr" "${prefix}r1"
  no_dad "$far" "${prefix}f0"

  ip -n "$mon" link set lo up
  ip -n "$mon" addr add 198.18.1.1/24 dev "${prefix}m0"
  ip -n "$mon" addr add 2001:2:0:11::1/64 dev "${prefix}m0" nodad
  ip -n "$mon" link set "${prefix}m0" up
  ip -n "$mon" route add default via 198.18.1.2
  ip -n "$mon" -6 route add default via 2001:2:0:11::2

  ip -n "$rtr" link set lo up
  ip -n "$rtr" addr add 198.18.1.2/24 dev "${prefix}r0"
  ip -n "$rtr" addr add 198.18.2.1/24 dev "${prefix}r1"
  ip -n "$rtr" addr add 2001:2:0:11::2/64 dev "${prefix}r0" nodad
  ip -n "$rtr" addr add 2001:2:0:12::1/64 dev "${prefix}r1" nodad
  ip -n "$rtr" link set "${prefix}r0" up
  ip -n "$rtr" link set "${prefix}r1" up
  ip -n "$rtr" route add 198.19.16.0/20 via 198.18.2.2
  ip -n "$rtr" -6 route add 2001:2:0:20::/64 via 2001:2:0:12::2
  ip netns exec "$rtr" sysctl -q -w net.ipv4.ip_forward=1
  ip netns exec "$rtr" sysctl -q -w net.ipv6.conf.all.forwarding=1
  # The router answers at once, whatever rate the monitor sends at.
  ip netns exec "$rtr" sysctl -q -w net.ipv4.icmp_ratelimit=0
  ip netns exec "$rtr" sysctl -q -w net.ipv6.icmp.ratelimit=0

  ip -n "$far" link set lo up
  ip -n "$far" addr add 198.18.2.2/24 dev "${prefix}f0"
  ip -n "$far" addr add 2001:2:0:12::2/64 dev "${prefix}f0" nodad
  ip -n "$far" link set "${prefix}f0" up
  ip -n "$far" route add default via 198.18.2.1
  ip -n "$far" -6 route add default via 2001:2:0:12::1
  ip -n "$far" route add local 198.19.16.0/20 dev lo
  ip -n "$far" -6 route add local 2001:2:0:20::/64 dev lo
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_ratelimit=0
  ip netns exec "$far" sysctl -q -w net.ipv6.icmp.ratelimit=0
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_echo_ignore_broadcasts=0
  ip netns exec "$far" nft -f - <<'EOF'
table ip lab {
  set dropped { type ipv4_addr; elements = { 198.19.16.2 } }
  set rejected { type ipv4_addr; elements = { 198.19.16.3 } }
  chain input {
    type filter hook input priority 0;
    icmp type echo-request ip daddr @dropped drop
    icmp type echo-request ip daddr @rejected reject with icmp type host-unreachable
  }
}
table ip6 lab {
  set dropped { type ipv6_addr; elements = { 2001:2:0:20::2 } }
  set rejected { type ipv6_addr; elements = { 2001:2:0:20::3 } }
  chain input {
    type filter hook input priority 0;
    icmpv6 type echo-request ip6 daddr @dropped drop
    icmpv6 type echo-request ip6 daddr @rejected reject with icmpv6 type addr-unreachable
  }
}
EOF

  mkdir -p "/etc/netns/$mon"
  cat >"/etc/netns/$mon/hosts" <<'EOF'
127.0.0.1	localhost
198.19.16.5	named.lab
198.19.16.2	silent.lab
198.18.1.2	router.lab
2001:2:0:20::5	v6only.lab
198.19.16.6	dual.lab
2001:2:0:20::6	dual.lab
EOF
  # Names not in that file find no server: no look-up leaves the namespace.
  echo "nameserver 127.0.0.1" >"/etc/netns/$mon/resolv.conf"
  trap - EXIT
}

in_far() {
  ip netns exec "$far" "$@"
}

# The table of an address's family.
family_of() {
  case "$1" in
    *:*) echo ip6 ;;
    *) echo ip ;;
  esac
}

# An element that is not in a set fails a whole deletion, so one at a time.
remove_from() {
  set_name=$1
  shift
  for address in "$@"; do
    in_far nft delete element "$(family_of "$address")" lab "$set_name" "{ $address }" 2>/dev/null || true
  done
}

add_to() {
  set_name=$1
  shift
  for address in "$@"; do
    in_far nft add element "$(family_of "$address")" lab "$set_name" "{ $address }"
  done
}

# Exactly these addresses in the sets of both families, in one step.
only_in() {
  set_name=$1
  shift
  { echo "flush set ip lab $set_name"
    echo "flush set ip6 lab $set_name"
    for address in "$@"; do echo "add element $(family_of "$address") lab $set_name { $address }"; done
  } | in_far nft -f -
}

case "$command" in
  up) down; up ;;
  down) down ;;
  silence) remove_from rejected "$@"; add_to dropped "$@" ;;
  answer) remove_from dropped "$@"; remove_from rejected "$@" ;;
  reject) remove_from dropped "$@"; add_to rejected "$@" ;;
  # The range is a setting of each network namespace; a new one starts closed;
  # it governs the ICMPv6 datagram socket too.
  open-ping-group) ip netns exec "$mon" sysctl -q -w net.ipv4.ping_group_range="0 2147483647" ;;
  only-silent) only_in dropped "$@" ;;
  # The kernel's answers to them are dropped; the responder answers instead.
  delay)
    milliseconds=$1
    shift
    add_to dropped "$@"
    in_far python3 "$(dirname "$0")/delayed-responder.py" "${prefix}f0" "$milliseconds" "$@" >/dev/null 2>&1 &
    echo $! >"/run/$prefix-responder.pid"
    ;;
  only-rejected) only_in rejected "$@" ;;
  # The command gets a /dev/shm of its own: the program's named lock objects
  # of other runs on this machine (a killed one may hold semaphore counts for
  # good) must not reach the monitor under test.
  exec) exec ip netns exec "$mon" sh -c 'mount -t tmpfs -o mode=1777 lab-shm /dev/shm && exec "$@"' network-lab "$@" ;;
  *) echo "network-lab: unknown command '$command'" >&2; exit 2 ;;
esac
