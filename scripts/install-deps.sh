#!/bin/sh
# Installs from Debian's packages what the named purposes need, only when
# something is missing, so that a second run costs nothing.
#
#   scripts/install-deps.sh                  everything (what scripts/test.sh needs)
#   scripts/install-deps.sh build lab        some purposes:
#     build      the Linux programs (headless and Qt) with the default preset
#     lab        the test networks (tests/lab/*.sh)
#     test       the tests, the benchmark, the fuzzers and the soak, the lab and browser included
#     browser    the status page's tests in Chromium (tests/browser/, its npm packages too)
#     windows    the MinGW-w64 cross build, its MSI, and its tests under Wine
#     packaging  the Debian packages, their checks and the service's checks
set -eu

build="cmake ninja-build g++ make pkgconf qt6-base-dev python3 libboost-dev nlohmann-json3-dev"
lab="iproute2 nftables procps util-linux"
browser="chromium nodejs npm"
test="$lab $browser clang libclang-rt-14-dev libgtest-dev libgmock-dev psmisc passwd xvfb xauth xdotool imagemagick trayer
  dbus libcap2-bin fping iputils-ping socat prometheus curl systemd"
windows="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest wine wine64 msitools wixl xvfb xauth socat"
packaging="debhelper dpkg-dev lintian mmdebstrap libcap2-bin systemd"

[ $# -gt 0 ] || set -- build test windows packaging
# Every purpose builds something.
packages=$build
npm_packages=no
for purpose in "$@"; do
  case "$purpose" in
    build) ;;
    lab) packages="$packages $lab" ;;
    test) packages="$packages $test"; npm_packages=yes ;;
    browser) packages="$packages $browser"; npm_packages=yes ;;
    windows) packages="$packages $windows" ;;
    packaging) packages="$packages $packaging" ;;
    *) echo "install-deps: unknown purpose '$purpose' (build, lab, test, browser, windows, packaging)" >&2; exit 2 ;;
  esac
done

missing=""
for package in $packages; do
  case " $missing " in *" $package "*) continue ;; esac
  # Node.js from elsewhere (NodeSource's nodejs) carries its own npm and
  # conflicts with Debian's.
  if [ "$package" = npm ] && command -v npm >/dev/null; then
    continue
  fi
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

# The browser tests' npm packages, as locked, again only when the lock
# changed since they were installed.
if [ "$npm_packages" = yes ]; then
  browser_tests=$(cd "$(dirname "$0")/../tests/browser" && pwd)
  if ! cmp -s "$browser_tests/package-lock.json" "$browser_tests/node_modules/.installed-lock.json"; then
    echo "installing: the npm packages of tests/browser"
    (cd "$browser_tests" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
    cp "$browser_tests/package-lock.json" "$browser_tests/node_modules/.installed-lock.json"
  fi
fi
