#!/bin/sh
# The benchmark against fping, as root on Debian 12: builds the release
# program, makes a network namespace of its own with only lo up, and runs
# bench/bench.py in it, with a /dev/shm of its own. Options go to bench.py (--ci for the small form).
# With --network first it runs bench/network_bench.py instead: the monitor in
# one namespace, far hosts answered by bench/echo_responder in another,
# joined by a veth pair.
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
  echo "bench/run.sh needs root (raw sockets, network namespaces, nftables)" >&2
  exit 2
fi

./scripts/install-deps.sh >&2

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBV_BUILD_TESTS=OFF -DBV_BUILD_QT=OFF >/dev/null
cmake --build "$build" --target beaconvigilor-headless -j "$(nproc)" >/dev/null

if [ "${1:-}" = "--network" ]; then
  shift
  g++ -O2 -std=c++20 -Wall -Wextra bench/echo_responder.cpp -o "$build/echo_responder"
  monitor="bvnet-mon-$$"
  far="bvnet-far-$$"
  cleanup() {
    ip netns delete "$monitor" 2>/dev/null || true
    ip netns delete "$far" 2>/dev/null || true
  }
  trap cleanup EXIT
  trap 'exit 130' INT TERM
  ip netns add "$monitor"
  ip netns add "$far"
  ip link add bvnet-m netns "$monitor" type veth peer name bvnet-f netns "$far"
  ip -n "$monitor" link set lo up
  ip -n "$far" link set lo up
  ip -n "$monitor" addr add 198.18.0.1/30 dev bvnet-m
  ip -n "$far" addr add 198.18.0.2/30 dev bvnet-f
  ip -n "$monitor" link set bvnet-m up
  ip -n "$far" link set bvnet-f up
  ip -n "$monitor" route add 198.19.0.0/16 via 198.18.0.2
  # Every far host is an address of the far namespace; our responder answers
  # for them, not the kernel.
  ip -n "$far" route add local 198.19.0.0/16 dev lo
  ip netns exec "$far" sysctl -q -w net.ipv4.icmp_echo_ignore_all=1
  ip netns exec "$monitor" unshare --mount --propagation private sh -c \
    'mount -t tmpfs -o size=16m bvnet-shm /dev/shm && exec python3 "$@"' sh \
    bench/network_bench.py --program "$(pwd)/$build/beaconvigilor-headless" \
    --responder "$(pwd)/$build/echo_responder" --far "$far" "$@"
  exit $?
fi

namespace="bvbench-$$"
cleanup() { ip netns delete "$namespace" 2>/dev/null || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM
ip netns add "$namespace"
ip -n "$namespace" link set lo up

# A /dev/shm of its own as well: the program's named lock objects live
# there, and other runs of the program on the machine must not share the
# six request counts with the one measured.
ip netns exec "$namespace" unshare --mount --propagation private sh -c \
  'mount -t tmpfs -o size=16m bvbench-shm /dev/shm && exec python3 "$@"' sh \
  bench/bench.py --program "$(pwd)/$build/beaconvigilor-headless" "$@"
