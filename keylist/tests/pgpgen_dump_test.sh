#!/bin/sh
# Generated OpenPGP dumps (real keys and signatures, with forged
# certifications and revocations, signers absent, revoked and expired keys,
# junk, unsupported algorithms, keys split across files) read directly: the
# key list and names must be byte for byte those the generator expects,
# whatever -j, from files, from standard input, and armored. The dumps are
# small with every kind of noise at a high rate, so that each appears.
# Started as: script KORVALINDE_KEYLIST PGPGEN
[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 KORVALINDE_KEYLIST PGPGEN" >&2; exit 2; }
KEYLIST=$1
PGPGEN=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
same() { cmp -s "$1" "$2" || fail "$3: $(diff "$1" "$2" | head -4)"; }
noise="--forged 0.1 --forged-revocations 0.1 --outsiders 0.1 --revoked-keys 0.05 --revoked-certs 0.05
    --expired-keys 0.05 --expired-sigs 0.05 --user-attributes 0.05 --unknown-algorithms 0.02 --md5 0.05
    --junk 0.02 --split 0.03 --fingerprint-only 0.1 --rsa2048 0.02 --rsa4096 0.01 --dsa 0.02 --ecdsa 0.02"

# Seed 3 splits a key whose first part brings no counted certification: its
# record goes where the later part is.
for seed in 1 3; do
    d=$work/$seed
    # shellcheck disable=SC2086 # the options are split on purpose
    "$PGPGEN" -n 300 -s "$seed" -j 2 -o "$d/" --files 3 --expect "$d.keys" \
        --expect-names "$d.names" $noise || { fail "pgpgen seed $seed"; continue; }
    "$KEYLIST" -j 1 -o "$d.out" --names "$d.out-names" "$d"/*.pgp || fail "seed $seed: failed"
    same "$d.keys" "$d.out" "seed $seed: key list"
    same "$d.names" "$d.out-names" "seed $seed: names"
    cat "$d"/*.pgp | "$KEYLIST" -j 3 - >"$d.stdin" || fail "seed $seed: standard input"
    same "$d.keys" "$d.stdin" "seed $seed: from standard input, -j 3"
done
# Verified as read or after the reading, by whichever thread: the same tally.
for j in 1 4; do
    "$KEYLIST" -v -j "$j" -o "$work/tally$j.keys" "$work/1"/*.pgp 2>&1 |
        grep 'signatures checked: [0-9]* valid, [0-9]* bad signature' >"$work/tally$j" ||
        fail "-v -j $j: no tally of valid and bad signatures"
done
same "$work/tally1" "$work/tally4" "-v tally, -j 1 against -j 4"
# shellcheck disable=SC2086
"$PGPGEN" -n 200 -s 9 --armor -o "$work/armored.asc" --expect "$work/armored.keys" $noise ||
    fail "pgpgen --armor"
"$KEYLIST" "$work/armored.asc" >"$work/armored.out" || fail "armored: failed"
same "$work/armored.keys" "$work/armored.out" "armored dump"
# Unverified, the forgeries count: the list must differ from the verified one.
"$KEYLIST" --no-verify "$work/1"/*.pgp >"$work/unverified" || fail "--no-verify failed"
cmp -s "$work/unverified" "$work/1.keys" && fail "--no-verify gave the verified key list"
[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failure(s)"; exit 1; }
