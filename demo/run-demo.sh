#!/usr/bin/env bash
# Starts KORU on the bundled demo site with a store of its own under the build folder, so that
# the machine-wide store is left alone; an empty per-user root beside it keeps a store the user
# saved from being read instead of the demo's.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && cd "$build" && pwd)
port=${KORU_DEMO_PORT:-8080}
store="$build/demo-store"
# The site is served from a copy that names the port it is served on; uploads land there too,
# not in the source tree.
site="$build/demo-site"
mkdir -p "$store/Quillbrook" "$store/user" "$site"
# A runtime folder of its own: a KORU the user already runs is not the demo, and a second
# `make run` finds the demo running and shows its window.
mkdir -p "$store/run"
chmod 0700 "$store/run"
cp -R "$root/demo/site/." "$site/"
sed -i "s/@KORU_PORT@/$port/g" "$site/index.htm"
cat > "$store/Quillbrook/Projects.conf" <<CONF
[KORU]
Settings\\CBoxes=0110
Settings\\Edit1=$site/
Settings\\Edit2=index.htm
Settings\\Edit4=$port
Settings\\Edit6=$build/plugins/
Settings\\Edit12=$build/koru.log
Settings\\Edit13=40
Settings\\Edit14=$site/
Settings\\FolderPages=1
Settings\\Reach=1
Settings\\Uploads=1
CONF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: KORU runs without its window."
fi
echo "KORU serves the demo site at http://localhost:$port/ (Ctrl+C ends it)"
export XDG_CONFIG_DIRS="$store"
export XDG_CONFIG_HOME="$store/user"
export XDG_RUNTIME_DIR="$store/run"
exec "$build/koru"
