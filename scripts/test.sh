#!/bin/sh
# Installs what is missing, builds every preset and runs every test.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

./scripts/install-deps.sh

echo "=== Prometheus examples ==="
promtool check config docs/prometheus/prometheus.yml
promtool check rules docs/prometheus/alerts.yml

for preset in default asan tsan; do
  echo "=== $preset ==="
  bv_build_preset "$preset"
  ctest --preset "$preset" -j "${BV_JOBS:-$(nproc)}"
done
echo "=== windows ==="
./scripts/windows-tests.sh
echo "=== benchmark, small form ==="
# Fails only on misbehaviour (crash, missed replies, lost transition).
./bench/run.sh --ci
./bench/run.sh --network --ci
./bench/run.sh --ipv6 --ci
# Fails also when ours' idle round trips miss their accuracy budget.
./bench/run.sh --accuracy --ci
echo "=== service and package ==="
./scripts/service-checks.sh
./scripts/package-test.sh
echo "=== fuzz ==="
FUZZ_SECONDS=40 ./scripts/fuzz.sh
echo "=== soak ==="
./scripts/soak.sh
SOAK_PRESET=tsan SOAK_SECONDS=45 ./scripts/soak.sh --no-memory-check
SOAK_KILLS=4 SOAK_SECONDS=90 ./scripts/soak.sh
echo "=== all tests passed ==="
