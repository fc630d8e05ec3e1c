#!/usr/bin/env bash
# Uploads from a folder page as a person makes them, on a phone-sized screen: the picker reached
# by the keyboard, five files picked at once (two named like files the folder lists, so they are
# saved as "name (2).ext" and "name (2)"; one whose name was taken after the page was shown, found
# out from the server's refusal), then a file dropped on the page. Each file's bytes are compared
# on disk. The browser is driven by puppeteer-core, installed here into the build tree. With
# KORU_SHOTS set to a folder, the phone-sized screenshots before and after are kept there.
here=$(dirname "$(realpath "$0")")
. "$here/common.sh"
need_browser
command -v curl >/dev/null || { echo "SKIP: no curl"; exit 77; }
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    echo "SKIP: no node and npm on this machine (make test installs them as root)"
    exit 77
fi

# Pinned: the last line that runs on the node of Debian 12 (18) as well as later ones.
puppeteer_version=24.43.1
npm_prefix="$(dirname "$koru")/npm"
puppeteer="$npm_prefix/node_modules/puppeteer-core"
installed=$(node -p "require('$puppeteer/package.json').version" 2>/dev/null || true)
if [ "$installed" != "$puppeteer_version" ]; then
    mkdir -p "$npm_prefix"
    if ! PUPPETEER_SKIP_DOWNLOAD=1 timeout 180 npm install --prefix "$npm_prefix" --no-audit \
        --no-fund --loglevel=error "puppeteer-core@$puppeteer_version" >"$work/npm.log" 2>&1; then
        cat "$work/npm.log"
        echo "SKIP: puppeteer-core $puppeteer_version could not be installed with npm"
        rm -rf "$work"
        exit 77
    fi
fi

inbox="$site/in box"
mkdir -p "$inbox" "$work/pick"
printf 'the notes that were there first\n' >"$inbox/notes.txt"
printf 'Hello, world.\n' >"$work/pick/hello world.txt"
python3 -c 'import os, sys; sys.stdout.buffer.write(os.urandom(700000))' >"$work/pick/Résumé #1.bin"
printf 'new notes\n' >"$work/pick/notes.txt"
: >"$work/pick/README"
printf 'read me first\n' >"$inbox/README"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 40)' >"$work/pick/data.bin"
start_koru 'Settings\FolderPages=1
'

cat >"$work/drive.js" <<'JS'
const puppeteer = require(process.env.PUPPETEER);
const fs = require("fs");
const say = (what, value) => console.log(what + " " + (typeof value === "string" ? value : JSON.stringify(value)));

// Waits until the upload area says it is done, then gives what each row shows.
const rows = page => page.waitForFunction(() => {
    if (!document.getElementById("up-state").textContent) return null;
    return [...document.querySelectorAll("#up-list li")].map(li =>
        [li.children[0].textContent, li.children[1].value, li.children[2].textContent]);
}, {polling: "mutation", timeout: 60000}).then(handle => handle.jsonValue());

(async () => {
    const browser = await puppeteer.launch({
        executablePath: process.env.BROWSER, headless: true, timeout: 60000,
        args: ["--no-sandbox", "--disable-gpu", "--no-first-run", "--user-data-dir=" + process.env.PROFILE],
    });
    try {
        const page = await browser.newPage();
        await page.setViewport({width: 390, height: 844, isMobile: true, hasTouch: true});
        const failed = [];
        page.on("requestfailed", r => failed.push(r.url()));
        await page.goto(process.env.URL, {waitUntil: "load", timeout: 60000});
        say("label", await page.$eval("#up-pick", input => input.labels[0].textContent));
        await page.keyboard.press("Tab");
        say("focus", await page.evaluate(() => document.activeElement.id));
        say("fits", await page.evaluate(() => document.documentElement.scrollWidth <= innerWidth));
        await page.screenshot({path: process.env.SHOTS + "/before.png"});

        // Taken after the page was shown: the page cannot know, the server says so.
        fs.writeFileSync(process.env.INBOX + "/data.bin", "taken meanwhile\n");
        const picked = ["hello world.txt", "Résumé #1.bin", "notes.txt", "data.bin", "README"]
            .map(name => process.env.PICK + "/" + name);
        let reloaded = page.waitForNavigation({timeout: 90000});
        await (await page.$("#up-pick")).uploadFile(...picked);
        say("picked", await rows(page));
        await page.screenshot({path: process.env.SHOTS + "/done.png"});
        await reloaded;
        say("listed", await page.$$eval(".ls a .n", names => names.map(n => n.textContent)));

        reloaded = page.waitForNavigation({timeout: 90000});
        await page.evaluate(() => {
            const data = new DataTransfer();
            data.items.add(new File(["dropped on the page\n"], "dropped.txt"));
            const area = document.getElementById("up");
            for (const type of ["dragenter", "dragover", "drop"])
                area.dispatchEvent(new DragEvent(type, {dataTransfer: data, bubbles: true, cancelable: true}));
        });
        say("dropped", await rows(page));
        await reloaded;
        say("failed", failed);
    } finally {
        await browser.close();
    }
})().catch(error => { say("error", String(error)); process.exitCode = 1; });
JS

