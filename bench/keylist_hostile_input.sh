#!/bin/sh
# korvalinde-keylist on hostile binary input. Not a test: prints figures for
# bench/RESULTS.md.
#  (a) a 4,000,000-byte user id in one-byte partial-length pieces (8 MB):
#      processor time given by name and through a pipe (the pipe delivers
#      64 KiB at a time, so a reader that walks a partial body again from its
#      start at each read is quadratic there).
#  (b) peak memory on floods of one key: 2^25 empty user-id packets (64 MB),
#      and 2^20 user ids each with an (unverified) certification (33 MB);
#      and on 2^10 keys with 2^11 such user ids each (71 MB).
# usage: bench/keylist_hostile_input.sh   (environment: K, a program to measure
#        instead of the Release build)
set -eu
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
if [ -z "${K:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build-bench -j 2 --target korvalinde-keylist >/dev/null
    K=$PWD/build-bench/keylist/korvalinde-keylist
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# double FILE TIMES: FILE repeated 2^TIMES times.
double() {
    i=0
    while [ "$i" -lt "$2" ]; do
        cat "$1" "$1" >"$1.twice" && mv "$1.twice" "$1"
        i=$((i + 1))
    done
}
# A v4 RSA key packet (one-byte modulus), a user id, a certification by
# BBBB00000000000B.
key() { printf '\231\000\014\004\000\000\000\000\001\000\010\377\000\002\003'; }
cert() {
    printf '\210\035\004\020\001\010\000\006\005\002\000\000\000\001'
    printf '\000\012\011\020\273\273\000\000\000\000\000\013\000\000\000\001\001'
}
cpu() { awk '{ printf "%.2f s", $1 + $2 }' "$1"; }
peak() { awk '{ printf "%.0f MB", $3 / 1024 }' "$1"; }

echo "korvalinde-keylist on hostile input, $(date -u +%Y-%m-%d), $K"
{
    key
    printf '\315'
    head -c 8000000 /dev/zero | tr '\0' '\340'
    printf '\000'
    cert
} >partial
/usr/bin/time -f "%U %S %M" -o by-name.time "$K" --no-verify -o by-name.keys partial
# shellcheck disable=SC2002 # a pipe on purpose
cat partial | /usr/bin/time -f "%U %S %M" -o by-pipe.time "$K" --no-verify -o by-pipe.keys -
if cmp -s by-name.keys by-pipe.keys; then same=identical; else same=DIFFERENT; fi
echo "(a) one-byte partial pieces, $(wc -c <partial) bytes: by name $(cpu by-name.time)," \
     "through a pipe $(cpu by-pipe.time), key lists $same"

printf '\264\000' >uids
double uids 25
key >flood
cat uids >>flood
rm uids
/usr/bin/time -f "%U %S %M" -o flood.time "$K" --no-verify -o flood.keys flood 2>/dev/null || true
echo "(b) $(wc -c <flood) bytes of empty user ids on one key: peak $(peak flood.time)," \
     "$(cpu flood.time)"
printf '\264\001a' >pairs
cert >>pairs
double pairs 20
key >flood
cat pairs >>flood
rm pairs
/usr/bin/time -f "%U %S %M" -o flood.time "$K" --no-verify -o flood.keys flood 2>/dev/null || true
echo "    $(wc -c <flood) bytes of user ids with a certification each: peak $(peak flood.time)," \
     "$(cpu flood.time)"
printf '\264\001a' >pairs
cert >>pairs
double pairs 11
key >flood
cat pairs >>flood
double flood 10
rm pairs
/usr/bin/time -f "%U %S %M" -o flood.time "$K" --no-verify -o flood.keys flood 2>/dev/null || true
echo "    $(wc -c <flood) bytes of keys with 2048 such user ids each: peak $(peak flood.time)," \
     "$(cpu flood.time)"
