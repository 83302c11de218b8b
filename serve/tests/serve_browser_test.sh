# korvalinde-serve in a real browser: headless Chromium follows what a person
# does (search by part of a name, open a key, ask for a path) through plain
# GET forms, checks each parsed page, that the pages logged no console
# errors (a CSP violation is one) and asked for nothing beyond the server,
# and keeps screenshots at phone and desktop width as artifacts.
# korvalinde-html's pages, served under /reports/, render under the
# server's content security policy.
# Started as: serve_browser_test.sh KORVALINDE_SERVE KORVALINDE KORVALINDE_HTML SAMPLE_KEYS ARTIFACT_DIR
# Exit status 77 (skipped) when chromium is not installed.
SERVE=$1
KORVALINDE=$2
HTML=$3
SAMPLE=$4
ARTIFACTS=$5
[ -x "$SERVE" ] && [ -x "$KORVALINDE" ] && [ -x "$HTML" ] && [ -f "$SAMPLE" ] && [ -n "$ARTIFACTS" ] || {
    echo "usage: $0 KORVALINDE_SERVE KORVALINDE KORVALINDE_HTML SAMPLE_KEYS ARTIFACT_DIR" >&2
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
mkdir -p "$ARTIFACTS" || exit 2
ARTIFACTS=$(cd "$ARTIFACTS" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvalinde-serve-browser.XXXXXX") || exit 2
browser_group=""
server=""
cleanup() {
    [ -n "$browser_group" ] && kill -KILL -- "-$browser_group" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

failures=0
fail() {
    printf 'FAIL: %s\n' "$1"
    failures=$((failures + 1))
}

# browse NAME URL ARGS...: one headless chromium in a session of its own, at
# most 90 s; its output in $WORK/NAME.out, its log in $WORK/NAME.log, the
# requests it made in $WORK/NAME.net.json.
browse() {
    name=$1
    url=$2
    shift 2
    profile=$(mktemp -d "$WORK/profile.XXXXXX") || return 1
    setsid "$CHROMIUM" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" \
        --host-resolver-rules="MAP * ~NOTFOUND, EXCLUDE 127.0.0.1" --enable-logging=stderr --v=0 \
        --log-net-log="$WORK/$name.net.json" "$@" "$url" \
        >"$WORK/$name.out" 2>"$WORK/$name.log" </dev/null &
    browser_group=$!
    waited=0
    while kill -0 "$browser_group" 2>/dev/null && [ "$waited" -lt 90 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    kill -0 "$browser_group" 2>/dev/null && fail "$name: chromium still running after 90 s"
    kill -KILL -- "-$browser_group" 2>/dev/null
    wait "$browser_group" 2>/dev/null
    browser_group=""
}

# Requests that the page made for anything but the server: the browser's
# own background traffic (blocked by the resolver rules) has no isolation key
# of the site.
page_requests() {
    grep "\"network_isolation_key\":\"http://127.0.0.1:$port" "$WORK/$1.net.json" |
        grep -o '"url":"[^"]*"' | grep -v "\"url\":\"http://127.0.0.1:$port/"
}

console_errors() {
    grep -E 'CONSOLE|Uncaught|Content Security Policy|Refused to' "$WORK/$1.log"
}

# A names file: a made-up user id per key of the sample.
awk 'substr($0, 1, 1) == "p" { printf "%s\tPerson %d <p%d@example.org>\n", substr($0, 2, 16), n, n; n++ }' \
    "$SAMPLE" >"$WORK/names"
"$KORVALINDE" -o "$WORK/out" "$SAMPLE" >/dev/null 2>&1 || { echo "korvalinde failed"; exit 1; }
"$HTML" -N "$WORK/names" "$WORK/out" || { echo "korvalinde-html failed"; exit 1; }
"$SERVE" -i "$SAMPLE" -N "$WORK/names" -r "$WORK/out" -l 127.0.0.1:0 -q >"$WORK/serve.out" &
server=$!
for _ in $(seq 50); do
    grep -q listening "$WORK/serve.out" && break
    sleep 0.1
done
port=$(sed -n 's|^listening on http://127.0.0.1:\([0-9]*\)/$|\1|p' "$WORK/serve.out")
[ -n "$port" ] || { echo "the server did not start"; exit 1; }
SITE=http://127.0.0.1:$port

check_page() { # NAME: no console errors, nothing fetched elsewhere
    console_errors "$1" && fail "$1: console messages"
    page_requests "$1" && fail "$1: asked for something beyond the server"
}

# The start page: the two forms and the style sheet applied.
browse start "$SITE/" --dump-dom
grep -q 'action="/path"' "$WORK/start.out" && grep -q 'name="q"' "$WORK/start.out" ||
    fail "the start page lacks its forms"
check_page start

# The search form sends q: part of a name finds the key.
browse search "$SITE/?q=person+17+%3C" --dump-dom
key=$(sed -n 's|.*<a class="id" href="/key/\([0-9A-F]\{16\}\)">.*|\1|p' "$WORK/search.out" | head -1)
[ -n "$key" ] || fail "the search by name found no key"
grep -q 'Person 17 &lt;p17@example.org&gt;' "$WORK/search.out" || fail "the result lacks its name"
check_page search

# The script fills the search field's suggestions from /api/search: the
# field arrived filled in, so they come without typing.
browse suggest "$SITE/?q=person+17+%3C" --dump-dom --virtual-time-budget=5000
grep -q "<datalist id=\"q-keys\"><option value=\"$key\" label=\"Person 17" "$WORK/suggest.out" ||
    fail "no suggestions from the script"
check_page suggest

# Following the key: its page, with its signers and the keys it signed.
browse key "$SITE/key/$key" --dump-dom
grep -q "Person 17" "$WORK/key.out" && grep -q "<h2>Signed by" "$WORK/key.out" ||
    fail "the key page lacks its name or signers"
signer=$(sed -n 's|.*<li><a class="id" href="/key/\([0-9A-F]\{16\}\)">.*|\1|p' "$WORK/key.out" | head -1)
check_page key

# A path from the key's first signer (or itself) to the key: the chain with names.
from=${signer:-$key}
browse path "$SITE/path?from=$from&to=person+17+%3C" --dump-dom
grep -q '<ol class="chain">' "$WORK/path.out" || fail "the path page shows no chain"
grep -q "Person 17 &lt;" "$WORK/path.out" || fail "the chain lacks the names"
check_page path

# The reports: the summary page and a key's page in the reports, their
# inline styles and charts allowed, nothing else asked for.
browse reports "$SITE/reports/" --dump-dom
grep -q '<svg ' "$WORK/reports.out" || fail "the summary page lacks its charts"
check_page reports
ranked=$(sed -n 's|.*href="keys/\([0-9A-F]\{16\}\)\.html".*|\1|p' "$WORK/out/index.html" | head -1)
browse served-key "$SITE/key/$ranked" --dump-dom
grep -q "<dt>Rank</dt><dd>1 of" "$WORK/served-key.out" && grep -q '<pre class="report">KeyID' "$WORK/served-key.out" ||
    fail "the key page of the best-ranked key lacks its rank or report"
check_page served-key
browse report-key "$SITE/reports/keys/$ranked.html" --hide-scrollbars --window-size=360,800 \
    --screenshot="$ARTIFACTS/report-key-phone.png"
check_page report-key

# Screenshots of the path page and the search at phone and desktop width.
browse phone "$SITE/path?from=$from&to=$key" --hide-scrollbars --window-size=360,800 \
    --screenshot="$ARTIFACTS/path-phone.png"
browse desktop "$SITE/?q=person+1" --hide-scrollbars --window-size=1280,900 \
    --screenshot="$ARTIFACTS/search-desktop.png"
browse keyshot "$SITE/key/$key" --hide-scrollbars --window-size=360,800 \
    --screenshot="$ARTIFACTS/key-phone.png"
for shot in path-phone.png search-desktop.png key-phone.png report-key-phone.png; do
    [ "$(head -c 8 "$ARTIFACTS/$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] ||
        fail "no screenshot $shot"
done
for run in phone desktop keyshot; do
    check_page "$run"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed; screenshots in $ARTIFACTS"
