#!/bin/sh
# Builds the Windows program with MinGW-w64 and runs its tests under Wine,
# on a virtual display for the shell's windows. Arguments go to CTest.
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

build=build/windows
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all

if [ "${1:-}" != "--on-display" ]; then
  bv_build_preset windows
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --on-display "$@"
fi
shift

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX"
  # No offer to install Mono or Gecko: nobody would answer it.
  WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1
  wineserver -w
fi
# COM5 is one end of a pseudo-terminal pair; what arrives at the other end
# is captured in a file. A sleeper holds the end open between the tests'
# opens, so that socat does not stop at the first close.
serial="$PWD/$build/serial"
rm -rf "$serial" && mkdir -p "$serial"
socat -u "pty,link=$serial/com5,raw,echo=0" "CREATE:$serial/capture" &
socat_pid=$!
i=0
while [ ! -e "$serial/com5" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
sleep 1000000 <>"$serial/com5" &
holder_pid=$!
ln -sfn "$serial/com5" "$WINEPREFIX/dosdevices/com5"
export BV_TEST_COM_PORT=COM5 BV_TEST_COM_CAPTURE="$serial/capture"

# One server and Wine's services for all tests, started away from CTest's
# pipes: CTest would otherwise wait for the services that inherited them.
# socat goes only after the server: Wine holds the pty as its terminal.
wineserver -k 2>/dev/null || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
finish() {
  wineserver -k 2>/dev/null || true
  kill "$holder_pid" "$socat_pid" 2>/dev/null || true
}
trap finish EXIT INT TERM

ctest --preset windows -j "${BV_JOBS:-$(nproc)}" "$@"
