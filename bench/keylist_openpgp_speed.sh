#!/bin/sh
# korvalinde-keylist reading OpenPGP key data directly. Not a test: prints
# figures for bench/RESULTS.md.
#  (a) Debian's four keyrings, verified, against gpg --check-sigs (every key
#      listed once first) through the listing path, side by side: the key
#      lists must be identical; prints both times and the ratio.
#  (b) --no-verify throughput on a large dump (the keyrings concatenated
#      COPIES times, default 20).
#  (c) with MILLION=DIR (made by bench/pgpgen_million.sh): the 1,000,000-key
#      dump verified, time and peak memory, against its expected key list.
# usage: bench/keylist_openpgp_speed.sh   (environment: COPIES, MILLION, JOBS)
set -eu
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde-keylist >/dev/null
K=$PWD/build-bench/keylist/korvalinde-keylist
jobs=${JOBS:-$(getconf _NPROCESSORS_ONLN)}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
D=/usr/share/keyrings
rings="$D/debian-keyring.gpg $D/debian-maintainers.gpg $D/debian-nonupload.gpg $D/debian-role-keys.gpg"
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
now() { date +%s.%N; }

echo "korvalinde-keylist OpenPGP benchmark, $(date -u +%Y-%m-%d), $(nproc) processors, -j $jobs"
for r in $rings; do [ -f "$r" ] || { echo "(a) skipped: $r missing (Debian package debian-keyring)"; rings=; break; }; done
if [ -n "$rings" ]; then
    export GNUPGHOME="$work/gnupg"
    mkdir -m 700 "$GNUPGHOME"
    args=
    for r in $rings; do args="$args --keyring $r"; done
    # The copy with self-signatures only: imported through a filter that drops
    # the other certifications (export-minimal would check every signature).
    # shellcheck disable=SC2086
    gpg -q --batch --import-filter drop-sig='sig_created -ge 0' --import $rings 2>/dev/null
    gpg -q --batch --export >"$work/minimal" 2>/dev/null
    t0=$(now)
    # shellcheck disable=SC2086
    gpg -q --no-default-keyring --keyring "$work/minimal" $args --with-colons --fixed-list-mode \
        --check-sigs 2>/dev/null | "$K" -o "$work/via-gpg.keys"
    t1=$(now)
    # shellcheck disable=SC2086
    "$K" -j "$jobs" -o "$work/direct.keys" $rings
    t2=$(now)
    gpg_s=$(seconds "$t0" "$t1")
    direct_s=$(seconds "$t1" "$t2")
    if cmp -s "$work/via-gpg.keys" "$work/direct.keys"; then same=identical; else same=DIFFERENT; fi
    echo "(a) Debian keyrings ($(cat $rings | wc -c) bytes): gpg --check-sigs + listing path ${gpg_s} s," \
         "direct verified ${direct_s} s, ratio $(awk -v g="$gpg_s" -v d="$direct_s" 'BEGIN { printf "%.0f", g / d }')x," \
         "key lists $same ($(grep -c '^p' "$work/direct.keys") keys, $(grep -c '^s' "$work/direct.keys") signers)"
    copies=${COPIES:-20}
    i=0
    while [ "$i" -lt "$copies" ]; do cat $rings; i=$((i + 1)); done >"$work/big.pgp"
    size=$(wc -c <"$work/big.pgp")
    cat "$work/big.pgp" >/dev/null # into the page cache
    t0=$(now)
    "$K" --no-verify -o "$work/big.keys" "$work/big.pgp"
    t1=$(now)
    echo "(b) --no-verify on $size bytes: $(seconds "$t0" "$t1") s," \
         "$(awk -v s="$size" -v a="$t0" -v b="$t1" 'BEGIN { printf "%.0f", s / 1e6 / (b - a) }') MB/s"
fi
if [ -n "${MILLION:-}" ]; then
    /usr/bin/time -f "%e %M" -o "$work/million.time" "$K" -j "$jobs" -o "$work/million.keys" \
        "$MILLION"/dump/*.pgp
    read -r wall peak <"$work/million.time"
    if cmp -s "$work/million.keys" "$MILLION/expected.keys"; then same=identical; else same="not identical"; fi
    echo "(c) $MILLION: $(cat "$MILLION"/dump/*.pgp | wc -c) bytes verified in $wall s," \
         "peak $(awk -v p="$peak" 'BEGIN { printf "%.0f MB", p / 1024 }'), key list $same to the expected one"
fi
