#!/bin/sh
# The built korvalinde-path run as scripts run it: exit statuses of single
# queries, batch mode and usage errors, the names file, and the Graphviz
# output read by dot (when graphviz is installed).
# usage: path_blackbox_test.sh KORVALINDE_PATH SAMPLE_KEYS
prog=$1
sample=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect STATUS COMMAND...: runs COMMAND with standard input from $work/in,
# output in $work/out and $work/err.
expect() {
    want=$1
    shift
    "$@" <"$work/in" >"$work/out" 2>"$work/err"
    got=$?
    [ "$got" -eq "$want" ] || fail "$* exited with $got, not $want: $(cat "$work/err")"
}

# Three keys of the sample: the first two are joined by a path.
keys=$(grep '^p' "$sample" | cut -c2-17)
a=$(echo "$keys" | sed -n 1p)
b=$(echo "$keys" | sed -n 2p)
short_a=$(echo "$a" | cut -c9-16)
: >"$work/in"

expect 0 "$prog" -i "$sample" "$a" "$b"
grep -q '^from ' "$work/out" && grep -q ' hops\?, ' "$work/out" ||
    fail "text answer lacks its lines: $(cat "$work/out")"
expect 0 "$prog" -i "$sample" --json "$short_a" "$a"
grep -q '"hops":0,"paths_total":1,' "$work/out" || fail "a key to itself: $(cat "$work/out")"
expect 1 "$prog" -i "$sample" "$a" 0000000000000001
grep -q 'unknown key 0000000000000001' "$work/err" || fail "unknown key not named: $(cat "$work/err")"
expect 1 "$prog" -i "$work/missing.keys" "$a" "$b"
expect 0 "$prog" -h
expect 0 "$prog" -V
grep -q '^korvalinde-path ' "$work/out" || fail "-V printed: $(cat "$work/out")"
for usage in "" "$a" "$a $b $a" "--json --dot $a $b" "-n x $a $b" "-k 0 $a $b" "-n -1 $a $b" "-Q $a $b"; do
    # shellcheck disable=SC2086 # the words are meant to be split
    expect 2 "$prog" -i "$sample" $usage
done

# Batch mode: one bad line among good ones; every line is answered and
# the status tells of the bad one.
printf '%s %s\n\n# a comment\n%s\n%s %s\n%s ZZ\n' "$a" "$b" "$a" "$b" "$a" "$a" >"$work/in"
expect 1 "$prog" -i "$sample" --json -
[ "$(grep -c '"hops"' "$work/out")" -eq 2 ] || fail "batch: not two answers: $(cat "$work/out")"
[ "$(grep -c '"error"' "$work/out")" -eq 2 ] || fail "batch: not two errors: $(cat "$work/out")"
grep -q '^{"from":"'"$a"'","to":null,"error":"expected two keys, FROM and TO, found 1 word"}$' "$work/out" ||
    fail "batch: the one-word line: $(cat "$work/out")"
printf '%s %s\n%s %s\n' "$a" "$b" "$b" "$a" >"$work/in"
expect 0 "$prog" -i "$sample" -n 1 -k 2 --json -

# Fingerprints pasted with gpg's blanks, as one quoted word and on query
# lines, alone or beside another key.
spaced() { # the key id $1 as the last 16 digits of a spaced fingerprint
    echo "0000 1111 2222 3333 4444  5555 $1" | sed 's/\(....\)\(....\)\(....\)\(....\)$/\1 \2 \3 \4/'
}
fa=$(spaced "$a")
fb=$(spaced "$b")
: >"$work/in"
expect 0 "$prog" -i "$sample" --json "$fa" "$b"
grep -q '^{"from":"'"$a"'","to":"'"$b"'",' "$work/out" || fail "spaced argument: $(cat "$work/out")"
printf '%s %s\n%s\t%s\n%s %s\n' "$fa" "$fb" "$a" "$fb" "$fa" "$b" >"$work/in"
expect 0 "$prog" -i "$sample" --json -
[ "$(grep -c '^{"from":"'"$a"'","to":"'"$b"'",' "$work/out")" -eq 3 ] ||
    fail "spaced batch lines: $(cat "$work/out")"

# The names file: user ids beside the ids, escaped for JSON.
printf '%s\tAlice "the first" <a@example.org>\n' "$a" >"$work/names"
: >"$work/in"
expect 0 "$prog" -i "$sample" -N "$work/names" "$a" "$b"
grep -q "Alice \"the first\" <a@example.org>" "$work/out" || fail "-N: no name in the text answer"
expect 0 "$prog" -i "$sample" -N "$work/names" --json "$a" "$b"
grep -q '"names":{"'"$a"'":"Alice \\"the first\\" <a@example.org>"}' "$work/out" ||
    fail "-N --json: $(cat "$work/out")"
