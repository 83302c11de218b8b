# The published report as people explore it, on a generated OpenPGP dump
# through korvalinde-keylist and korvalinde: a page per analysed key, who
# certified whom on it (checked against the key list and the names file),
# the search index, the key list's summary, and stale reports left out.
# Started as: html_explore_test.sh PGPGEN KEYLIST KORVALINDE KORVALINDE_HTML
PGPGEN=$1
KEYLIST=$2
KORVALINDE=$3
HTML=$4
for program in "$PGPGEN" "$KEYLIST" "$KORVALINDE" "$HTML"; do
    [ -x "$program" ] || { echo "usage: $0 PGPGEN KEYLIST KORVALINDE KORVALINDE_HTML" >&2; exit 2; }
done
PGPGEN=$(realpath "$PGPGEN") KEYLIST=$(realpath "$KEYLIST")
KORVALINDE=$(realpath "$KORVALINDE") HTML=$(realpath "$HTML")
command -v python3 >/dev/null || { echo "python3 is not installed: skipped"; exit 77; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/korvalinde-html-explore.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() {
    printf 'FAIL: %s\n' "$1"
    failures=$((failures + 1))
}

"$PGPGEN" -n 400 -s 3 --ed25519-only -j 1 -o "$WORK/dump.pgp" &&
    "$KEYLIST" -j 1 --names "$WORK/k.names" --summary "$WORK/k.summary" -o "$WORK/k.keys" "$WORK/dump.pgp" &&
    "$KORVALINDE" -j 2 -o "$WORK/out" "$WORK/k.keys" >/dev/null 2>&1 || { echo "making the run failed"; exit 1; }
cd "$WORK" || exit 2
grep -q '^made: 20[0-9-]* [0-9:]* UTC$' k.summary && grep -q '^input: .*dump.pgp ([0-9]* bytes)$' k.summary &&
    grep -q "^keys: $(($(wc -c <k.keys) / 18 - $(grep -c '^s' k.keys)))$" k.summary ||
    fail "keylist --summary: $(cat k.summary)"

# Default: a page per analysed key, -n bounding the table only.
"$HTML" -n 20 -i k.keys -N k.names -s k.summary out || fail "korvalinde-html failed"
[ "$(ls out/keys | wc -l)" = "$(wc -l <out/msd.txt)" ] || fail "not a page per line of msd.txt"
[ "$(grep -c '^<tr><td' out/index.html)" = 20 ] || fail "-n 20: not 20 rows"
grep -q "<dd dir=\"auto\">$(sed -n 's/^input: //p' k.summary | sed 's/[(]/./;s/[)]/./')</dd>" out/index.html &&
    grep -q 'id="meaning"' out/index.html || fail "no summary or explanation on the page"

# Links, names and the index, against the key list and the names file.
python3 - k.keys k.names out <<'PY' || fail "certification lists or index"
import json, os, re, sys
keys_path, names_path, out = sys.argv[1:]
signers, signed, order = {}, {}, []
for line in open(keys_path):
    kind, kid = line[0], line[1:17].upper()
    if kind == "p":
        key = kid; order.append(key); signers.setdefault(key, set())
    elif kind == "s" and kid != key:
        signers[key].add(kid); signed.setdefault(kid, set()).add(key)
# Signers without a key of their own in the list are not in the graph.
listed = set(order)
signers = {k: v & listed for k, v in signers.items()}
signed = {k: v for k, v in signed.items() if k in listed}
names = dict(l.rstrip("\n").split("\t", 1) for l in open(names_path))
pages = {f[:16] for f in os.listdir(out + "/keys")}
bad = []
item = re.compile(r'<li>(?:<a class="id" href="([0-9A-F]{16})\.html">|<span class="id">)'
                  r'([0-9A-F]{8}) ([0-9A-F]{8})</(?:a|span)>(?: <span class="name" dir="auto">([^<]*)</span>)?</li>')
for key in sorted(pages)[::7]:
    page = open(f"{out}/keys/{key}.html").read()
    parts = page.split("<h3>")
    lists = {}
    for part, want in ((parts[1], signers.get(key, set())), (parts[2], signed.get(key, set()))):
        got = {}
        for href, high, low, name in item.findall(part):
            got[high + low] = name
            if (href != "") != (high + low in pages) or (href and href != high + low):
                bad.append(f"{key}: link to {high}{low}")
            shown = names.get(high + low, "").replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;").replace("'", "&#39;")
            if name != shown and "\\u" not in name and "\ufffd" not in name:
                bad.append(f"{key}: name of {high}{low}: {name!r} not {shown!r}")
        if set(got) != want:
            bad.append(f"{key}: listed {sorted(got)} not {sorted(want)}")
    # Both directions: each signer's page lists this key among those it certified.
    for signer in signers.get(key, set()) & pages:
        if f'href="{key}.html"' not in open(f"{out}/keys/{signer}.html").read().split("<h3>")[2]:
            bad.append(f"{signer}'s page does not list {key} as certified")
    # The lookups the search box makes: by key id, and by a word of the name.
    def chunk(name):
        text = open(f"{out}/index/{name}.js", encoding="utf-8").read()
        head = f"korvalindeIndex({json.dumps(name)}, "
        assert text.startswith(head) and text.endswith(");\n"), name
        return json.loads(text[len(head):-3])["keys"]
    if not any(k == key for k, _ in chunk("ids/" + key[8:10])):
        bad.append(f"{key}: not in its id index")
    word = [w for w in re.findall(r"[0-9A-Za-z\x80-\U0010ffff]+", names.get(key, "")) if len(w) > 1]
    if word and not any(k == key for k, _ in chunk("names/" + word[0][:2].lower().encode().hex())):
        bad.append(f"{key}: not found by {word[0]!r}")
print("\n".join(bad[:10]))
sys.exit(1 if bad else 0)
PY

# -m bounds the pages; the keys beyond it are neither linked nor indexed.
"$HTML" -m 10 -n 30 -i k.keys -N k.names out || fail "-m failed"
[ "$(grep -c '^<tr><td' out/index.html)" = 30 ] && [ "$(grep -c '^<tr><td><a' out/index.html)" = 0 ] &&
    [ "$(grep -c '^<tr><td class="num">[0-9]*</td><td><a ' out/index.html)" = 10 ] ||
    fail "-m 10 -n 30: not 10 of 30 rows linked"
[ "$(cat out/index/ids/*.js | grep -c '^\["')" = 10 ] || fail "-m 10: the index does not hold 10 keys"

# A stale report: warned about, and named by no page or index file.
mkdir -p out/AB && printf 'KeyID 00000000 ABCDEF01\n' >out/AB/ABCDEF01
"$HTML" -i k.keys out 2>err || fail "stale: status"
grep -q 'report file for keys that msd.txt does not list' err || fail "stale: no warning"
grep -rl 'ABCDEF01' out/index.html out/keys out/index && fail "stale: a stale report is linked or indexed"

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
