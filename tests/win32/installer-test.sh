#!/bin/sh
# SPDX-License-Identifier: MIT
# The Windows installer in a fresh Wine prefix:
#   installer-test.sh WINE_RUN INSTALLER PREFIX
# a silent install; the installed command line lists the simulated module; the Start-menu
# shortcut starts the window in a folder of the user's; the uninstaller is listed among the
# installed programs; a silent uninstall leaves no file behind.
set -eu
wine_run=$1 installer=$2 prefix=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { "$wine_run" "$prefix" "$@"; }

# A server left running in the prefix by an earlier run would keep writing into it.
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
stop_server() { [ ! -d "$prefix" ] || WINEPREFIX="$prefix" "$server" -k 2>/dev/null || true; }
stop_server
rm -rf "$prefix" "$prefix.lock" "$prefix.home"
trap stop_server EXIT
# Wine links the user's folders to the home folder: a scratch one, not the real user's.
mkdir -p "$prefix.home"
export HOME="$prefix.home"
run "$installer" /S
users="$prefix/drive_c/users"
install_dir=$(find "$users" -type d -path '*/AppData/Local/Programs/Wirelog' | head -n 1)
[ -n "$install_dir" ] || fail "nothing installed under $users"
listing=$(cd "$install_dir" && ls | tr '\n' ' ')
[ "$listing" = "LICENSE.txt README.md uninstall.exe wirelog-cli.exe wirelog.exe wirlg000.dll " ] ||
    fail "installed: $listing"

modules=$(cd "$install_dir" && WIRELOG_SIM=demo run "$install_dir/wirelog-cli.exe" list | tr -d '\r')
echo "$modules" | grep -q 'SIM00001' || fail "list shows: $modules"

shortcut=$(find "$users" -path '*/Start Menu/Programs/Wirelog/Wirelog.lnk' | head -n 1)
[ -n "$shortcut" ] || fail "no Start-menu shortcut"
# The link's strings are UTF-16: its target and its working folder, the user's own documents.
strings -e l "$shortcut" | grep -qi 'wirelog.exe' || fail "shortcut target: $(strings -e l "$shortcut")"
workdir=$(strings -e l "$shortcut" | grep -o 'C:.*\\Documents\\Wirelog$' | head -n 1)
[ -n "$workdir" ] || fail "shortcut working folder: $(strings -e l "$shortcut")"
workdir_unix=$(run winepath -u "$workdir" | tr -d '\r')
[ -d "$workdir_unix" ] && [ -w "$workdir_unix" ] || fail "working folder $workdir not writable"

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Wirelog'
run reg query "$key" /v QuietUninstallString | grep -q 'uninstall.exe" /S' ||
    fail "no uninstaller listed"

# The uninstaller copies itself elsewhere and returns at once: poll until its last step, the
# program folder's removal, is done (60 s at most).
run "$install_dir/uninstall.exe" /S
for _ in $(seq 1 600); do
    [ -e "$install_dir" ] || break
    sleep 0.1
done
[ ! -e "$install_dir" ] || fail "left behind: $(ls -R "$install_dir")"
[ ! -e "$shortcut" ] && [ ! -e "$(dirname "$shortcut")" ] || fail "Start-menu entry left behind"
[ ! -e "$workdir_unix" ] || fail "working folder left behind"
run reg query "$key" >/dev/null 2>&1 && fail "still listed as installed"
rm -rf "$prefix.home"
echo "installer: install, list, shortcut, uninstall all as expected"
