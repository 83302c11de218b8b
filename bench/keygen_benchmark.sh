#!/bin/sh
# Measures how long keygen takes to write a large key list and how much
# memory it needs. Usage: bench/keygen_benchmark.sh PATH-TO-KEYGEN [KEYS]
set -eu
keygen=$1
keys=${2:-1000000}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# /usr/bin/time (Debian package "time") reports the peak resident size.
/usr/bin/time -f "keygen: %e s elapsed, %M KB peak memory" "$keygen" -n "$keys" -o "$out"
records=$(( $(wc -c <"$out") / 18 )) # 18-byte records
printf 'keygen: %s keys, %s signatures, %s bytes\n' "$keys" "$(( records - keys ))" "$(wc -c <"$out")"
