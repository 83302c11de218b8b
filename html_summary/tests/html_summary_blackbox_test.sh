# korvalinde-html run the way it is used: on the real analyser's output,
# with its files, messages and exit statuses.
# Started as: html_summary_blackbox_test.sh KORVALINDE KORVALINDE_HTML SAMPLE_KEYS
KORVALINDE=$1
HTML=$2
SAMPLE=$3
[ -x "$KORVALINDE" ] && [ -x "$HTML" ] && [ -f "$SAMPLE" ] || {
    echo "usage: $0 KORVALINDE KORVALINDE_HTML SAMPLE_KEYS" >&2
    exit 2
}
KORVALINDE=$(cd "$(dirname "$KORVALINDE")" && pwd)/$(basename "$KORVALINDE")
HTML=$(cd "$(dirname "$HTML")" && pwd)/$(basename "$HTML")
SAMPLE=$(cd "$(dirname "$SAMPLE")" && pwd)/$(basename "$SAMPLE")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvalinde-html-test.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 2

failures=0
fail() {
    printf 'FAIL: %s\n' "$1"
    failures=$((failures + 1))
}

# run ARGS...: status in $status, output in run.out and run.err.
run() {
    "$HTML" "$@" >run.out 2>run.err
    status=$?
}

rows() { grep -c '^<tr><td' "$1"; }

"$KORVALINDE" -j 2 -o out "$SAMPLE" >/dev/null 2>&1 || { echo "korvalinde failed"; exit 1; }
"$KORVALINDE" -j 2 -1 -o flat "$SAMPLE" >/dev/null 2>&1 || { echo "korvalinde -1 failed"; exit 1; }

# The default page, in the directory, twice the same.
run out
[ "$status" = 0 ] && [ ! -s run.out ] && [ ! -s run.err ] || fail "plain run: status $status, $(cat run.err)"
[ -f out/index.html ] || fail "no out/index.html"
cp out/index.html first.html
run out
cmp -s first.html out/index.html || fail "two runs on the same directory differ"
[ "$(rows out/index.html)" = 300 ] || fail "expected 300 ranked keys"
grep -q 'All 300 analysed keys' out/index.html || fail "no key count"
grep -q '<dd>1,800</dd>' out/index.html || fail "no signature count"
grep -q '<dd>3.8710</dd>' out/index.html || fail "no average mean"
[ "$(ls -a out | grep -c '^\.index')" = 0 ] || fail "temporary file left behind"

# Every link leads to the key's page, which shows its report inline (the
# report files have no extension: a browser would download them).
for dir in out flat; do
    run -n 0 "$dir"
    [ "$status" = 0 ] || fail "$dir: status $status"
    sed -n 's/.*href="\([^"]*\)">\([0-9A-F]* [0-9A-F]*\)<.*/\1 \2/p' "$dir/index.html" >links
    [ "$(wc -l <links)" = 300 ] && [ "$(ls "$dir/keys" | wc -l)" = 300 ] ||
        fail "$dir: expected 300 links and key pages"
    while read -r href high low; do
        [ "$href" = "keys/$high$low.html" ] && grep -qx "<pre class=\"report\">KeyID $high $low" "$dir/$href" ||
            { fail "$dir: $href lacks the report of $high $low"; break; }
    done <links
    grep -l 'href="\.\./[0-9A-F]' "$dir"/keys/* | grep -q . && fail "$dir: a key page links a report file"
done
# The best-ranked key's report, for the tests below.
best=$(sed -n 's/.*href="keys\/[0-9A-F]\{8\}\([0-9A-F]\{8\}\).html".*/\1/p' out/index.html | head -1)
best=$(echo "$best" | cut -c1-2)/$best

# The ranking: lowest mean first, ties by key id, and exactly the first N.
run -n 5 out
[ "$(rows out/index.html)" = 5 ] || fail "-n 5: not 5 rows"
grep -q 'The first 5 of 300 analysed keys' out/index.html || fail "-n 5: no 'first 5 of 300'"
sort -k3,3n -k1,1 -k2,2 out/msd.txt | head -5 | awk '{print $1 " " $2}' >expected
sed -n 's/.*">\([0-9A-F]* [0-9A-F]*\)<\/a>.*/\1/p' out/index.html >ranked
cmp -s expected ranked || fail "-n 5: not the five lowest means in key id order"

