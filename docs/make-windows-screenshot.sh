#!/bin/sh
# Takes docs/windows-program.png: the Windows program under Wine with its
# tray icon (in Wine's own tray window), its menu and the red list window.
# Two hosts whose names do not resolve turn red; loopback answers.
# usage (as root, for the raw socket): xvfb-run -a -s "-screen 0 900x560x24" docs/make-windows-screenshot.sh PROGRAM.exe
set -eu
program=$(realpath "$1")
out=$(cd "$(dirname "$0")" && pwd)/windows-program.png
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
printf 'gateway\t127.0.0.1\tanswers\r\nprinter\tprinter.invalid\tsecond floor\r\nbackup\tbackup.invalid\tserver room\r\n' >"$work/hosts.txt"
cd "$work"
wine "$program" -in hosts.txt -pt 2000 </dev/null >/dev/null 2>&1 &
i=0
until grep -q backup "$work/down.txt" 2>/dev/null || [ $i -ge 90 ]; do sleep 1; i=$((i + 1)); done

tray=$(xdotool search --name "Wine System Tray" | head -1)
xdotool windowmove --sync "$tray" 700 520
sleep 1
eval "$(xdotool getwindowgeometry --shell "$tray")"
echo "tray at $X,$Y ${WIDTH}x$HEIGHT"
# The first icon sits at the tray's left edge.
xdotool mousemove --sync $((X + 10)) $((Y + HEIGHT / 2)) click --repeat 2 --delay 120 1
i=0
until list=$(xdotool search --onlyvisible --name "BeaconVigilor Red List") || [ $i -ge 20 ]; do sleep 0.5; i=$((i + 1)); done
xdotool windowmove "$list" 20 20 windowsize "$list" 760 200
sleep 1
xdotool mousemove --sync $((X + 10)) $((Y + HEIGHT / 2)) click 3
sleep 2
import -window root "$out"
echo "wrote $out"
