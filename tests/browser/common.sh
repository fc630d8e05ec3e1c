# The browser checks' shared parts: a program of their own on a free port and a store of their
# own, the browser, and counting results. The caller passes the program as $1.
set -u
koru=$(realpath "$1")
work=$(mktemp -d /tmp/koru-browser.XXXXXX)
site="$work/site"
mkdir -p "$site" "$work/sys/Quillbrook" "$work/user" "$work/state"
program=""
passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
expect() { # expect DESCRIPTION ACTUAL WANTED
    if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got '$2', wanted '$3'"; fi
}
finish() {
    [ -n "$program" ] && kill -TERM "$program" 2>/dev/null && wait "$program" 2>/dev/null
    echo "$passed passed, $failed failed (work folder: $work)"
    [ "$failed" -eq 0 ] && rm -rf "$work"
    [ "$failed" -eq 0 ]
    exit
}

browser=$(command -v chromium || command -v chromium-browser || true)
need_browser() {
    if [ -z "$browser" ]; then
        echo "SKIP: no chromium on this machine (make test installs it as root)"
        exit 77
    fi
}
# chrome ARGS...: the headless browser with a profile of its own, bounded in time.
chrome() {
    timeout 90 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
        --user-data-dir="$work/profile" "$@" 2>>"$work/browser.log"
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_koru [STORE_LINES]: serves $site on $port from a store of its own, the log in $work. With
# no lines at all the store is empty: a first run, listening on 8080, which a check avoids.
start_koru() {
    port=$(free_port)
    printf '[KORU]\nSettings\\CBoxes=0010\nSettings\\Edit1=%s/\nSettings\\Edit4=%s\nSettings\\Edit12=%s/koru.log\n%s' \
        "$site" "$port" "$work" "${1:-}" >"$work/sys/Quillbrook/Projects.conf"
    (cd "$work" && exec env QT_QPA_PLATFORM=offscreen HOME="$work" XDG_CONFIG_DIRS="$work/sys" \
        XDG_CONFIG_HOME="$work/user" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work" \
        timeout 200 "$koru") >"$work/koru.out" 2>&1 &
    program=$!
    for _ in $(seq 100); do
        curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$port/" && return 0
        sleep 0.2
    done
    fail "the program answers on port $port"
    cat "$work/koru.out"
    finish
}