# Options: POSIX order, -o elsewhere with relative links, a title, the date.
mkdir -p www/keys
run -t '<script>alert(1)</script> & co' -o www/keys/page.html out
[ "$status" = 0 ] || fail "-o: status $status $(cat run.err)"
grep -q '<h1>&lt;script&gt;alert(1)&lt;/script&gt; &amp; co</h1>' www/keys/page.html ||
    fail "title not escaped"
grep '<script' www/keys/page.html | grep -vqx '<script src="search.js" defer></script>' &&
    fail "a script element in the page other than search.js"
[ -f www/keys/search.js ] && [ -d www/keys/index/ids ] || fail "-o: no search.js or index beside the page"
first=$(sed -n 's/.*href="\(keys[^"]*\)".*/\1/p' www/keys/page.html | head -1)
grep -q 'href="\.\./page\.html"' "www/keys/$first" || fail "-o: key page links not relative"
run --date out
grep -q 'class="made">Made on 20[0-9-]* at [0-9:]* UTC' out/index.html || fail "--date: no date"
run out -n 5
[ "$status" = 2 ] && grep -q "extra operand '-n'" run.err ||
    fail "an option after the operand was read as an option"
run --help
[ "$status" = 0 ] && grep -q '^Usage: ' run.out && grep -q '\[dir\]$' run.out && [ ! -s run.err ] || fail "--help"
run -x out
[ "$status" = 2 ] && grep -qx "korvalinde-html: unknown option '-x'" run.err || fail "-x: status $status"
for bad in -1 5x 100000001 ''; do
    run -n "$bad" out
    [ "$status" = 2 ] && grep -q -- "invalid value '$bad' for -n" run.err || fail "-n '$bad' accepted"
done

# Bad input: a clear message naming the file and line, status 1, and the
# page left as it was.
cp out/index.html before.html
cp out/msd.txt msd.saved
sed '7s/ [0-9.]*$/ seven/' msd.saved >out/msd.txt
run out
[ "$status" = 1 ] || fail "malformed msd.txt: status $status"
grep -qx "korvalinde-html: out/msd.txt:7: expected a key id and a mean distance, found \"[0-9A-F ]* seven\"" run.err ||
    fail "malformed msd.txt: message $(cat run.err)"
cmp -s before.html out/index.html || fail "a failed run changed the page"
rm out/msd.txt
run out
grep -qx "korvalinde-html: 'out/msd.txt': No such file or directory" run.err && [ "$status" = 1 ] ||
    fail "missing msd.txt: $(cat run.err)"
cp msd.saved out/msd.txt
run nowhere
[ "$status" = 1 ] && grep -q "'nowhere/status.txt': No such file" run.err || fail "missing directory"
mv "out/$best" report.saved
run out
[ "$status" = 1 ] && grep -q "out/$best: no report for the best-ranked key" run.err ||
    fail "missing report: $(cat run.err)"
mv report.saved "out/$best"

# A page that cannot be written whole is not put in place.
(
    trap '' XFSZ
    ulimit -f 8 # 8 blocks: far less than the page
    "$HTML" -n 0 out >run.out 2>run.err
    echo $? >status
)
[ "$(cat status)" = 1 ] && grep -q 'cannot write: File too large' run.err || fail "write error: $(cat run.err)"
cmp -s before.html out/index.html || fail "a page cut short replaced the old one"
[ "$(ls -a out | grep -c '^\.index')" = 0 ] || fail "temporary file left after a write error"
# Without the signal ignored the size limit ends the program by SIGXFSZ; the
# temporary is removed all the same.
(
    ulimit -f 8
    exec env --default-signal=XFSZ "$HTML" -n 0 out >run.out 2>run.err
)
status=$?
[ "$status" -gt 128 ] && [ "$(kill -l "$status")" = XFSZ ] || fail "SIGXFSZ: status $status"
cmp -s before.html out/index.html || fail "a page cut short by SIGXFSZ replaced the old one"
[ "$(ls -a out | grep -c '^\.index')" = 0 ] || fail "temporary file left after SIGXFSZ"
# A FIFO (here through a link) gets the page written into it, and stays.
mkfifo page.fifo
ln -s page.fifo fifo.link
timeout 10 cat page.fifo >fifo.html &
run -n 3 -o fifo.link out
wait $!
[ "$status" = 0 ] && [ -p page.fifo ] && [ "$(rows fifo.html)" = 3 ] || fail "-o FIFO: $(cat run.err)"
run -o /dev/full/page.html out
[ "$status" = 1 ] && grep -q '/dev/full/page.html: cannot create a temporary file' run.err ||
    fail "unwritable -o: $(cat run.err)"

