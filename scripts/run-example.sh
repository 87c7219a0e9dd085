#!/bin/sh
# Installs what is missing, builds the headless monitor and shows it at work
# in a small network of its own (network namespaces, 198.18.0.0/15 and
# 2001:2::/48 only): IPv4 and IPv6 hosts that answer, a silent one of each
# family, and one that goes away after 20 s and
# comes back 40 s later. Its RED and GREEN lines appear on
# the screen within about a minute and a half. Ctrl+C stops the monitor and
# removes the network. The log and the down file stay in example-run/.
set -eu

if [ "$(id -u)" -ne 0 ]; then
  echo "run-example: run it as root (sudo $0): the example network is made of network namespaces" >&2
  exit 1
fi

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
lab="$root/tests/lab/network-lab.sh"
program="$root/build/default/beaconvigilor-headless"

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target beaconvigilor-headless

prefix="bvrun$(($$ % 1000))"
goes_away=198.19.16.20
monitor=""
sleeper=""
started=""

finish() {
  trap - EXIT INT TERM HUP
  if [ -n "$sleeper" ]; then kill "$sleeper" 2>/dev/null || true; fi
  if [ -n "$monitor" ]; then
    kill -TERM "$monitor" 2>/dev/null || true
    wait "$monitor" 2>/dev/null || true
  fi
  sh "$lab" down "$prefix"
  if [ -n "$started" ]; then
    echo "[example] the monitor stopped and the example network is gone; the log and the down file stay in $root/example-run/"
  fi
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# A pause that a signal cuts short, so that Ctrl+C is answered at once.
pause() {
  sleep "$1" &
  sleeper=$!
  wait "$sleeper" || true
  sleeper=""
  kill -0 "$monitor" 2>/dev/null
}

sh "$lab" up "$prefix"
if ! ip -n "$prefix-far" route show table local | grep -q '^local 198\.19\.16\.0/20 '; then
  echo "run-example: tests/lab/network-lab.sh made no hosts in 198.19.16.0/20; the example expects them there" >&2
  exit 1
fi

mkdir -p example-run
cd example-run
rm -f out.txt down.txt
cat >lab-hosts.txt <<EOF
# The example network's hosts (made by scripts/run-example.sh).
router       198.18.1.2    the example network's router
far-1        198.19.16.10  answers all along
far-2        198.19.16.11  answers all along
named        named.lab     a host name, looked up in the namespace's /etc/hosts
far-6        2001:2:0:20::10  an IPv6 host, answers all along
dual         dual.lab      a name with both families: two hosts under -family both
silent       198.19.16.2   never answers: its requests are dropped
silent-6     2001:2:0:20::2  an IPv6 host that never answers
comes-back   $goes_away  stops answering after 20 s, answers again 40 s later
EOF

echo "[example] watching example-run/lab-hosts.txt every 5 s inside the namespace $prefix-mon"
echo "[example] log: example-run/out.txt, down file: example-run/down.txt; Ctrl+C stops it and removes the network"
# Signals reach the monitor from this script, as a job started in the
# background ignores the terminal's Ctrl+C.
sh "$lab" exec "$prefix" "$program" -in lab-hosts.txt -out out.txt -red down.txt -pt 5000 -family both &
monitor=$!
started=yes

if pause 20; then
  echo "[example] comes-back ($goes_away) stops answering now; RED follows after two missed replies of 10 s each"
  sh "$lab" silence "$prefix" "$goes_away"
fi
if pause 40; then
  echo "[example] comes-back ($goes_away) answers again now; GREEN follows its next reply"
  sh "$lab" answer "$prefix" "$goes_away"
fi
status=0
wait "$monitor" || status=$?
monitor=""
exit "$status"
