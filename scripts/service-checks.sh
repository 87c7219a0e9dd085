#!/bin/sh
# Checks the systemd unit of beaconvigilor-headless offline: systemd-analyze
# verify finds nothing to say, and its security exposure stays at most
# BV_EXPOSURE_LIMIT (the score docs/service.md quotes). Needs no running systemd.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

unit=beaconvigilor-headless.service
limit=${BV_EXPOSURE_LIMIT:-1.6}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

# A root with what the unit names: the program, kill, the targets it orders against.
mkdir -p "$root/usr/bin" "$root/bin" "$root/lib/systemd/system"
cp "debian/$unit" "$root/lib/systemd/system/"
cp /lib/systemd/system/*.target "$root/lib/systemd/system/"
cp /bin/kill "$root/bin/kill"
printf '#!/bin/sh\n' >"$root/usr/bin/beaconvigilor-headless"
chmod 755 "$root/usr/bin/beaconvigilor-headless"

# verify warns about a bad line and still exits 0: any word from it fails.
said=$(systemd-analyze verify --root="$root" "$unit" 2>&1) || { echo "$said"; bv_fail "service: verify failed"; }
if [ -n "$said" ]; then
  echo "$said"
  bv_fail "service: systemd-analyze verify has complaints"
fi
echo "service: systemd-analyze verify: clean"

report=$(systemd-analyze security --offline=true --root="$root" --threshold=0 "$unit" 2>&1 || true)
score=$(echo "$report" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
if [ -z "$score" ]; then
  echo "$report"
  bv_fail "service: no exposure level from systemd-analyze security"
fi
echo "$report" | grep '✗' || true
echo "service: exposure level $score (at most $limit)"
if ! awk -v score="$score" -v limit="$limit" 'BEGIN { exit !(score <= limit) }'; then
  bv_fail "service: exposure level $score is above $limit"
fi
