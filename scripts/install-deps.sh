#!/bin/sh
# Installs from Debian's packages what the named purposes need, only when
# something is missing, so that a second run costs nothing.
#
#   scripts/install-deps.sh                  everything (what scripts/test.sh needs)
#   scripts/install-deps.sh build lab        some purposes:
#     build      the Linux programs (headless and Qt) with the default preset
#     lab        the test network (tests/lab/network-lab.sh)
#     test       the tests, the benchmark, the fuzzers and the soak, the lab included
#     windows    the MinGW-w64 cross build, its MSI, and its tests under Wine
#     packaging  the Debian packages, their checks and the service's checks
set -eu

build="cmake ninja-build g++ make pkgconf qt6-base-dev python3 libboost-dev nlohmann-json3-dev"
lab="iproute2 nftables procps util-linux"
test="$lab clang libclang-rt-14-dev libgtest-dev libgmock-dev psmisc passwd xvfb xauth xdotool imagemagick trayer
  dbus libcap2-bin fping socat prometheus curl systemd"
windows="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 msitools wixl xvfb xauth socat"
packaging="debhelper dpkg-dev lintian mmdebstrap libcap2-bin systemd"

[ $# -gt 0 ] || set -- build test windows packaging
# Every purpose builds something.
packages=$build
for purpose in "$@"; do
  case "$purpose" in
    build) ;;
    lab) packages="$packages $lab" ;;
    test) packages="$packages $test" ;;
    windows) packages="$packages $windows" ;;
    packaging) packages="$packages $packaging" ;;
    *) echo "install-deps: unknown purpose '$purpose' (build, lab, test, windows, packaging)" >&2; exit 2 ;;
  esac
done

missing=""
for package in $packages; do
  case " $missing " in *" $package "*) continue ;; esac
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
