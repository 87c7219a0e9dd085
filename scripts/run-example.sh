#!/bin/sh
# Installs what is missing, builds, and runs the headless monitor on the
# example host list. The log and the down file go to example-run/.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target beaconvigilor-headless

mkdir -p example-run
cd example-run
echo "monitoring the hosts in examples/hosts.txt; log in example-run/out.txt, down hosts in example-run/down.txt"
echo "Ctrl+C stops it (within one ping interval, 5 s here)"
exec ../build/default/beaconvigilor-headless -in ../examples/hosts.txt -out out.txt -red down.txt -pt 5000 >/dev/null