printf 'not a names line\n' >"$work/names"
expect 1 "$prog" -i "$sample" -N "$work/names" "$a" "$b"

# Names and query lines holding bytes that act rather than show: a
# right-to-left override, a C1 control, a bidi isolate and a byte that is
# not UTF-8. Every form shows them escaped; every JSON line stays valid UTF-8.
printf '%s\tEve \342\200\256gpj.exe \302\233 \342\201\246 \377\n' "$a" >"$work/names"
for form in "" --json --dot; do
    # shellcheck disable=SC2086 # an empty form is no word
    expect 0 "$prog" -i "$sample" -N "$work/names" $form "$a" "$b"
    iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null 2>&1 || fail "-N $form: not UTF-8"
    if LC_ALL=C grep -q "$(printf '\342\200\256\|\302\233\|\342\201\246')" "$work/out"; then
        fail "-N $form: a hidden character went out raw"
    fi
done
grep -q 'Eve \\\\u202Egpj.exe \\\\u009B \\\\u2066 \(.*\)"' "$work/out" || fail "--dot: $(cat "$work/out")"
"$prog" -i "$sample" -N "$work/names" "$a" "$b" | grep -q 'Eve \\u202Egpj.exe \\u009B \\u2066' ||
    fail "text: the escapes are not shown"
"$prog" -i "$sample" -N "$work/names" --json "$a" "$b" |
    grep -q '"Eve \\u202Egpj.exe \\u009B \\u2066 '"$(printf '\357\277\275')"'"' ||
    fail "--json: the names are not escaped"
printf '%s \377\342\200\256x\n' "$a" >"$work/in"
expect 1 "$prog" -i "$sample" --json -
iconv -f UTF-8 -t UTF-8 "$work/out" >/dev/null 2>&1 && grep -q '"to":"'"$(printf '\357\277\275')"'\\u202Ex"' "$work/out" ||
    fail "--json: a query line's bytes: $(cat "$work/out")"
: >"$work/in"

# Names file lines are capped; an endless line fails at once.
{
    printf '%s\t' "$a"
    head -c 10000 /dev/zero | tr '\0' n
    printf '\n'
} >"$work/names"
expect 0 "$prog" -i "$sample" -N "$work/names" "$a" "$b"
grep -q "names:1: line longer than 4096 bytes" "$work/err" || fail "long line: $(cat "$work/err")"
grep -q nnnn "$work/out" && [ -z "$(awk 'length > 4200' "$work/out")" ] || fail "long line not cut"
expect 1 timeout 10 "$prog" -i "$sample" -N /dev/zero "$a" "$b"
grep -q '/dev/zero:1: expected 16 hex digits and a tab' "$work/err" || fail "-N /dev/zero: $(cat "$work/err")"

if command -v dot >/dev/null; then
    "$prog" -i "$sample" --dot "$a" "$b" | dot -Tsvg >"$work/svg" 2>"$work/err" ||
        fail "dot rejected the digraph: $(cat "$work/err")"
    grep -q '<svg' "$work/svg" || fail "dot made no picture"
fi
# A batch with --dot is one digraph, a cluster per answered query, that dot
# turns into one valid SVG; a key in several queries is a node of each.
printf '%s %s\n%s %s\n%s %s\n' "$a" "$b" "$b" "$a" "$a" "$a" >"$work/in"
expect 0 "$prog" -i "$sample" --dot -n 2 -
[ "$(grep -c '^digraph ' "$work/out")" -eq 1 ] && [ "$(grep -c 'subgraph cluster_' "$work/out")" -eq 3 ] &&
    grep -q '"q3_'"$a"'"' "$work/out" && grep -q '"q1_'"$a"'"' "$work/out" ||
    fail "--dot batch: $(cat "$work/out")"
if command -v dot >/dev/null; then
    dot -Tsvg <"$work/out" >"$work/svg" 2>"$work/err" || fail "dot rejected the batch: $(cat "$work/err")"
    [ "$(grep -c '<svg' "$work/svg")" -eq 1 ] || fail "--dot batch: not one picture"
    if command -v xmllint >/dev/null; then
        xmllint --noout "$work/svg" || fail "--dot batch: the SVG is not well-formed"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
