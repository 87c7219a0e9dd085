#!/bin/sh
# Installs the MSI under Wine, finds the program, the help page, the example
# host list and the Start menu shortcut, uninstalls it and finds none of them.
# usage: installer-test.sh MSI   (WINEPREFIX set; its server runs)
set -eu
msi=$(realpath "$1")
# Wine's menu builder would copy the shortcut into this user's Linux menus.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
drive="$WINEPREFIX/drive_c"
dir="$drive/Program Files/BeaconVigilor"
failed=0
check() {  # check present|absent PATH
  if [ "$1" = present ] && [ ! -e "$2" ] || [ "$1" = absent ] && [ -e "$2" ]; then
    echo "FAIL: $2 should be $1"
    failed=1
  fi
}
shortcut() {
  find "$drive/ProgramData" "$drive/users" -name BeaconVigilor.lnk 2>/dev/null | head -n1
}

wine msiexec /i "$(winepath -w "$msi")" /qn </dev/null
for file in BeaconVigilor.exe beaconvigilor-help.html hosts.txt; do
  check present "$dir/$file"
done
cmp "$dir/beaconvigilor-help.html" "$(dirname "$0")/../../res/help/beaconvigilor-help.html" || failed=1
link=$(shortcut)
if [ -z "$link" ]; then
  echo "FAIL: no Start menu shortcut"
  failed=1
else
  # The link names its target inside; Wine writes it in Unicode.
  if ! tr -d '\000' <"$link" | grep -qi 'BeaconVigilor\\BeaconVigilor.exe'; then
    echo "FAIL: $link does not point at the program"
    failed=1
  fi
fi

wine msiexec /x "$(winepath -w "$msi")" /qn </dev/null
for file in BeaconVigilor.exe beaconvigilor-help.html hosts.txt; do
  check absent "$dir/$file"
done
check absent "$dir"
[ -n "$link" ] && check absent "$link"
[ $failed -eq 0 ] && echo "installed and uninstalled cleanly"
exit $failed
