# The checks' shared parts, for the package's checks (check-package.sh) and the install check
# (check-install.sh): counting results, and starting the program on a store of its own to see
# it serve a page and both sample modules. The caller sets work (a temporary folder),
# menu_command and program_path.

passed=0
failed=0
pass() { echo "PASS: $1"; passed=$((passed + 1)); }
fail() { echo "FAIL: $1"; failed=$((failed + 1)); }
check() { # check DESCRIPTION COMMAND...: passes when the command succeeds
    local what=$1 out
    shift
    if out=$("$@" 2>&1); then pass "$what"; else fail "$what"; printf '%s\n' "$out" | sed 's/^/    /'; fi
}

# check_reply DESCRIPTION REPLY PATTERN: passes when the reply is a 200 whose whole text matches
# the shell pattern; a failure shows how the reply began.
check_reply() {
    if [[ $2 == "HTTP/1.0 200 OK"* && $2 == $3 ]]; then
        pass "$1"
    else
        fail "$1"
        printf '%s\n' "${2:-<no reply>}" | head -n 4 | sed 's/^/    /'
    fi
}

summary() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

# A port nothing answers on; the program stays up without listening if someone takes it first,
# and then the first request fails the check.
free_port() {
    local port
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
    done
    return 1
}
fetch() { # fetch PORT TARGET: the whole reply, or nothing when no one listens
    local reply
    exec 3<>"/dev/tcp/127.0.0.1/$1" || return 1
    printf 'GET %s HTTP/1.0\r\n\r\n' "$2" >&3
    reply=$(timeout 10 cat <&3)
    exec 3<&-
    printf '%s' "$reply"
}
wait_for_reply() { # wait_for_reply PORT: up to 20 s for the program to answer
    for _ in $(seq 100); do
        fetch "$1" / 2>/dev/null | grep -q '^HTTP/1.0 200 OK' && return 0
        kill -0 "$program" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}
# menu_command_of DESKTOP_FILE: the command the menu entry runs, without its field codes.
menu_command_of() {
    sed -n 's/^Exec=//p' "$1" | sed 's/ %[a-zA-Z]//g'
}

# run_program NAME FOLDER STORE_LINES LOG: starts $menu_command, searched on $program_path, on a
# store of its own in $work/FOLDER (STORE_LINES added to it), and checks a page, both modules and
# the end on SIGTERM. LOG is where the request log must appear. Nothing of the caller's
# environment reaches the program, so that it finds its modules and store by itself.
run_program() {
    local name=$1 home="$work/$2" lines=$3 log=$4 port
    port=$(free_port) || { fail "$name: a free port"; return; }
    mkdir -p "$home/store/Quillbrook" "$home/config" "$home/state" "$home/site"
    # A runtime folder of its own, so that it finds no other program running and none finds it.
    mkdir -p -m 0700 "$home/run"
    printf '<p>served from the package</p>' >"$home/site/index.htm"
    printf '[KORU]\nSettings\\CBoxes=0010\nSettings\\Edit1=%s/site/\nSettings\\Edit2=index.htm\nSettings\\Edit4=%s\n%s' \
        "$home" "$port" "$lines" >"$home/store/Quillbrook/Projects.conf"
    (cd "$home" && exec env -i PATH="$program_path" HOME="$home" LANG=C.UTF-8 \
        QT_QPA_PLATFORM=offscreen XDG_CONFIG_DIRS="$home/store" XDG_CONFIG_HOME="$home/config" \
        XDG_STATE_HOME="$home/state" XDG_RUNTIME_DIR="$home/run" $menu_command) >"$home/output" 2>&1 &
    program=$!
    if ! wait_for_reply "$port"; then
        fail "$name: the program answers on port $port"
        sed 's/^/    /' "$home/output"
        kill "$program" 2>/dev/null
        program=""
        return
    fi
    check_reply "$name: GET / serves the base folder's page" "$(fetch "$port" /)" \
        "*<p>served from the package</p>"
    check_reply "$name: the calc module answers /calc?a=2&b=3&op=add" \
        "$(fetch "$port" '/calc?a=2&b=3&op=add')" "*<h2>Calculator</h2><p>2 + 3 = 5</p>*"
    check_reply "$name: the echo module answers /echo?name=koru" \
        "$(fetch "$port" '/echo?name=koru')" "*<h2>Echo</h2>*<code>name=koru</code>*"
    kill -TERM "$program"
    local status=timeout
    for _ in $(seq 150); do
        if ! kill -0 "$program" 2>/dev/null; then
            wait "$program"
            status=$?
            break
        fi
        sleep 0.1
    done
    [ "$status" = timeout ] && kill -KILL "$program"
    program=""
    check "$name: SIGTERM ends the program with status 0 (was $status)" test "$status" = 0
    check "$name: the request log is written to $(realpath -m --relative-to="$work" "$log")" \
        grep -q 'GET /calc' "$log"
}

