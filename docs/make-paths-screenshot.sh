#!/bin/sh
# Takes docs/status-page-paths.png: the status page of the headless program
# in the chain of routers of tests/lab/router-chain-lab.sh, after r3's link
# to network B is cut: the group's line above the table, B's hosts red
# "behind" r3, network A green, and the path in one host's detail.
# usage (as root, after scripts/install-deps.sh browser):
#   docs/make-paths-screenshot.sh build/default/beaconvigilor-headless
set -eu
program=$(realpath "$1")
docs=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$docs")
lab=$top/tests/lab/router-chain-lab.sh
out=$docs/status-page-paths.png
space=bvpath$$
space=$(echo "$space" | cut -c1-8)
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  "$lab" down "$space"
  rm -rf "$work"
}
trap cleanup EXIT

"$lab" up "$space"
{
  for n in 10 11 12 13; do printf 'app%s\t198.19.40.%s\tnetwork A\n' "$n" "$n"; done
  for n in 10 11 12 13 14; do printf 'store%s\t198.19.50.%s\tnetwork B, behind r3\n' "$n" "$n"; done
} >"$work/hosts.txt"

cd "$work"
ip netns exec "$space-mon" "$program" -in hosts.txt -out out.txt -red down.txt -pt 5000 \
  -metrics 127.0.0.1:9100 >run.txt 2>&1 &
pid=$!
# The paths are learnt within a minute; then network B goes.
deadline=$(($(date +%s) + 120))
until ip netns exec "$space-mon" curl -sf http://127.0.0.1:9100/api/v1/hosts/198.19.50.14/history \
    | grep -q '"reachedHost":true'; do
  [ "$(date +%s)" -lt "$deadline" ] || { echo "no path learnt" >&2; exit 1; }
  sleep 1
done
"$lab" cut-far-b "$space"
deadline=$(($(date +%s) + 90))
until grep -q "^5 hosts down behind" run.txt; do
  [ "$(date +%s)" -lt "$deadline" ] || { cat run.txt >&2; exit 1; }
  sleep 1
done
cd "$top/tests/browser"
ip netns exec "$space-mon" node --input-type=module -e '
import { browserOrSkip, launch } from "./browser.mjs";
const browser = await launch(await browserOrSkip());
const page = await browser.newPage({ viewport: { width: 1180, height: 640 }, colorScheme: "light" });
await page.goto("http://127.0.0.1:9100/");
await page.locator("#outages li:has-text(\"5 hosts\")").waitFor();
await page.locator("#hosts tbody tr[data-key=\"198.19.50.14\"]").click();
await page.locator("#detail-path:has-text(\"Path: 198\")").waitFor();
await page.screenshot({ path: process.argv[1], fullPage: true });
await browser.close();
' "$out"
echo "wrote $out"
