#!/bin/sh
# Generated dumps read by the real gpg in a throwaway home:
# 1. every signature pgpgen meant valid verifies in gpg, every forged one
#    fails, and none by an absent signer or hashed with MD5 verifies;
# 2. the key list pgpgen expects is the one korvalinde-keylist makes of gpg's
#    checked listing, for the noise gpg's listing shows faithfully (revoked
#    keys and certifications, expired keys and signatures, user attributes,
#    subkeys, a key split across files, read as keyrings). Forged signatures
#    are left to the first part: gpg lists one by an expired or revoked key as
#    "?", unchecked, and so the listing would count it.
# usage: pgpgen_gpg_test.sh PGPGEN KORVALINDE_KEYLIST COMPARE_SCRIPT
set -u
pgpgen=$1 keylist=$2 compare=$3
command -v gpg >/dev/null 2>&1 || { echo "SKIP: gpg is not installed"; exit 77; }
command -v python3 >/dev/null 2>&1 || { echo "SKIP: python3 is not installed"; exit 77; }
work=$(mktemp -d) || exit 1
trap 'gpgconf --homedir "$work/home1" --kill all 2>/dev/null; gpgconf --homedir "$work/home2" --kill all 2>/dev/null; rm -rf "$work"' EXIT
mkdir -m 700 "$work/home1" "$work/home2" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }

# gpg 2.2 names an issuer given only by its fingerprint "0000000000000000",
# stops at bytes that are no packet and drops keys of unknown algorithms:
# those cases are left to korvalinde-keylist's own tests.
"$pgpgen" -n 80 -s 11 -o "$work/dump1/" --files 3 --armor --manifest "$work/manifest" \
    --junk 0 --fingerprint-only 0 --unknown-algorithms 0 --md5 0.1 --outsiders 0.1 --forged 0.1 \
    --rsa2048 0.06 --rsa4096 0.02 --dsa 0.04 --ecdsa 0.06 || fail "pgpgen (armored directory)"
gpg --homedir "$work/home1" --batch --quiet --import "$work"/dump1/* 2>/dev/null
gpg --homedir "$work/home1" --batch --with-colons --fixed-list-mode --check-sigs \
    >"$work/listing1" 2>/dev/null || fail "gpg --check-sigs"
python3 "$compare" "$work/manifest" "$work/listing1" || fail "gpg's verdicts differ from pgpgen's"

"$pgpgen" -n 100 -s 12 -o "$work/dump2/" --files 2 --expect "$work/expected" \
    --junk 0 --fingerprint-only 0 --unknown-algorithms 0 --md5 0 --outsiders 0 \
    --forged 0 --forged-revocations 0 --rsa2048 0.05 --dsa 0.03 --ecdsa 0.05 --revoked-keys 0.05 \
    --revoked-certs 0.1 --user-attributes 0.1 --split 0.03 || fail "pgpgen (binary directory)"
# The dump files are read as keyrings, not imported: an import merges a split
# key into its first place, where a listing shows each part where it is.
rings=
for file in "$work"/dump2/*; do rings="$rings --keyring $file"; done
# gpg calls a certification by a key it has not listed yet in the same run
# "?" (no public key), and only "!" counts in a checked listing: every key
# is listed once first, with its self-signatures only.
# The copy is imported without certifications by other keys (an import
# filter keeps self-signatures): export-minimal would check every signature.
gpg --homedir "$work/home2" --batch --quiet --import-filter drop-sig='sig_created -ge 0' \
    --import "$work"/dump2/* 2>/dev/null
gpg --homedir "$work/home2" --batch --export >"$work/minimal.gpg" 2>/dev/null
# shellcheck disable=SC2086 # the keyring options are split on purpose
gpg --homedir "$work/home2" --batch --with-colons --fixed-list-mode --no-default-keyring \
    --keyring "$work/minimal.gpg" $rings --check-sigs 2>/dev/null |
    "$keylist" -o "$work/from_gpg" || fail "korvalinde-keylist"
cmp "$work/expected" "$work/from_gpg" || fail "the expected key list differs from gpg's"
[ -s "$work/expected" ] || fail "the expected key list is empty"
[ $status -eq 0 ] && echo "PASS"
exit $status
