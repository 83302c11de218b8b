#!/bin/sh
# korvalinde-keylist on a real gpg listing, then korvalinde on the key list:
# twelve keys in a throwaway home, certified along a graph designed by hand,
# with a revoked certification, a revoked key, an expired key and an expired
# certification. The key list, the set sizes and two reports are checked
# against values worked out from that graph, with and without --as-of.
# Started as: script KORVALINDE_KEYLIST KORVALINDE
[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 KORVALINDE_KEYLIST KORVALINDE" >&2; exit 2; }
KEYLIST=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
KORVALINDE=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
command -v gpg >/dev/null && command -v gpgconf >/dev/null || { echo "gpg not installed"; exit 77; }

# A short path: the agent's socket path has a length limit.
GNUPGHOME=$(mktemp -d /tmp/kl.XXXXXX) || exit 2
export GNUPGHOME
trap 'gpgconf --homedir "$GNUPGHOME" --kill all 2>/dev/null; rm -rf "$GNUPGHOME"' EXIT
cd "$GNUPGHOME" || exit 2
chmod 700 "$GNUPGHOME"

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

# Everything happens on 2026-01-01, so that a key made to last one day has
# expired by any later date, whatever the clock says. Each gpg call starts a
# minute after the one before: the faked clock runs on during a call, and on
# a busy machine a key made in one call would otherwise lie in the future of
# the next ("created 1 second in the future") and be unusable.
minute=0
g() {
    made=$(printf '20260101T%02d%02d00' $((minute / 60)) $((minute % 60)))
    minute=$((minute + 1))
    gpg --batch --quiet --pinentry-mode loopback --passphrase '' --faked-system-time "$made" \
        "$@" >>gpg.out 2>>gpg.err || { echo "gpg $*:"; cat gpg.err; exit 1; }
}

for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
    expiry=never
    [ "$n" = 11 ] && expiry=1d
    g --quick-gen-key "Key $n <k$n@keylist.test>" ed25519 cert "$expiry"
done
fpr() { gpg --with-colons --list-keys "<k$1@keylist.test>" 2>/dev/null | awk -F: '$1 == "fpr" { print $10; exit }'; }
kid() { fpr "$1" | cut -c25-40; }
for n in 1 2 3 4 5 6 7 8 9 10 11 12; do
    eval "F$n=$(fpr $n) K$n=$(kid $n)"
done

certify() { # signer, signed, gpg options...
    signer=$1 signed=$2
    shift 2
    eval "g --default-key \$F$signer $* --quick-sign-key \$F$signed"
}
# The strong set: 1 -> 2 -> 3 -> 4 -> 1, 1 -> 3, and the expiring key 11
# between 2 and 4.
certify 1 2
certify 2 3
certify 3 4
certify 4 1
certify 1 3
certify 2 11
certify 11 4
# A tail: 4 -> 5 -> 6 -> 7, and 3 -> 5 with a certification that expires.
certify 4 5
certify 3 5 --default-cert-expire 1d
certify 5 6
certify 6 7
# 8 certifies 1 but nobody certifies 8: it gets no record of its own.
certify 8 1
# 9 is revoked; its certification of 10 stays, but 10 is then unreachable.
certify 1 9
certify 9 10
# 1 certifies 12 and takes it back; 6 certifies 12 too.
certify 1 12
certify 6 12
g --quick-revoke-sig "$F12" "$F1"
sed 's/^://' "openpgp-revocs.d/$F9.rev" >revoke9.asc
g --import revoke9.asc

gpg --with-colons --fixed-list-mode --list-sigs >listing 2>/dev/null || { echo "listing failed"; exit 1; }
grep -q "^pub:r:[^:]*:[^:]*:$K9:" listing || fail "gpg does not show key 9 revoked"
grep -q "^rev:[^:]*:[^:]*:[^:]*:$K1:.*:30x" listing || fail "gpg does not show the revoked certification"

# The key list expected for signers per key (listing order for the keys,
# signers sorted by id): number, then the numbers of its signers.
expect_list() { # file, then lines "key signer..."
    out=$1
    shift
    printf '%s\n' "$@" >graph
    : >"$out"
    for pub in $(awk -F: '$1 == "pub" { print $5 }' listing); do
        while read -r key signers; do
            eval "id=\$K$key"
            [ "$id" = "$pub" ] || continue
            echo "p$id" >>"$out"
            for s in $signers; do eval "echo s\$K$s"; done | sort >>"$out"
        done <graph
    done
}

"$KEYLIST" -v -o all.keys listing 2>summary || fail "korvalinde-keylist failed: $(cat summary)"
expect_list expected.keys "1 4 8" "2 1" "3 1 2" "4 3 11" "5 3 4" "6 5" "7 6" "10 9" "11 2" "12 6"
cmp -s all.keys expected.keys || { fail "key list differs:"; diff all.keys expected.keys; }
grep -q "12 keys read, 10 keys written, 14 signatures written" summary ||
    fail "summary: $(cat summary)"
grep -q "keys left out: 1 revoked, 0 expired" summary || fail "summary: $(cat summary)"

"$KEYLIST" --as-of 2026-01-10 listing >dated.keys 2>err || fail "--as-of run failed: $(cat err)"
expect_list expected-dated.keys "1 4 8" "2 1" "3 1 2" "4 3 11" "5 4" "6 5" "7 6" "10 9" "12 6"
cmp -s dated.keys expected-dated.keys || { fail "dated key list differs:"; diff dated.keys expected-dated.keys; }

# report FILE: the lines of a report from its mean on, and its signer lines.
report() {
    sed -n '/^Mean distance/,$p' "$1"
}
ids() { # numbers -> "  HIGH LOW" lines, sorted
    for n in "$@"; do eval "id=\$K$n"; echo "  $(echo "$id" | cut -c1-8) $(echo "$id" | cut -c9-16)"; done | sort
}
low() { eval "echo \$K$1" | cut -c9-16; }

check_run() { # name, key list, strong set size, reachable size, mean of 7 and 12, hop rows, farthest
    name=$1 list=$2 strong=$3 reachable=$4 mean=$5 hops=$6
    shift 6
    "$KORVALINDE" -1 -j 2 -o "out-$name" "$list" 2>err || fail "$name: korvalinde failed: $(cat err)"
    grep -qx "strongly connected set is size $strong" "out-$name/status.txt" ||
        fail "$name: strong set: $(tail -2 "out-$name/status.txt")"
    grep -qx "reachable set is size $reachable" "out-$name/status.txt" ||
        fail "$name: reachable set: $(tail -2 "out-$name/status.txt")"
    for n in 7 12; do
        r="out-$name/$(low $n)"
        [ -f "$r" ] || { fail "$name: no report for key $n"; continue; }
        {
            printf 'Mean distance to this key from strong set: %8s\n\n' "$mean"
            printf 'Breakout by hop count (only from strong set):\n'
            printf '%b' "$hops"
            printf '\nFarthest keys (%s hops):\n' "$(printf '%b' "$hops" | tail -1 | cut -c1-2 | tr -d ' ')"
        } >expected.report
        report "$r" | sed '/^  /d' >got.report
        cmp -s got.report expected.report || { fail "$name: report of key $n:"; diff got.report expected.report; }
        report "$r" | grep '^  ' | sort >got.farthest
        ids "$@" >expected.farthest
        cmp -s got.farthest expected.farthest || fail "$name: farthest keys of key $n: $(cat got.farthest)"
    done
    # Key 12's only counted signer is 6: 1's certification was revoked.
    sed -n '/^Signatures to this key/,/^Total/p' "out-$name/$(low 12)" | grep '^  ' >got.signers
    ids 6 >expected.signers
    cmp -s got.signers expected.signers || fail "$name: signers of key 12: $(cat got.signers)"
}

# Distances to key 5: from 4 and 3 one hop, from 1, 2 and 11 two; keys 7 and
# 12 are two more hops away: 3, 3, 4, 4, 4, mean 3.6.
check_run all all.keys 5 9 3.6000 ' 0 hops:     0\n 1 hops:     0\n 2 hops:     0\n 3 hops:     2\n 4 hops:     3\n' 1 2 11
# At 2026-01-10 key 11 and 3's certification of 5 have expired: members
# 1, 2, 3, 4 are 3, 2, 1 and 3 hops from 5, so 5, 5, 4, 3 from 7: mean 4.25.
check_run dated dated.keys 4 8 4.2500 ' 0 hops:     0\n 1 hops:     0\n 2 hops:     0\n 3 hops:     1\n 4 hops:     1\n 5 hops:     2\n' 1 2

gpgconf --homedir "$GNUPGHOME" --kill all
if pgrep -f "gpg-agent.*$GNUPGHOME" >/dev/null 2>&1; then
    fail "an agent is still running for the throwaway home"
fi
[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
