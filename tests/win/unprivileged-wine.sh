#!/bin/sh
# The Windows tests of the ICMP helper and of the engine through it, under
# Wine as an ordinary user (nobody) with a Wine prefix of its own, in a
# network namespace whose net.ipv4.ping_group_range admits every group, and
# then in one that admits none.
#
# usage: unprivileged-wine.sh HELPER_TEST.exe ENGINE_TEST.exe   (as root; 77 = skipped)
set -eu

if [ "${1:-}" = "--inside" ]; then
  # In the new namespace, still root: loopback up, the range set, then nobody.
  range=$2 home=$3 expect=$4
  shift 4
  ip link set lo up
  sysctl -q -w net.ipv4.ping_group_range="$range"
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups --inh-caps=-all \
    env HOME="$home" WINEPREFIX="$home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    BV_EXPECT_ICMP="$expect" sh "$0" --as-user "$@"
fi
if [ "${1:-}" = "--as-user" ]; then
  shift
  status=0
  wine "$@" </dev/null || status=$?
  wineserver -k 2>/dev/null || true
  exit $status
fi

if [ "$(id -u)" != 0 ]; then
  echo "unprivileged-wine: needs root (network namespaces, another user)"
  exit 77
fi
for tool in unshare setpriv wine sysctl ip; do
  command -v "$tool" >/dev/null || { echo "unprivileged-wine: needs $tool"; exit 77; }
done

home=$(mktemp -d /tmp/bv-wine-user.XXXXXX)
trap 'rm -rf "$home"' EXIT
cp "$1" "$home/helper_test.exe"
cp "$2" "$home/engine_test.exe"
# This script too: nobody may not reach the source tree (a private checkout).
cp "$0" "$home/unprivileged-wine.sh"
chmod 755 "$home" "$home"/*.exe "$home/unprivileged-wine.sh"
chown -R nobody:nogroup "$home"
script="$home/unprivileged-wine.sh"

open="0 2147483647"
unshare -n sh "$script" --inside "$open" "$home" some "$home/helper_test.exe"
unshare -n sh "$script" --inside "$open" "$home" some "$home/engine_test.exe" --gtest_filter='PingEngine.LoopbackHosts*'
unshare -n sh "$script" --inside "1 0" "$home" none "$home/helper_test.exe" --gtest_filter='*AdministratorBox*'
