#!/bin/sh
# Installs what the build and the tests need from Debian's packages, only
# when something is missing, so that a second run costs nothing.
set -eu

packages="cmake ninja-build g++ make clang libclang-rt-14-dev libgtest-dev libgmock-dev iproute2 nftables procps psmisc util-linux python3 passwd qt6-base-dev xvfb xauth xdotool imagemagick trayer dbus libcap2-bin fping g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 msitools wixl socat systemd debhelper dpkg-dev lintian mmdebstrap pkgconf libmicrohttpd-dev prometheus curl"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $package"
  fi
done

if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing
fi
