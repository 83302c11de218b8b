#!/bin/sh
# Generated OpenPGP dumps (real keys and signatures, with forged
# certifications and revocations, signers absent, revoked and expired keys,
# junk, unsupported algorithms, keys split across files) read directly: the
# key list and names must be those the generator expects, whatever -j, from
# files, from standard input, and armored.
# Started as: script KORVALINDE_KEYLIST PGPGEN
[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 KORVALINDE_KEYLIST PGPGEN" >&2; exit 2; }
KEYLIST=$1
PGPGEN=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
# The generator places a key split across two files where it first appears;
# the key list places a key where a block of it first brings a certification
# (as for a listing). So key lists are compared key by key, in any order;
# names files exactly.
by_key() { awk '/^p/ { if (k) print k; k = $0; next } { k = k " " $0 } END { if (k) print k }' "$1" | sort; }
same() {
    case $1 in
    *.names) cmp -s "$1" "$2" || fail "$3: $(diff "$1" "$2" | head -4)" ;;
    *) by_key "$1" >"$1.by-key"; by_key "$2" >"$2.by-key"
       cmp -s "$1.by-key" "$2.by-key" || fail "$3: $(diff "$1.by-key" "$2.by-key" | head -4)" ;;
    esac
}

for seed in 1 3; do
    d=$work/$seed
    "$PGPGEN" -n 1000 -s "$seed" -j 2 -o "$d/" --files 3 --expect "$d.keys" \
        --expect-names "$d.names" || { fail "pgpgen seed $seed"; continue; }
    "$KEYLIST" -j 1 -o "$d.out" --names "$d.out-names" "$d"/*.pgp || fail "seed $seed: failed"
    same "$d.keys" "$d.out" "seed $seed: key list"
    same "$d.names" "$d.out-names" "seed $seed: names"
    cat "$d"/*.pgp | "$KEYLIST" -j 3 - >"$d.stdin" || fail "seed $seed: standard input"
    same "$d.keys" "$d.stdin" "seed $seed: from standard input, -j 3"
done
"$PGPGEN" -n 600 -s 9 --armor -o "$work/armored.asc" --expect "$work/armored.keys" ||
    fail "pgpgen --armor"
"$KEYLIST" "$work/armored.asc" >"$work/armored.out" || fail "armored: failed"
same "$work/armored.keys" "$work/armored.out" "armored dump"
# Unverified, the forgeries count: the list must differ from the verified one.
"$KEYLIST" --no-verify "$work/1"/*.pgp >"$work/unverified" || fail "--no-verify failed"
cmp -s "$work/unverified" "$work/1.keys" && fail "--no-verify gave the verified key list"
[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failure(s)"; exit 1; }
