#!/bin/sh
# Takes docs/windows-program.png: the Windows program under Wine with its
# tray icon (in Wine's own tray window), its menu, the red list window and
# the All Hosts window.
# Two hosts whose names do not resolve turn red; loopback answers.
# usage (as root, for the raw socket): xvfb-run -a -s "-screen 0 1280x720x24" docs/make-windows-screenshot.sh PROGRAM.exe
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
xdotool windowmove --sync "$tray" 1080 690
sleep 1
eval "$(xdotool getwindowgeometry --shell "$tray")"
echo "tray at $X,$Y ${WIDTH}x$HEIGHT"
# The first icon sits at the tray's left edge. A left click opens the menu
# too, so the windows are opened from the menu, which Wine ends at the
# cursor and which takes no keys here: its first item (the menu is 246
# pixels high in Wine's font) for the red list, its last for All Hosts.
icon_x=$((X + 10))
icon_y=$((Y + HEIGHT / 2))
open_from_menu() {
  xdotool mousemove --sync $icon_x $icon_y click 3
  sleep 1
  xdotool mousemove --sync $((icon_x - 60)) $((icon_y - $1)) click 1
}
find_window() {
  i=0
  until found=$(xdotool search --onlyvisible --name "$1" | head -1) && [ -n "$found" ] || [ $i -ge 20 ]; do
    sleep 0.5
    i=$((i + 1))
  done
  echo "$found"
}
open_from_menu 235
list=$(find_window "BeaconVigilor Red List")
open_from_menu 12
hosts=$(find_window "BeaconVigilor All Hosts")
xdotool windowmove "$list" 20 20 windowsize "$list" 900 180
xdotool windowmove "$hosts" 20 230 windowsize "$hosts" 1040 220
sleep 1
xdotool mousemove --sync $icon_x $icon_y click 3
sleep 2
import -window root "$out"
echo "wrote $out"
