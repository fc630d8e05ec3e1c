#!/usr/bin/env bash
# Starts KORU on the bundled demo site with a store of its own under the build folder, so that
# the machine-wide store is left alone.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$root" && cd "$build" && pwd)
store="$build/demo-store"
mkdir -p "$store/Quillbrook"
cat > "$store/Quillbrook/Projects.conf" <<CONF
[KORU]
Settings\\CBoxes=0110
Settings\\Edit1=$root/demo/site/
Settings\\Edit2=index.htm
Settings\\Edit4=${KORU_DEMO_PORT:-8080}
Settings\\Edit6=$build/plugins/
Settings\\Edit12=$build/koru.log
Settings\\Edit13=40
Settings\\Edit14=$root/demo/site/
CONF
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
    echo "No display: KORU runs without its window."
fi
echo "KORU serves the demo site at http://localhost:${KORU_DEMO_PORT:-8080}/ (Ctrl+C ends it)"
export XDG_CONFIG_DIRS="$store"
exec "$build/koru"
