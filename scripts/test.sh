#!/bin/sh
# Installs what is missing, builds every preset and runs every test.
set -eu
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

echo "=== Prometheus examples ==="
promtool check config docs/prometheus/prometheus.yml
promtool check rules docs/prometheus/alerts.yml

jobs=$(nproc)
for preset in default asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== windows ==="
./scripts/windows-tests.sh
echo "=== benchmark, small form ==="
# Fails only on misbehaviour (crash, missed replies, lost transition).
if [ "$(id -u)" -eq 0 ]; then
  ./bench/run.sh --ci
  ./bench/run.sh --network --ci
else
  echo "benchmark skipped: it needs root"
fi
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
