#!/bin/sh
# The soak in the test network: 1,000 hosts behind the lab's router, random
# subsets silent or refused and back again every few seconds, then the log,
# its archives, the down file, the starts and the memory checked
# (tests/soak/check_soak.py). Needs root. The run's files stay in build/soak/.
#
#   scripts/soak.sh                           3 minutes (CI)
#   SOAK_SECONDS=86400 scripts/soak.sh        24 hours
#   SOAK_KILLS=4 SOAK_SECONDS=100 scripts/soak.sh   SIGKILL at 4 random moments, restarted each time
#   SOAK_PRESET=tsan SOAK_SECONDS=60 scripts/soak.sh --no-memory-check   under ThreadSanitizer
# Further options go to tests/soak/soak.py (--hosts, --seed, --interval-ms, ...).
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

bv_require_root_or_skip soak "network namespaces, raw sockets"
preset=${SOAK_PRESET:-default}
seconds=${SOAK_SECONDS:-180}
kills=${SOAK_KILLS:-0}
name=${SOAK_NAME:-$preset-$seconds-s-$kills-kills}
bv_build_preset "$preset" beaconvigilor-headless

echo "=== soak: $preset, $seconds s, $kills kills, files in build/soak/$name ==="
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  exec python3 tests/soak/soak.py --program "build/$preset/beaconvigilor-headless" --out "build/soak/$name" \
  --seconds "$seconds" --kills "$kills" "$@"
