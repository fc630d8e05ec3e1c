#!/usr/bin/env bash
# Checks the Debian package a build made (build/koru_<version>_<arch>.deb) the way Debian and a
# desktop would meet it: its control data and file list, the menu entry and the AppStream
# metadata through their validators, lintian, and the program unpacked into a root of its own,
# started by the menu entry's command without a display, answering a page and a module call
# from the modules it finds there. Usage: check-package.sh BUILD_FOLDER
set -uo pipefail
build=${1:?usage: check-package.sh BUILD_FOLDER}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb="$build/koru_${version}_$(dpkg --print-architecture).deb"

# Warnings lintian gives that are kept, by tag: none today. A tag added here needs its reason in
# the README's section on installing; any other warning fails the check.
kept_warnings=(
)

. "$(dirname "$0")/common.sh"

work=$(mktemp -d)
program=""
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$deb" ]; then
    fail "the package $deb exists (make package builds it)"
    summary
fi
echo "Checking $deb"
root="$work/root"
dpkg-deb -x "$deb" "$root"

# --- What the package declares and holds ---------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
check "version is the project's ($version)" test "$(field Version)" = "$version"
# Computed by dpkg-shlibdeps from what the binaries link: the C library, Qt and libqrencode.
depends=$(field Depends)
check "dependencies come from the binaries: $depends" \
    bash -c '[[ $1 == *"libc6 (>="* && $1 == *libqt6widgets6* && $1 == *libqt6network6* &&
                $1 == *libqrencode* ]]' _ "$depends"
check "no maintainer scripts: removing the package leaves nothing of it behind" \
    bash -c '! dpkg-deb --ctrl-tarfile "$1" | tar -t | grep -E "(pre|post)(inst|rm)|conffiles"' _ "$deb"

appstream_id=$(cd "$root/usr/share/metainfo" 2>/dev/null && ls -- *.metainfo.xml 2>/dev/null | head -n 1)
expected_files=(
    usr/bin/koru
    usr/lib/koru/plugins/calc.so
    usr/lib/koru/plugins/echo.so
    usr/share/applications/koru.desktop
    usr/share/icons/hicolor/16x16/apps/koru.png
    usr/share/icons/hicolor/32x32/apps/koru.png
    usr/share/icons/hicolor/48x48/apps/koru.png
    usr/share/icons/hicolor/256x256/apps/koru.png
    "usr/share/metainfo/${appstream_id:-<none>}"
    usr/share/man/man1/koru.1.gz
    usr/share/doc/koru/copyright
    usr/share/doc/koru/changelog.gz
)
# Every file the package installs, and nothing else: a stray file would be left to the
# package's removal to find, and a missing one would be a desktop without its menu, icon or page.
check "the package installs exactly the program, modules, menu entry, icons, metadata and docs" \
    diff <(printf '%s\n' "${expected_files[@]}" | sort) \
    <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
check "the program and its modules are stripped" \
    bash -c '! file "$@" | grep -q "not stripped"' _ "$root/usr/bin/koru" "$root"/usr/lib/koru/plugins/*.so
for size in 16 32 48 256; do
    check "the ${size}x${size} icon is ${size} by ${size}" \
        bash -c 'file "$1" | grep -q ", $2 x $2,"' _ "$root/usr/share/icons/hicolor/${size}x${size}/apps/koru.png" "$size"
done

# --- The validators ------------------------------------------------------------------------
check "appstreamcli validates the AppStream metadata" \
    appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$appstream_id"
metainfo="$root/usr/share/metainfo/$appstream_id"
check "the metadata names this version's release" grep -q "<release version=\"$version\"" "$metainfo"
check "the metadata shows both README screenshots" \
    bash -c 'grep -q "docs/koru-window.png</image>" "$1" && grep -q "docs/koru-server-page.png</image>" "$1"' _ "$metainfo"
check "desktop-file-validate passes the menu entry" \
    desktop-file-validate "$root/usr/share/applications/koru.desktop"
check "man renders the manual page without a warning" \
    bash -c '! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$1" 2>&1 >/dev/null | grep .' \
    _ "$root/usr/share/man/man1/koru.1.gz"

# lintian exits non-zero on an error tag and when it could not check the package at all.
lintian_out=$(lintian --fail-on error --display-level '>=warning' "$deb" 2>&1)
lintian_status=$?
lintian_out=$(grep -v '^running with root privileges' <<<"$lintian_out")
unlisted=$(grep '^W: ' <<<"$lintian_out" | while read -r line; do
    tag=$(awk '{print $3}' <<<"$line")
    [[ " ${kept_warnings[*]} " == *" $tag "* ]] || echo "$line"
done)
if [ "$lintian_status" -eq 0 ] && [ -z "$unlisted" ]; then
    pass "lintian: no errors, and only the warnings the README lists"
else
    fail "lintian: no errors, and only the warnings the README lists (status $lintian_status)"
    printf '%s\n' "$lintian_out" | sed 's/^/    /'
fi

# --- The unpacked program ------------------------------------------------------------------
# The command the desktop runs from the menu, with the unpacked bin/ first on the path.
menu_command=$(menu_command_of "$root/usr/share/applications/koru.desktop")
program_path="$root/usr/bin:/usr/bin:/bin"
run_program "store naming the unpacked plug-ins folder" named \
    "Settings\\Edit6=$root/usr/lib/koru/plugins/"$'\n'"Settings\\Edit12=$work/named.log"$'\n' \
    "$work/named.log"
# Without a plug-ins folder or log in the store the program finds the modules installed beside
# it (lib/koru/plugins/ next to its bin/) and logs into the state folder, as after an install.
run_program "store leaving the folders to the program" "with defaults" "" \
    "$work/with defaults/state/koru/KORU.Log"

summary
