#!/bin/sh
# Runs one Windows test program under Wine. Now and then Wine fails to start
# a program at all: it exits at once, non-zero, having printed nothing. That
# says nothing of the test, so such a start is tried again (twice at most);
# a program that ran and failed is never run again.
out=$(mktemp) || exit 1
trap 'cat "$out"; rm -f "$out"' EXIT
tries=0
while :; do
  wine "$@" >"$out" 2>&1
  rc=$?
  tries=$((tries + 1))
  if [ "$rc" -eq 0 ] || [ -s "$out" ] || [ "$tries" -ge 3 ]; then
    exit "$rc"
  fi
  echo "wine-test.sh: Wine exited with $rc before the program printed anything; starting it again" >&2
done
