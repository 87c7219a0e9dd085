#!/bin/sh
# Builds the Debian packages the Debian way, checks them with lintian,
# installs them into a fresh Debian 12 root made with mmdebstrap, and runs
# the installed headless program there as an unprivileged user, inside the
# network lab's monitor namespace, on the capability the package gave it.
# Root only. Keeps its files in build/package (the last run's stay there).
set -eu
cd "$(dirname "$0")/.."
. scripts/lib.sh

bv_require_root_or_skip "package test" "mmdebstrap, setcap, network namespaces"

top=$PWD
work=$top/build/package
lab=bvpk$(( $$ % 10000 ))
root=$work/root
rm -rf "$work"
mkdir -p "$work/source"

cleanup() {
  if [ -s "$root/run-as-nobody/pid" ]; then
    kill -TERM "$(cat "$root/run-as-nobody/pid")" 2>/dev/null || true
  fi
  if [ -n "${runner:-}" ]; then
    wait "$runner" 2>/dev/null || true
  fi
  "$top/tests/lab/network-lab.sh" down "$lab" || true
  rm -rf "$root"
}
trap cleanup EXIT

echo "--- building the packages"
# dpkg-buildpackage leaves its results beside the source: a copy keeps them
# out of the work tree.
tar -C "$top" --exclude=./build --exclude=./.git -cf - . | tar -C "$work/source" -xf -
(cd "$work/source" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -us -uc -b) \
  >"$work/build.log" 2>&1 || { tail -40 "$work/build.log"; bv_fail "package test: dpkg-buildpackage failed"; }
headless_deb=$(ls "$work"/beaconvigilor-headless_*.deb)
tray_deb=$(ls "$work"/beaconvigilor_*.deb)
# The configure step has compared debian/changelog with the project's
# version already; this is what reached the packages.
version=$(sed -n 's/^project(BeaconVigilor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for deb in "$headless_deb" "$tray_deb"; do
  [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || bv_fail "package test: $deb is not version $version"
done

echo "--- lintian"
lintian --fail-on error "$work"/beaconvigilor_*.changes

if dpkg-deb -f "$headless_deb" Depends | grep -qi qt; then
  bv_fail "package test: beaconvigilor-headless depends on Qt"
fi
headless_files=$(dpkg-deb -c "$headless_deb")
tray_files=$(dpkg-deb -c "$tray_deb")
for file in ./lib/systemd/system/beaconvigilor-headless.service ./etc/default/beaconvigilor-headless \
    ./usr/bin/beaconvigilor-headless; do
  echo "$headless_files" | grep -q " $file\$" || bv_fail "package test: beaconvigilor-headless lacks $file"
done
for file in ./usr/bin/beaconvigilor ./usr/share/applications/beaconvigilor.desktop \
    ./usr/share/beaconvigilor/beaconvigilor-help.html \
    ./usr/share/icons/hicolor/48x48/apps/beaconvigilor.png; do
  echo "$tray_files" | grep -q " $file\$" || bv_fail "package test: beaconvigilor lacks $file"
done

echo "--- a fresh Debian 12 root with both packages"
# The hook makes the .deb files visible at the same paths inside the root.
mmdebstrap --variant=apt --include="$headless_deb" --include="$tray_deb" \
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount bookworm "$root" \
  >"$work/mmdebstrap.log" 2>&1 || { tail -40 "$work/mmdebstrap.log"; bv_fail "package test: mmdebstrap failed"; }
for program in beaconvigilor-headless beaconvigilor; do
  getcap "$root/usr/bin/$program" | grep -q 'cap_net_raw[=+]ep' \
    || bv_fail "package test: $program has no cap_net_raw"
done
# Installed, not enabled: there is no host list yet.
if [ -e "$root/etc/systemd/system/multi-user.target.wants/beaconvigilor-headless.service" ]; then
  bv_fail "package test: the service was enabled on install"
fi

echo "--- the installed program as nobody in the lab"
"$top/tests/lab/network-lab.sh" up "$lab"
# The addresses are the lab's, from the names it gives its monitor; the
# silent one is made a rejected one.
lab_address() {
  awk -v name="$1" '$2 == name { print $1 }' "/etc/netns/$lab-mon/hosts"
}
answering=$(lab_address named.lab)
rejected=$(lab_address silent.lab)
router=$(lab_address router.lab)
[ -n "$answering" ] && [ -n "$rejected" ] && [ -n "$router" ] || bv_fail "package test: the lab names no hosts"
"$top/tests/lab/network-lab.sh" reject "$lab" "$rejected"
mkdir -p "$root/run-as-nobody"
printf 'answering %s answers\nrejected %s rejected\nrouter %s the router\n' "$answering" "$rejected" "$router" \
  >"$root/run-as-nobody/hosts.txt"
chown -R nobody:nogroup "$root/run-as-nobody"
# The lab's private /dev/shm is bound into the root, so the program's
# named lock objects work as on a machine.
"$top/tests/lab/network-lab.sh" exec "$lab" sh -c '
  mount --bind /dev/shm "$1/dev/shm" && mount -t proc proc "$1/proc" &&
  exec timeout -s TERM 90 chroot --userspec=nobody:nogroup "$1" sh -c "
    cd /run-as-nobody && echo \$\$ >pid && exec /usr/bin/beaconvigilor-headless -in hosts.txt -out out.txt -red down.txt -pt 5000 \
      >/dev/null 2>errors.txt"' sh "$root" &
runner=$!
files=$root/run-as-nobody

# The rejected host's RED line within a minute; by then every other host
# has had its answers.
deadline=$(( $(date +%s) + 60 ))
while ! grep -q 'Destination unreachable' "$files/out.txt" 2>/dev/null; do
  if [ "$(date +%s)" -ge "$deadline" ] || ! kill -0 "$runner" 2>/dev/null; then
    echo "package test: no RED line for $rejected in time" >&2
    cat "$files/errors.txt" "$files/out.txt" 2>/dev/null || true
    exit 1
  fi
  sleep 1
done
kill -TERM "$(cat "$files/pid")"
ended=0
wait "$runner" || ended=$?

out=$files/out.txt
cat "$out"
status=0
[ "$ended" -eq 0 ] || { echo "package test: the program ended with status $ended after SIGTERM" >&2; status=1; }
grep -F "$rejected" "$out" | grep -q 'RED.*Destination unreachable' \
  || { echo "package test: $rejected not RED with Destination unreachable" >&2; status=1; }
if grep -qF -e "$answering" -e "$router" "$out"; then
  echo "package test: an answering host was logged" >&2
  status=1
fi
if grep -q 'raw socket' "$files/errors.txt"; then
  echo "package test: the program had no raw socket" >&2
  status=1
fi
[ "$status" -eq 0 ] && echo "package test: passed"
exit "$status"
