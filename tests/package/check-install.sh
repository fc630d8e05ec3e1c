#!/usr/bin/env bash
# Installs the package a build made as a desktop user would (apt install ./koru_*.deb), starts
# the program by its menu entry's command on a store of its own, then removes it with --purge
# and checks that nothing of it is left. It changes the machine, so it is no part of CI: run it
# as root on a machine without KORU installed. Usage: check-install.sh BUILD_FOLDER
set -uo pipefail
build=${1:?usage: check-install.sh BUILD_FOLDER}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=$(realpath "$build/koru_${version}_$(dpkg --print-architecture).deb")

. "$(dirname "$0")/common.sh"

if dpkg-query -W -f='${Status}' koru 2>/dev/null | grep -q 'install ok installed'; then
    echo "KORU is installed already; this check would remove it. Remove it first."
    exit 1
fi
work=$(mktemp -d)
program=""
trap '[ -n "$program" ] && kill "$program" 2>/dev/null; rm -rf "$work"' EXIT

check "apt installs $deb" env DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
dpkg -L koru | sort >"$work/files"
check "the installed program is /usr/bin/koru" test -x /usr/bin/koru
check "man finds the manual page" man -w koru

menu_command=$(menu_command_of /usr/share/applications/koru.desktop)
program_path="/usr/bin:/bin"
run_program "installed program" installed "" "$work/installed/state/koru/KORU.Log"

check "apt removes the package with --purge" \
    env DEBIAN_FRONTEND=noninteractive apt-get remove --purge -y koru
check "dpkg no longer knows the package" \
    bash -c '! dpkg-query -W -f="\${Status}" koru 2>/dev/null | grep -q "ok installed"'
# Every path the package installed is gone, but for folders that other packages hold too.
left=$(while read -r path; do
    [ "$path" = /. ] || [ ! -e "$path" ] && continue
    [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    echo "$path"
done <"$work/files")
check "nothing of the package is left: ${left:-none}" test -z "$left"
summary
