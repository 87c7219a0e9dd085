#!/bin/sh
# The benchmark against fping, as root on Debian 12: builds the release
# program, makes a network namespace of its own with only lo up, and runs
# bench/bench.py in it, with a /dev/shm of its own. Options go to bench.py (--ci for the small form).
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
