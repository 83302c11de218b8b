#!/bin/sh
# korvalinde-keylist on dumps where one signer certifies many keys, the
# signer's key being ordinary (Ed25519, RSA-2048: valid certifications) or
# made up to be costly to verify with (the largest RSA and DSA keys still
# accepted, and larger ones, which are refused). Each dump is about SIZE_KB
# (default 2000) KB. Prints, per dump, its size, the processor time (user +
# system, -j 2) per MB and its ratio to the Ed25519 dump's, and the elapsed
# time at -j 1 and -j 2 (one signer's certifications are shared by the
# threads). Not a test: figures for bench/RESULTS.md.
# usage: bench/keylist_costly_signers.sh [BUILD_DIR]
# (environment: SIZE_KB; KEYLIST, another korvalinde-keylist to time instead)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
cmake --build "$build" -j 2 --target korvalinde-keylist costly_signer_dump >/dev/null
K=${KEYLIST:-$build/keylist/korvalinde-keylist}
G=$build/bench/costly_signer_dump
size_kb=${SIZE_KB:-2000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Bytes per certified key (key, user id and certification) for each kind.
per_key() {
    case $1 in
    ed25519) echo 230 ;; rsa2048) echo 400 ;; rsa16384) echo 2200 ;;
    rsa-exponent) echo 530 ;; rsa-modulus) echo 4250 ;; dsa3072 | dsa8000) echo 225 ;;
    esac
}

cpu() { # processor seconds of a run at -j $1 on $2
    /usr/bin/time -f '%U %S %e' -o "$work/time" "$K" -j "$1" -v -o "$work/out" "$2" 2>"$work/err" || true
    awk '{ printf "%.2f %.2f", $1 + $2, $3 }' "$work/time"
}

echo "korvalinde-keylist, one signer certifying many keys, $(date -u +%Y-%m-%d), $(nproc) processors"
printf '%-13s %8s %9s %9s %7s %8s %8s  %s\n' kind KB cpu-s cpu-s/MB ratio 'j1 s' 'j2 s' verdicts
base=
for kind in ed25519 rsa2048 rsa16384 dsa3072 rsa-exponent rsa-modulus dsa8000; do
    count=$((size_kb * 1024 / $(per_key "$kind")))
    "$G" "$kind" "$count" "$work/$kind.pgp"
    kb=$(($(wc -c <"$work/$kind.pgp") / 1024))
    set -- $(cpu 2 "$work/$kind.pgp")
    cpu2=$1 wall2=$2
    verdicts=$(sed -n 's/^korvalinde-keylist: signatures checked: //p' "$work/err")
    set -- $(cpu 1 "$work/$kind.pgp")
    wall1=$2
    per_mb=$(awk -v c="$cpu2" -v k="$kb" 'BEGIN { printf "%.3f", c * 1024 / k }')
    [ -n "$base" ] || base=$per_mb
    ratio=$(awk -v a="$per_mb" -v b="$base" 'BEGIN { printf "%.1f", a / b }')
    printf '%-13s %8s %9s %9s %7s %8s %8s  %s\n' "$kind" "$kb" "$cpu2" "$per_mb" "$ratio" \
        "$wall1" "$wall2" "$verdicts"
done
