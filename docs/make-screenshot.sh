#!/bin/sh
# Takes docs/desktop-program.png: the tray icon docked in trayer, its menu,
# the red list window and the All Hosts window, under a private X server and in a private network
# namespace where two loopback hosts and an IPv6 one get no answer (their
# requests time out).
# usage (as root, from the build tree's program): xvfb-run -a -s "-screen 0 1280x720x24" docs/make-screenshot.sh PROGRAM
set -eu
program=$(realpath "$1")
out=$(cd "$(dirname "$0")" && pwd)/desktop-program.png
space=bvshot$$
work=$(mktemp -d)
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  [ -n "${tray:-}" ] && kill "$tray" 2>/dev/null || true
  ip netns del "$space" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$space"
ip -n "$space" link set lo up
ip -n "$space" -6 route add local 2001:2:0:30::/64 dev lo
printf 'table ip shot {\n chain out {\n  type filter hook input priority 0;\n  icmp type echo-request ip daddr { 127.0.0.3, 127.0.0.4 } drop\n }\n}\n' |
  ip netns exec "$space" nft -f -
printf 'table ip6 shot6 {\n chain out {\n  type filter hook input priority 0;\n  icmpv6 type echo-request ip6 daddr 2001:2:0:30::7 drop\n }\n}\n' |
  ip netns exec "$space" nft -f -
printf 'gateway\t127.0.0.1\tanswers\nprinter\t127.0.0.3\tsecond floor\nbackup\t127.0.0.4\tserver room\nstorage\t2001:2:0:30::7\tIPv6 only\n' >"$work/hosts.txt"

trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 32 &
tray=$!
sleep 1
cd "$work"
ip netns exec "$space" env -u DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME="$work/config" \
  "$program" -in hosts.txt -out out.txt -red down.txt -pt 5000 >/dev/null 2>&1 &
pid=$!
sleep 40
icon=$(xdotool search --onlyvisible --classname beaconvigilor | head -1)
eval "$(xdotool getwindowgeometry --shell "$icon")"
xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click --repeat 2 --delay 120 1
sleep 1
# The menu's last item opens the All Hosts window; no window manager places
# the windows, so they are put apart here.
xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
sleep 1
xdotool key Up Return
i=0
until hosts=$(xdotool search --onlyvisible --name "BeaconVigilor All Hosts" | head -1) || [ $i -ge 20 ]; do sleep 0.5; i=$((i + 1)); done
red=$(xdotool search --onlyvisible --name "BeaconVigilor Red List" | head -1)
xdotool windowsize "$red" 800 150 windowmove "$red" 0 0
xdotool windowsize "$hosts" 1100 200 windowmove "$hosts" 0 170
sleep 2
xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
sleep 1
import -window root "$out"
echo "wrote $out"
