#!/bin/sh
# korvalinde-keylist --cache as a user runs it, on a small generated dump:
# cold, warm and changed-input runs give the key list and names of a run
# without the cache; a damaged, foreign or planted cache file is one
# warning and changes nothing else; the cache is never written through a
# link, only after a successful run, and never over an input or output.
# Started as: script KORVALINDE_KEYLIST PGPGEN
[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 KORVALINDE_KEYLIST PGPGEN" >&2; exit 2; }
KEYLIST=$1
PGPGEN=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
umask 022

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
same() { cmp -s "$1" "$2" || fail "$3: $(diff "$1" "$2" | head -4)"; }
# counts NAME: the -v line of the cache counts in NAME.err, as "HITS VERIFIED".
counts() { sed -n 's/^korvalinde-keylist: verdict cache: \([0-9]*\) .* \([0-9]*\) signatures verified$/\1 \2/p' "$1.err"; }
# run NAME DUMP [OPTIONS]: key list in NAME.keys, names in NAME.names.
run() {
    name=$1 dump=$2
    shift 2
    "$KEYLIST" -v -j 2 -o "$name.keys" --names "$name.names" "$@" "$dump"/*.pgp 2>"$name.err" ||
        fail "$name: exited with $?: $(grep -v offset "$name.err" | head -3)"
}
# like NAME REFERENCE: NAME's outputs are REFERENCE's.
like() {
    same "$2.keys" "$1.keys" "$1: key list"
    same "$2.names" "$1.names" "$1: names"
}
# warned NAME REASON: exactly one cache warning, for REASON.
warned() {
    line=$(grep "^korvalinde-keylist: 'cache'" "$1.err")
    [ "$line" = "korvalinde-keylist: 'cache': cache ignored: $2" ] ||
        fail "$1: warnings \"$line\", not one about \"$2\""
}

noise="--forged 0.1 --outsiders 0.05 --revoked-certs 0.05 --md5 0.05 --split 0.03
    --rsa2048 0.02 --dsa 0.02 --ecdsa 0.02"
# shellcheck disable=SC2086 # the options are split on purpose
"$PGPGEN" -n 300 -s 5 -j 2 -o dump/ --files 2 $noise >/dev/null &&
    "$PGPGEN" -n 300 -s 5 -j 2 -o changed/ --files 2 $noise --new-certifications 0.2 >/dev/null ||
    { echo "FAIL: pgpgen"; exit 1; }

run ref dump
run ref-changed changed
cmp -s ref.keys ref-changed.keys && fail "the changed dump gives the same key list"

# Cold, warm, and the changed dump with the dump's cache.
run cold dump --cache cache
like cold ref
[ "$(stat -c %a cache)" = 600 ] || fail "cache mode $(stat -c %a cache)"
grep -q cache cold.err && [ "$(counts cold | cut -d' ' -f1)" = 0 ] || fail "cold: $(counts cold)"
cp -p cache cache-of-dump
run warm dump --cache cache
like warm ref
# shellcheck disable=SC2046 # hits and verified, split on purpose
set -- $(counts warm)
[ "${1:-0}" -gt 1000 ] && [ "$2" -eq 0 ] || fail "warm: $1 from the cache, $2 verified"
cp -p cache-of-dump cache
run changed changed --cache cache
like changed ref-changed
# shellcheck disable=SC2046
set -- $(counts changed)
[ "${1:-0}" -gt 1000 ] && [ "$2" -gt 0 ] || fail "changed: $1 from the cache, $2 verified"
# Entries the last run did not use are dropped: the cache of the changed
# dump alone is warm on it.
cp -p cache-of-dump cache
run changed-once changed --cache cache
run changed-again changed --cache cache
like changed-again ref-changed
[ "$(counts changed-again | cut -d' ' -f1)" -ge "$(counts changed | cut -d' ' -f1)" ] ||
    fail "changed again: $(counts changed-again)"
cp -p cache-of-dump cache
"$KEYLIST" -j 2 --cache cache -o half.keys dump/dump-0000.pgp 2>/dev/null
[ "$(stat -c %s cache)" -lt $(($(stat -c %s cache-of-dump) * 3 / 4)) ] ||
    fail "unused entries kept: $(stat -c %s cache) of $(stat -c %s cache-of-dump) bytes"
run one-thread dump -j 1 --cache cache
like one-thread ref

# Untrusted cache files: one warning each, the same outputs, then a fresh
# cache that the next run uses.
size=$(stat -c %s cache-of-dump)
for kind in corrupt truncated header-count group-writable symlink fifo foreign; do
    rm -f cache target
    cp -p cache-of-dump cache
    case $kind in
    corrupt)
        printf 'X' | dd of=cache bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
        reason="checksum mismatch in block 0" ;;
    truncated)
        head -c $((size - 7)) cache-of-dump >cache
        reason="size does not match its header (truncated?)" ;;
    header-count)
        printf '\377' | dd of=cache bs=1 seek=17 conv=notrunc 2>/dev/null
        reason="header checksum mismatch" ;;
    group-writable)
        chmod 660 cache
        reason="writable by group or others" ;;
    symlink)
        mv cache target
        ln -s target cache
        reason="a symbolic link" ;;
    fifo)
        rm cache
        mkfifo cache
        reason="not a regular file" ;;
    foreign)
        [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1 || { echo "foreign-owned cache: skipped (needs root)"; continue; }
        chown nobody cache
        reason="owned by another user" ;;
    esac
    run "$kind" dump --cache cache
    like "$kind" ref
    warned "$kind" "$reason"
    [ -f cache ] && ! [ -L cache ] && [ "$(stat -c '%a %u' cache)" = "600 $(id -u)" ] ||
        fail "$kind: no fresh cache: $(ls -l cache)"
    [ "$kind" != symlink ] || cmp -s target cache-of-dump || fail "symlink: its target changed"
    run "$kind-after" dump --cache cache
    [ "$(counts "$kind-after" | cut -d' ' -f1)" -gt 1000 ] || fail "$kind: not warm after: $(counts "$kind-after")"
done

# A first run says nothing about its missing cache; without -v nothing at all.
rm -f cache
"$KEYLIST" -j 2 --cache cache -o quiet.keys dump/*.pgp 2>quiet.err
grep -q cache quiet.err && fail "first run: $(cat quiet.err)"
same ref.keys quiet.keys "first run without -v"

# A cache that cannot be written: a warning, and the run still succeeds.
run unwritable dump --cache no-such-dir/cache
like unwritable ref
grep -q "^korvalinde-keylist: 'no-such-dir/cache': cache not written: " unwritable.err ||
    fail "unwritable: $(grep cache unwritable.err)"

# A failed run writes no cache; --no-verify leaves it as it is.
cp -p cache-of-dump cache
"$KEYLIST" --cache cache -o out.keys missing-input 2>/dev/null && fail "missing input succeeded"
cmp -s cache cache-of-dump || fail "a failed run changed the cache"
"$KEYLIST" --no-verify --cache cache -o out.keys dump/*.pgp 2>/dev/null || fail "--no-verify failed"
cmp -s cache cache-of-dump || fail "--no-verify changed the cache"

# The cache is never one of the run's other files.
for clash in "-o cache" "--names cache" "--summary cache"; do
    # shellcheck disable=SC2086
    "$KEYLIST" --cache cache $clash dump/*.pgp >/dev/null 2>clash.err && fail "--cache with $clash ran"
    grep -q "'cache': the cache is also an input or output" clash.err || fail "$clash: $(cat clash.err)"
done
cat dump/*.pgp >all.pgp
ln -s all.pgp linked.pgp
"$KEYLIST" --cache all.pgp -o out.keys linked.pgp 2>clash.err && fail "--cache on an input ran"
cmp -s all.pgp dump/dump-0000.pgp && fail "input replaced"
cat dump/*.pgp | cmp -s - all.pgp || fail "the input given as --cache changed"

[ "$failures" -eq 0 ] && echo "all passed"
[ "$failures" -eq 0 ]
