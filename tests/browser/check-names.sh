#!/usr/bin/env bash
# A shared folder as a browser uses it: the start page by the default document in another letter
# case, names with blanks and accents, a folder with and without its final "/", and a link that a
# messenger decorated with a query. The page's own script asks, the browser's answers are read
# back from the page.
. "$(dirname "$0")/common.sh"
need_browser

mkdir -p "$site/music"
python3 - "$site" <<'PY'
import struct, sys, zlib
def png(w, h):
    row = b"\0" + b"\x20\x60\xc0" * w
    body = zlib.compress(row * h)
    chunk = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + \
        chunk(b"IDAT", body) + chunk(b"IEND", b"")
open(sys.argv[1] + "/holiday photo.png", "wb").write(png(40, 30))
PY
printf '%%PDF-1.4\n' >"$site/Résumé.pdf"
printf 'Café au lait\n' >"$site/notes.txt"
printf 'ID3' >"$site/music/my song.mp3"
cat >"$site/index.html" <<'HTML'
<!doctype html><meta charset="utf-8"><title>My share</title>
<img id="photo" src="holiday photo.png">
<pre id="out"></pre>
<script>
const out = document.getElementById("out");
const say = line => { out.textContent += line + "\n"; };
async function ask(label, url) {
  try {
    const r = await fetch(url);
    const text = await r.text();
    say(label + " " + r.status + (r.redirected ? " moved to " + new URL(r.url).pathname : "") +
        (text.includes("my song.mp3") ? " lists the song" : ""));
  } catch (e) { say(label + " failed " + e); }
}
window.onload = async () => {
  const photo = document.getElementById("photo");
  say("photo " + photo.naturalWidth + "x" + photo.naturalHeight);
  await ask("accents", "Résumé.pdf");
  await ask("query", "notes.txt?fbclid=abc");
  await ask("folder", "music/");
  await ask("bare-folder", "music");
  await ask("song", "music/my song.mp3");
  say("done");
};
</script>
HTML
start_koru 'Settings\Edit2=Index.Htm
Settings\FolderPages=1
'
dom=$(chrome --virtual-time-budget=10000 --dump-dom "http://127.0.0.1:$port/")
grep -q '<title>My share</title>' <<<"$dom" && pass "/ serves index.html for the default document Index.Htm" ||
    fail "/ serves index.html for the default document Index.Htm"
line() { sed -n "s/^\(.*<pre id=\"out\">\)\{0,1\}$1 //p" <<<"$dom" | head -n 1; }
expect "a photo with a blank in its name shows" "$(line photo)" "40x30"
expect "a PDF with accents in its name" "$(line accents)" "200"
expect "a link with a query added" "$(line query)" "200"
expect "a folder lists its files" "$(line folder)" "200 lists the song"
expect "a folder without its final slash" "$(line bare-folder)" "200 moved to /music/ lists the song"
expect "a song in a folder, blank in its name" "$(line song)" "200"
finish
