#!/bin/sh
# Binary key data that is cut, starts inside a packet, comes in one-byte
# partial-length pieces or floods one key with packets, read by the program
# as a user runs it: what is lost is skipped and reported on standard error
# (without -v), and everything else is read as from clean input.
# Started as: script KORVALINDE_KEYLIST PGPGEN
[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 KORVALINDE_KEYLIST PGPGEN" >&2; exit 2; }
KEYLIST=$1
PGPGEN=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
same() { cmp -s "$1" "$2" || fail "$3: $(diff "$1" "$2" | head -4)"; }
has() { grep -q -- "$2" "$1" || fail "$1 lacks \"$2\": $(head -5 "$1")"; }
# keylist EXPECTED-STATUS ARGS...: key list in out, messages in err.
keylist() {
    expected=$1
    shift
    "$KEYLIST" "$@" >out 2>err
    status=$?
    [ "$status" -eq "$expected" ] || fail "$* exited with $status, not $expected: $(head -3 err)"
}
# double FILE TIMES: FILE repeated 2^TIMES times.
double() {
    i=0
    while [ "$i" -lt "$2" ]; do
        cat "$1" "$1" >"$1.twice" && mv "$1.twice" "$1"
        i=$((i + 1))
    done
}

"$PGPGEN" -n 60 -s 5 -j 2 --no-noise --ed25519-only -o dump/ --files 3 ||
    { echo "pgpgen failed"; exit 1; }
set -- dump/*.pgp
f1=$1 f2=$2 f3=$3

# An input that starts inside a packet (the inside of a key packet before a
# dump): the bytes up to the first key are skipped and counted exactly.
head -c 50 "$f1" | tail -c 45 >starts-inside
cat "$f2" >>starts-inside
keylist 0 -o reference.keys "$f2" "$f3"
keylist 0 -o inside.keys starts-inside "$f3"
same reference.keys inside.keys "input starting inside a packet"
has err "^korvalinde-keylist: starts-inside: offset 0: 45 bytes skipped up to the next public key$"

# An input cut inside a key packet: the cut is always reported, at -v counted.
cp "$f2" truncated
head -c 40 "$f3" >>truncated
keylist 0 -o reference.keys "$f2"
keylist 0 -o truncated.keys truncated
same reference.keys truncated.keys "input cut inside a key packet"
has err "^korvalinde-keylist: truncated: offset $(wc -c <"$f2"): packet cut off by the end of the input$"
keylist 0 -v -o truncated.keys truncated
has err ", 1 packets cut off,"
# Pieces of a split dump: each piece after the first starts inside a packet.
cat "$f1" "$f2" "$f3" >whole
split -b 5000 whole piece.
keylist 0 -o pieces.keys piece.*
has err "^korvalinde-keylist: piece.ab: offset 0: [0-9]* bytes skipped up to the next public key$"
[ -s pieces.keys ] || fail "pieces of a split dump: no key list"

# Handmade packets: key A (a v4 RSA key packet with a one-byte modulus), a
# user id, and certifications by B (unverified, they count).
key() { printf '\231\000\014\004\000\000\000\000\001\000\010%b\000\002\003' "\\0$1"; }
uid() { printf '\264\001a'; }
cert() {
    printf '\210\035\004\020\001\010\000\006\005\002\000\000\000\001'
    printf '\000\012\011\020\273\273\000\000\000\000\000\013\000\000\000\001\001'
}
B=BBBB00000000000B

# A user id in one-byte partial-length pieces, from standard input (a pipe)
# as by name.
{
    key 377
    printf '\315'
    head -c 200000 /dev/zero | tr '\0' '\340'
    printf '\000'
    cert
} >partial
keylist 0 --no-verify -o by-name.keys partial
grep -q "^s$B$" by-name.keys || fail "partial pieces: B's certification lost: $(cat by-name.keys)"
# shellcheck disable=SC2002 # a pipe on purpose
cat partial | "$KEYLIST" --no-verify - >by-pipe.keys || fail "partial pieces from a pipe failed"
same by-name.keys by-pipe.keys "partial pieces from a pipe"

# Floods: 4096 user ids with a certification each, then 2^17 certifications
# on one user id: what is over the limits is skipped, counted and reported.
uid >pair
cert >>pair
double pair 12
cert >sigs
double sigs 17
{
    key 376
    cat pair
    key 375
    uid
    cat sigs
} >flood
keylist 0 -v --no-verify -o flood.keys flood
[ "$(grep -c "^s$B$" flood.keys)" = 2 ] || fail "floods: certifications lost: $(cat flood.keys)"
has err "^korvalinde-keylist: flood: key [0-9A-F]*: 96 user ids and 96 signatures over the limits"
has err "^korvalinde-keylist: flood: key [0-9A-F]*: 0 user ids and 31072 signatures over the limits"
has err "keys over the limits: 2, with 96 user ids and 31168 signatures skipped"

[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failure(s)"; exit 1; }
