# The page in a real browser: headless Chromium loads it from disk, and the
# test checks the parsed document, that rendering logged no console errors,
# that the page asked for nothing beyond its own file, and keeps screenshots
# (desktop and phone) and a printout as artifacts.
# Started as: html_browser_test.sh KORVALINDE KORVALINDE_HTML SAMPLE_KEYS ARTIFACT_DIR
# Exit status 77 (skipped) when chromium is not installed.
KORVALINDE=$1
HTML=$2
SAMPLE=$3
ARTIFACTS=$4
[ -x "$KORVALINDE" ] && [ -x "$HTML" ] && [ -f "$SAMPLE" ] && [ -n "$ARTIFACTS" ] || {
    echo "usage: $0 KORVALINDE KORVALINDE_HTML SAMPLE_KEYS ARTIFACT_DIR" >&2
    exit 2
}
CHROMIUM=$(command -v chromium || command -v chromium-browser) || {
    echo "chromium is not installed: skipped"
    exit 77
}
command -v setsid >/dev/null || {
    echo "setsid is not installed: skipped"
    exit 77
}
KORVALINDE=$(cd "$(dirname "$KORVALINDE")" && pwd)/$(basename "$KORVALINDE")
HTML=$(cd "$(dirname "$HTML")" && pwd)/$(basename "$HTML")
SAMPLE=$(cd "$(dirname "$SAMPLE")" && pwd)/$(basename "$SAMPLE")
mkdir -p "$ARTIFACTS" || exit 2
ARTIFACTS=$(cd "$ARTIFACTS" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvalinde-html-browser.XXXXXX") || exit 2
browser_group=""
cleanup() {
    [ -n "$browser_group" ] && kill -KILL -- "-$browser_group" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

failures=0
fail() {
    printf 'FAIL: %s\n' "$1"
    failures=$((failures + 1))
}

# browse NAME URL ARGS...: runs one headless chromium in a session of its own
# (so that every process it starts can be killed as a group), at most 90 s;
# standard output in $WORK/NAME.out, its log in $WORK/NAME.log, the requests
# it made in $WORK/NAME.net.json.
browse() {
    name=$1
    url=$2
    shift 2
    profile=$(mktemp -d "$WORK/profile.XXXXXX") || return 1
    setsid "$CHROMIUM" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" \
        --host-resolver-rules="MAP * ~NOTFOUND" --enable-logging=stderr --v=0 \
        --log-net-log="$WORK/$name.net.json" "$@" "$url" \
        >"$WORK/$name.out" 2>"$WORK/$name.log" </dev/null &
    browser_group=$!
    waited=0
    while kill -0 "$browser_group" 2>/dev/null && [ "$waited" -lt 90 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    if kill -0 "$browser_group" 2>/dev/null; then
        fail "$name: chromium still running after 90 s"
    fi
    # The browser's helpers (zygote, renderer, crash handler) go with it.
    kill -KILL -- "-$browser_group" 2>/dev/null
    wait "$browser_group" 2>/dev/null
    browser_group=""
}

# Requests that the page made for anything but a file: the browser's own
# background traffic has no file:// isolation key.
page_requests() {
    grep '"network_isolation_key":"file://' "$WORK/$1.net.json" | grep -o '"url":"[^"]*"' |
        grep -v '"url":"file:'
}

cd "$WORK" || exit 2
"$KORVALINDE" -j 2 -o "$WORK/out" "$SAMPLE" >/dev/null 2>&1 || { echo "korvalinde failed"; exit 1; }
"$HTML" -t "Sample keys" "$WORK/out" || { echo "korvalinde-html failed"; exit 1; }
PAGE="file://$WORK/out/index.html"

# The parsed document holds what the page file holds.
browse dom "$PAGE" --dump-dom
dom=$WORK/dom.out
grep -q '<h1>Sample keys</h1>' "$dom" || fail "no heading in the parsed page"
[ "$(grep -c '<tr><td' "$dom")" = 300 ] || fail "the parsed page lacks the 300 ranking rows"
[ "$(grep -o '<svg ' "$dom" | wc -l)" = 2 ] || fail "the parsed page lacks the two charts"
[ "$(grep -o '<rect ' "$dom" | wc -l)" = "$(grep -o '<rect ' out/index.html | wc -l)" ] ||
    fail "bars lost in parsing"
for figure in '<dd>400</dd>' '<dd>1,800</dd>' '<dd>140</dd>' '<dd>300</dd>' '<dd>3.8710</dd>'; do
    grep -q "$figure" "$dom" || fail "figure $figure missing from the parsed page"
done
grep -E 'CONSOLE|Uncaught' "$WORK/dom.log" && fail "console messages while rendering"
page_requests dom && fail "the page asked for something beyond its own file"

# Screenshots at desktop and phone size, and the printout.
browse desktop "$PAGE" --hide-scrollbars --window-size=1280,2400 \
    --screenshot="$ARTIFACTS/desktop.png"
browse phone "$PAGE" --hide-scrollbars --window-size=360,844 --screenshot="$ARTIFACTS/phone.png"
browse key-phone "file://$WORK/out/$(sed -n 's/.*href="\(keys\/[^"]*\)".*/\1/p' out/index.html | head -1)" \
    --hide-scrollbars --window-size=360,1600 --screenshot="$ARTIFACTS/key-phone.png"
browse print "$PAGE" --no-pdf-header-footer --print-to-pdf="$ARTIFACTS/print.pdf"
for shot in desktop.png phone.png; do
    [ "$(head -c 8 "$ARTIFACTS/$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        fail "no screenshot $shot"
done
[ "$(head -c 5 "$ARTIFACTS/print.pdf")" = "%PDF-" ] || fail "no printout"
for run in desktop phone print; do
    grep -E 'CONSOLE|Uncaught' "$WORK/$run.log" && fail "$run: console messages"
    page_requests "$run" && fail "$run: the page asked for something beyond its own file"
done

# The search box at phone width, by key id and by part of a name, through
# the page's ?q= address; the first result leads to the key's page.
awk 'substr($0, 1, 1) == "p" { n++; printf "%s\tKey Holder %d <holder%d@example.org>\n", toupper(substr($0, 2, 16)), n, n }' \
    "$SAMPLE" >names
"$HTML" -t "Sample keys" -i "$SAMPLE" -N names "$WORK/out" || fail "korvalinde-html -N failed"
id=$(sed -n 's/.*href="keys\/\([0-9A-F]\{16\}\)\.html".*/\1/p' out/index.html | sed -n 7p)
holder=$(grep "^$id" names | cut -f2 | cut -d' ' -f2-3)
fingerprint="0000 1111 2222 3333 4444  5555 $(echo "$id" | sed 's/\(....\)/\1 /g')"
for query in "0x$id" "$(echo "$id" | cut -c9-16 | tr A-F a-f)" "$fingerprint" "$holder"; do
    shot=find-$(echo "$query" | tr -c 'A-Za-z0-9' '-' | cut -c1-20).png
    browse find "$PAGE?q=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$query")" \
        --dump-dom --virtual-time-budget=10000 --window-size=360,844
    grep -q "<li><a class=\"id\" href=\"keys/$id.html\">" "$WORK/find.out" &&
        grep -q 'class="note find-status"[^>]*>[0-9]* keys\? found' "$WORK/find.out" ||
        fail "search for '$query' does not find $id"
    grep -E 'CONSOLE|Uncaught' "$WORK/find.log" && fail "search for '$query': console messages"
    page_requests find && fail "search for '$query' asked for something beyond the files"
done
browse find-phone "$PAGE?q=$(echo "$holder" | tr ' ' '+')" --virtual-time-budget=10000 --hide-scrollbars \
    --window-size=360,844 --screenshot="$ARTIFACTS/find-phone.png"
browse found-key "file://$WORK/out/keys/$id.html" --hide-scrollbars --window-size=360,1600 \
    --screenshot="$ARTIFACTS/found-key-phone.png"

# Served by a static server, the ranking's links open as pages (text/html)
# that show the key's report.
command -v python3 >/dev/null || { echo "python3 is not installed: skipped"; exit 77; }
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
setsid python3 -m http.server --bind 127.0.0.1 --directory "$WORK/out" "$port" >/dev/null 2>&1 &
server=$!
trap 'kill -- "-$server" 2>/dev/null; cleanup' EXIT
for _ in 1 2 3 4 5 6 7 8 9 10; do
    python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/')" 2>/dev/null && break
    sleep 0.5
done
for href in $(sed -n 's/.*href="\(keys\/[^"]*\)".*/\1/p' out/index.html | sed -n '1p;150p;300p'); do
    type=$(python3 -c "import urllib.request; print(urllib.request.urlopen('http://127.0.0.1:$port/$href').headers['Content-Type'])")
    case $type in text/html*) ;; *) fail "$href served as $type" ;; esac
    key=$(basename "$href" .html | sed 's/^\(........\)/\1 /')
    browse served "http://127.0.0.1:$port/$href" --dump-dom --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"
    grep -q "KeyID $key" "$WORK/served.out" && grep -q '<svg ' "$WORK/served.out" ||
        fail "$href does not show the report of $key in the browser"
done

# At phone width nothing makes the page itself scroll sideways: a script in
# a copy of each page reports the document's width against the window's.
for page in index.html "$(ls out/keys | head -1)"; do
    src=out/$page
    [ -f "$src" ] || src=out/keys/$page
    sed 's|</main>|</main><script>document.title = "width " + document.documentElement.scrollWidth + " of " + window.innerWidth;</script>|' \
        "$src" >"$(dirname "$src")/measure.html"
    browse measure "file://$WORK/$(dirname "$src")/measure.html" --dump-dom --window-size=360,800
    width=$(sed -n 's/.*<title>width \([0-9]*\) of \([0-9]*\)<.*/\1 \2/p' "$WORK/measure.out")
    set -- $width
    [ -n "$1" ] && [ "$1" -le "$2" ] || fail "$page at 360 px: page width $width"
    rm -f "$(dirname "$src")/measure.html"
done

# The check above does see a request when a page makes one.
sed 's|<main>|<main><img src="http://example.com/x.png" alt="">|' out/index.html >out/leaky.html
browse leaky "file://$WORK/out/leaky.html" --dump-dom
page_requests leaky >/dev/null || fail "a page's outside request went unnoticed"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed; screenshots and printout in $ARTIFACTS"
