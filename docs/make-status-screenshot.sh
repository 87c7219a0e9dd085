#!/bin/sh
# Takes docs/status-page.png: the status page of the headless program in
# headless Chromium, inside a test network of its own (tests/lab/network-lab.sh)
# where one host gets no answer (red) and one loses every other request
# (yellow when the picture is taken).
# usage (as root, after scripts/install-deps.sh browser):
#   docs/make-status-screenshot.sh build/default/beaconvigilor-headless
set -eu
program=$(realpath "$1")
docs=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$docs")
lab=$top/tests/lab/network-lab.sh
out=$docs/status-page.png
space=bvshot$$
space=$(echo "$space" | cut -c1-8)
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  "$lab" down "$space"
  rm -rf "$work"
}
trap cleanup EXIT

"$lab" up "$space"
"$lab" silence "$space" 198.19.16.7
# Every other echo request to the printer is dropped on the far side.
ip netns exec "$space-far" nft add rule ip lab input icmp type echo-request ip daddr 198.19.16.8 \
  numgen inc mod 2 == 0 drop
printf '%s\t%s\t%s\n' gateway 198.18.1.2 'router, one hop' web 198.19.16.4 'front end' \
  database 198.19.16.5 'main database' backup 198.19.16.7 'server room' printer 198.19.16.8 'second floor' \
  storage 2001:2:0:20::6 'IPv6 only' >"$work/hosts.txt"

cd "$work"
"$lab" exec "$space" "$program" -in hosts.txt -out out.txt -red down.txt -pt 5000 -metrics 127.0.0.1:9100 \
  >/dev/null 2>&1 &
pid=$!
# Time for the silent host to turn red and for a few requests of each.
sleep 45
cd "$top/tests/browser"
"$lab" exec "$space" node --input-type=module -e '
import { browserOrSkip, launch } from "./browser.mjs";
const browser = await launch(await browserOrSkip());
const page = await browser.newPage({ viewport: { width: 1180, height: 420 }, colorScheme: "light" });
await page.goto("http://127.0.0.1:9100/");
await page.locator("#hosts tbody tr[data-key]").nth(5).waitFor();
// The printer is yellow half the time: the picture waits for it.
await page.locator("#hosts tbody tr[data-key=\"198.19.16.8\"] td.status-yellow").waitFor({ timeout: 20000 });
await page.screenshot({ path: process.argv[1], fullPage: true });
await browser.close();
' "$out"
echo "wrote $out"
