#!/bin/sh
# The same seed gives the same bytes: the whole dump when every key is
# Ed25519 (for any number of threads, plain or armored), and the expected key
# list and names always, though DSA and ECDSA signatures are randomized.
# usage: pgpgen_determinism_test.sh PGPGEN
set -u
pgpgen=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }
run() { # NAME OPTIONS...
    name=$1
    shift
    "$pgpgen" -n 150 -s 21 --expect "$work/$name.keys" --expect-names "$work/$name.names" "$@" ||
        fail "pgpgen $*"
}

run a1 --ed25519-only -j 1 -o "$work/a1.pgp"
run a2 --ed25519-only -j 2 -o "$work/a2.pgp"
cmp "$work/a1.pgp" "$work/a2.pgp" || fail "Ed25519-only dumps differ between runs"
run b1 --ed25519-only --armor -o "$work/b1/"
run b2 --ed25519-only --armor -o "$work/b2/"
cat "$work"/b1/* >"$work/b1.all" && cat "$work"/b2/* >"$work/b2.all"
cmp "$work/b1.all" "$work/b2.all" || fail "armored dumps differ between runs"
cmp "$work/a1.keys" "$work/b1.keys" || fail "the expected key list depends on the output form"
# The armor decodes, checksum included, to the binary dump.
run e1 --ed25519-only --armor -o "$work/e1.asc"
if command -v gpg >/dev/null 2>&1; then
    gpg --batch --dearmor <"$work/e1.asc" >"$work/e1.pgp" || fail "gpg cannot read the armor"
    cmp "$work/a1.pgp" "$work/e1.pgp" || fail "the armor does not decode to the binary dump"
fi
run c1 --dsa 0.05 --ecdsa 0.05 --rsa2048 0.05 -j 1 -o "$work/c1.pgp"
run c2 --dsa 0.05 --ecdsa 0.05 --rsa2048 0.05 -j 2 -o "$work/c2.pgp"
cmp "$work/c1.keys" "$work/c2.keys" || fail "expected key lists differ between runs"
cmp "$work/c1.names" "$work/c2.names" || fail "expected names differ between runs"
run d1 -s 22 -o "$work/d1.pgp"
cmp -s "$work/a1.keys" "$work/d1.keys" && fail "another seed gave the same key list"
# Every key the key list names has a name, and only those.
sed -n 's/^[ps]//p' "$work/c1.keys" | sort -u >"$work/listed"
cut -f1 "$work/c1.names" >"$work/named"
cmp "$work/listed" "$work/named" || fail "the names file does not match the key list"
# Wrong options fail with a message and write nothing.
for options in "--bogus" "-n -1" "-n x" "--forged 2" "--rsa2048 0.7 --dsa 0.5" "-s" \
    "--tail-fraction 0.7 --island-fraction 0.5"; do
    # shellcheck disable=SC2086 # the options are split on purpose
    if "$pgpgen" $options -o "$work/bad.pgp" 2>"$work/bad.err"; then fail "pgpgen $options succeeded"; fi
    [ -s "$work/bad.err" ] || fail "pgpgen $options gave no message"
    [ -e "$work/bad.pgp" ] && fail "pgpgen $options wrote a dump"
done
[ $status -eq 0 ] && echo "PASS"
exit $status