# The page never replaces a file it is made from, by any path, nor a link
# to one; each refusal names the file, status 1, the input untouched.
cp out/other.txt other.saved
ln -s out/other.txt other.link
printf '0000000000000001\tSomeone\n' >names.txt
for target in out/msd.txt ./out/../out/other.txt other.link out/status.txt names.txt \
    "out/$best"; do
    run -N names.txt -o "$target" out
    [ "$status" = 1 ] && grep -q "refusing to write the page over" run.err ||
        fail "-o $target: status $status $(cat run.err)"
done
cmp -s other.saved out/other.txt && cmp -s msd.saved out/msd.txt || fail "an input was replaced"

# Names beside key ids, escaped; a bad names file names its line.
high=$(grep -m1 '^KeyID' "out/$best" | cut -d' ' -f2)$(grep -m1 '^KeyID' "out/$best" | cut -d' ' -f3)
printf '%s\tMallory <img src=x onerror=alert(1)> \\x01\n' "$high" >names.txt
run -N names.txt out
[ "$status" = 0 ] || fail "-N: status $status $(cat run.err)"
grep -q 'class="name" dir="auto">Mallory &lt;img src=x onerror=alert(1)&gt;' out/index.html &&
    grep -q '<p class="name" dir="auto">Mallory &lt;img' "out/keys/$high.html" &&
    grep -q "best-ranked key, [0-9A-F ]* (<bdi>Mallory &lt;img src=x onerror=alert(1)&gt; \\\\x01</bdi>)" out/index.html ||
    fail "-N: the name is not shown escaped"
grep -q '<img' out/index.html "out/keys/$high.html" && fail "-N: markup from a user id"
# A right-to-left override, a C1 control, a bidi isolate and a byte that is
# not UTF-8: shown as escapes and U+FFFD, never raw, on every page.
printf '%s\tEve \342\200\256gpj.exe \302\233 \342\201\246 \377\n' "$high" >names.txt
run -N names.txt out
[ "$status" = 0 ] || fail "-N bidi: status $status $(cat run.err)"
for page in out/index.html "out/keys/$high.html"; do
    iconv -f UTF-8 -t UTF-8 "$page" >/dev/null 2>&1 || fail "$page: not UTF-8"
    LC_ALL=C grep -q "$(printf '\342\200\256\|\302\233\|\342\201\246')" "$page" &&
        fail "$page: a hidden character went out raw"
    grep -q 'Eve \\u202Egpj.exe \\u009B \\u2066 '"$(printf '\357\277\275')" "$page" ||
        fail "$page: the name is not shown escaped"
done
grep -q '(<bdi>Eve \\u202E' out/index.html || fail "-N bidi: the caption's name is not isolated"
printf '0000000000000001\tfine\nnot a names line\n' >bad.names
run -N bad.names out
[ "$status" = 1 ] && grep -q 'bad.names:2:' run.err || fail "-N bad.names: $(cat run.err)"

# Report files the current msd.txt does not list: counted, with a hint.
mkdir -p out/00
: >out/00/00000001
: >out/00000002
run out
[ "$status" = 0 ] && grep -q 'out/ holds 2 report files for keys that msd.txt does not list' run.err &&
    grep -q 'fresh directory' run.err || fail "stale reports: $(cat run.err)"

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed"