PUPPETEER="$puppeteer" BROWSER="$browser" PROFILE="$work/profile" URL="http://127.0.0.1:$port/in%20box/" \
    INBOX="$inbox" PICK="$work/pick" SHOTS="${KORU_SHOTS:-$work}" timeout 200 node "$work/drive.js" >"$work/drive.out" 2>&1
cat "$work/drive.out"
said() { sed -n "s/^$1 //p" "$work/drive.out" | head -n 1; }

expect "the picker has its label" "$(said label)" "Choose files or drop them here"
expect "the keyboard reaches the picker first" "$(said focus)" "up-pick"
expect "the page fits a phone's width" "$(said fits)" "true"
expect "each picked file's row at its end" "$(said picked)" \
    '[["hello world.txt",100,"Saved"],["Résumé #1.bin",100,"Saved"],["notes.txt",100,"Saved as notes (2).txt"],["data.bin",100,"Saved as data (2).bin"],["README",100,"Saved as README (2)"]]'
expect "the dropped file's row" "$(said dropped)" '[["dropped.txt",100,"Saved"]]'
expect "no request failed" "$(said failed)" "[]"
listed=$(said listed)
for name in "hello world.txt" "Résumé #1.bin" "notes (2).txt" "data (2).bin" "README (2)"; do
    case "$listed" in *"\"$name\""*) pass "the page shown again lists $name" ;;
    *) fail "the page shown again lists $name: $listed" ;; esac
done

same() { # same DESCRIPTION STORED EXPECTED
    if cmp -s "$2" "$3"; then pass "$1"; else fail "$1: $(ls -l "$2" 2>&1)"; fi
}
same "a text file with a blank in its name" "$inbox/hello world.txt" "$work/pick/hello world.txt"
same "a binary file with an accent and a # in its name" "$inbox/Résumé #1.bin" \
    "$work/pick/Résumé #1.bin"
same "a listed name taken: saved as name (2).ext" "$inbox/notes (2).txt" "$work/pick/notes.txt"
expect "the listed file is left as it was" "$(cat "$inbox/notes.txt")" \
    "the notes that were there first"
same "a name taken meanwhile: saved as name (2).ext" "$inbox/data (2).bin" "$work/pick/data.bin"
expect "the file taken meanwhile is left as it was" "$(cat "$inbox/data.bin")" "taken meanwhile"
expect "an empty file without an extension, its name taken" "$(stat -c %s "$inbox/README (2)")" "0"
expect "the dropped file" "$(cat "$inbox/dropped.txt")" "dropped on the page"
expect "nothing else in the folder" "$(ls -A "$inbox" | LC_ALL=C sort | tr '\n' '|')" \
    "README|README (2)|Résumé #1.bin|data (2).bin|data.bin|dropped.txt|hello world.txt|notes (2).txt|notes.txt|"
# Every body went as it is, to a name of its own: the refused one once, nothing else twice.
expect "the server refused the name taken meanwhile once" \
    "$(grep -c 'PUT /in%20box/data.bin ' "$work/koru.log")" "1"
expect "then took the next" "$(grep -c 'PUT /in%20box/data%20(2).bin ' "$work/koru.log")" "1"
expect "seven uploads asked for in all" "$(grep -c 'PUT ' "$work/koru.log")" "7"
finish
