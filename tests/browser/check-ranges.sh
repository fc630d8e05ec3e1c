#!/bin/bash
# Byte ranges against the built program: curl -r gets exactly the file's slice with its
# Content-Range, a range past the end the 416 page, and a range the server does not serve the
# 200 reply byte for byte. Then a real browser seeks in a video: headless chromium records one
# (a canvas through MediaRecorder) and uploads it, the video is made seekable (cues, duration),
# and a page seeks near its end while the browser's network log shows the Range requests it made
# and the 206 replies they got.
here=$(dirname "$(realpath "$0")")
. "$here/common.sh"
command -v curl >/dev/null || { echo "SKIP: no curl"; exit 77; }

python3 -c 'import os, sys; sys.stdout.buffer.write(os.urandom(300000))' >"$site/data.bin"
: >"$site/empty.txt"
start_koru
url="http://127.0.0.1:$port"

# reply FILE [CURL ARGS...]: the status line and headers of a GET (CR dropped), the body in FILE.
reply() {
    local out=$1
    shift
    curl -s --max-time 20 -D - -o "$out" "$@" | tr -d '\r'
}
header() { # header NAME: the value of that field in the headers on stdin
    sed -n "s/^$1: //Ip" | head -n 1
}

for range in 0-0 0-99 65535-65537 4000-200000 299999- 100-999999999 -1 -70000 -400000; do
    head=$(reply "$work/part" -r "$range" "$url/data.bin")
    first=${range%-*}
    last=${range#*-}
    if [ -z "$first" ]; then
        first=$((300000 - last)); [ "$first" -lt 0 ] && first=0; last=299999
    fi
    [ -z "$last" ] || [ "$last" -gt 299999 ] && last=299999
    expect "$range: status" "$(echo "$head" | head -n 1)" "HTTP/1.0 206 Partial Content"
    expect "$range: Content-Range" "$(echo "$head" | header Content-Range)" \
        "bytes $first-$last/300000"
    expect "$range: Content-Length" "$(echo "$head" | header Content-Length)" \
        "$((last - first + 1))"
    tail -c +$((first + 1)) "$site/data.bin" | head -c $((last - first + 1)) >"$work/slice"
    if cmp -s "$work/part" "$work/slice"; then pass "$range: the bytes are the slice"
    else fail "$range: the bytes are not the slice"; fi
done

for case in "data.bin 300000- 300000" "data.bin -0 300000" "empty.txt 0- 0"; do
    set -- $case
    head=$(reply "$work/page" -H "Range: bytes=$2" "$url/$1")
    expect "$1 $2: status" "$(echo "$head" | head -n 1)" \
        "HTTP/1.0 416 Requested range not satisfiable"
    expect "$1 $2: Content-Range" "$(echo "$head" | header Content-Range)" "bytes */$3"
    expect "$1 $2: the page's length" "$(echo "$head" | header Content-Length)" \
        "$(wc -c <"$work/page")"
done

# Ranges that are not served: the whole reply, byte for byte as without the field.
curl -s --max-time 20 -i "$url/data.bin" >"$work/plain"
for range in "bytes=1-2,5-6" "bytes=9-3" "items=0-5" "bytes=a-b" "bytes=0-99999999999999999999"; do
    curl -s --max-time 20 -i -H "Range: $range" "$url/data.bin" >"$work/ignored"
    if cmp -s "$work/plain" "$work/ignored"; then pass "$range: today's reply"
    else fail "$range: not today's reply"; fi
done

# The browser: a video to seek in, made by the browser itself.
need_browser
cat >"$site/record.html" <<'HTML'
<!DOCTYPE html><canvas id="c" width="480" height="270"></canvas><script>
const c = document.getElementById('c'), g = c.getContext('2d');
let n = 0;
// Noise, so that the video is large: a seek near its end lies past what the first request read.
function draw() {
    const image = g.createImageData(c.width, c.height), d = image.data;
    for (let i = 0; i < d.length; i += 4) {
        const v = Math.random() * 255 | 0;
        d[i] = v; d[i + 1] = (n * 9) & 255; d[i + 2] = v ^ n; d[i + 3] = 255;
    }
    g.putImageData(image, 0, 0);
    n++;
}
draw();
const type = 'video/webm;codecs=vp8';
if (!MediaRecorder.isTypeSupported(type)) fetch('/report?recorded=unsupported');
const recorder = new MediaRecorder(c.captureStream(25), {mimeType: type,
    videoBitsPerSecond: 16000000, videoKeyFrameIntervalDuration: 400});
const pieces = [];
recorder.ondataavailable = e => pieces.push(e.data);
recorder.onstop = async () => {
    const blob = new Blob(pieces, {type: 'video/webm'});
    const put = await fetch('/rec.webm', {method: 'PUT', body: blob});
    fetch('/report?recorded=' + blob.size + '&put=' + put.status);
};
recorder.start(200);
const timer = setInterval(draw, 40);
setTimeout(() => { clearInterval(timer); recorder.stop(); }, 5000);
</script>
HTML
cat >"$site/seek.html" <<'HTML'
<!DOCTYPE html><video id="v" src="video.webm" preload="metadata" muted></video><script>
const v = document.getElementById('v');
const report = what => fetch('/report?' + what);
v.onloadedmetadata = () => {
    report('duration=' + v.duration.toFixed(3));
    v.currentTime = v.duration * 0.9;
};
v.onseeked = () => {
    // The frame at the new place is decoded: its pixels can be drawn.
    const canvas = document.createElement('canvas');
    canvas.width = v.videoWidth; canvas.height = v.videoHeight;
    canvas.getContext('2d').drawImage(v, 0, 0);
    report('seeked=' + v.currentTime.toFixed(3) + '&ready=' + v.readyState +
           '&width=' + v.videoWidth);
};
v.onerror = () => report('error=' + (v.error ? v.error.code : '?'));
</script>
HTML

# run_page PAGE PATTERN: loads the page in the browser, a profile of its own, until the log holds
# PATTERN. The browser runs without a shell between: the signal that ends it must reach it.
run_page() {
    timeout 60 "$browser" --headless --no-sandbox --disable-gpu --no-first-run \
        --user-data-dir="$work/profile-$1" --autoplay-policy=no-user-gesture-required \
        --log-net-log="$work/$1.netlog" "$url/$1.html" 2>>"$work/browser.log" &
    local pid=$!
    for _ in $(seq 150); do
        grep -q "$2" "$work/koru.log" 2>/dev/null && break
        sleep 0.2
    done
    kill -TERM "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# A busy machine can hold a recording back; one more try before calling it a failure.
run_page record "recorded="
[ -s "$site/rec.webm" ] || run_page record "recorded="
expect "the browser recorded and uploaded a video" \
    "$(grep -o 'recorded=[a-z0-9]*&put=[0-9]*' "$work/koru.log" | sed 's/recorded=[0-9]*/recorded/')" \
    "recorded&put=200"
if [ -s "$site/rec.webm" ] && read -r duration cues < <(python3 "$here/seekable-webm.py" \
    "$site/rec.webm" "$site/video.webm"); then
    pass "the recording made seekable: $duration s, $cues cues, $(wc -c <"$site/video.webm") bytes"
else
    fail "the recording made seekable"
    finish
fi

run_page seek "seeked="
seeked=$(grep -o 'seeked=[0-9.]*&ready=[0-9]*&width=[0-9]*' "$work/koru.log" | head -n 1)
ready=$(echo "$seeked" | sed -n 's/.*ready=\([0-9]*\).*/\1/p')
echo "browser: $(grep -o 'GET /report?[^ ]*' "$work/koru.log" | tr '\n' ' ')"
target=$(python3 -c "print(f'{$duration * 0.9:.3f}')")
at=$(echo "$seeked" | sed -n 's/seeked=\([0-9.]*\).*/\1/p')
expect "the video seeked near its end" \
    "$(python3 -c "print(abs(${at:-0} - $target) < 0.05)")" "True"
# At least the current frame (HAVE_CURRENT_DATA), at the recorded width.
expect "the frame there is decoded" \
    "$([ "${ready:-0}" -ge 2 ] && echo "$seeked" | sed -n 's/.*&width=//p')" "480"
# What the network log shows: each Range request for the video and the reply's status and range.
python3 - "$work/seek.netlog" "$site/video.webm" >"$work/ranges.txt" <<'PY'
import json, re, sys
text = open(sys.argv[1], errors="replace").read()
size = len(open(sys.argv[2], "rb").read())
asked, answered = [], []
for m in re.finditer(r'"headers":\[(.*?)\]', text):
    headers = json.loads("[" + m.group(1) + "]")
    for h in headers:
        if h.lower().startswith("range: bytes="):
            asked.append(h.split("=", 1)[1])
    if headers and headers[0].startswith("HTTP/"):
        ranges = [h for h in headers if h.lower().startswith("content-range:")]
        answered.append((headers[0], ranges[0].split(":", 1)[1].strip() if ranges else ""))
asked = list(dict.fromkeys(asked))  # each request shows in several events of the log
print("asked:", " ".join(asked))
for status, content_range in dict.fromkeys(answered):
    print("answered:", status, content_range)
later = [a for a in asked if not a.startswith("0-")]
ok = [s for s, r in answered if " 206 " in s and any(r.startswith("bytes " + a.split("-")[0] + "-") for a in later)]
print("later range answered with 206:", "yes" if ok else "no")
print("sizes:", "ok" if all(r.endswith("/%d" % size) for s, r in answered if r) else "wrong")
PY
cat "$work/ranges.txt"
expect "the browser asked for the video with Range" \
    "$(grep -c '^asked: .*[0-9]-' "$work/ranges.txt")" "1"
expect "a range past the start was asked for and answered with 206" \
    "$(sed -n 's/^later range answered with 206: //p' "$work/ranges.txt")" "yes"
expect "every Content-Range names the video's size" \
    "$(sed -n 's/^sizes: //p' "$work/ranges.txt")" "ok"
finish
