#!/bin/sh
# nimvara with the real gpg in a throwaway home: a key protected by a
# passphrase, decryption on both channels, through a batch file and from the
# variable, symmetric encryption, and a wrong passphrase that must fail.
# Started as: script NIMVARA
[ -x "$1" ] || { echo "usage: $0 NIMVARA" >&2; exit 2; }
NIMVARA=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
command -v gpg >/dev/null && command -v gpgconf >/dev/null || { echo "gpg not installed"; exit 77; }

# A short path: the agent's socket path has a length limit.
GNUPGHOME=$(mktemp -d /tmp/nv.XXXXXX) || exit 2
export GNUPGHOME
trap 'gpgconf --homedir "$GNUPGHOME" --kill all 2>/dev/null; rm -rf "$GNUPGHOME"' EXIT
cd "$GNUPGHOME" || exit 2
chmod 700 "$GNUPGHOME"
unset NIMVARA_PASSPHRASE

# Modern gpg takes --passphrase-fd for secret keys only with loopback
# pinentry; a cache of zero makes every decryption ask again, and a low s2k
# count keeps each one in milliseconds.
echo "pinentry-mode loopback" >gpg.conf
printf 'max-cache-ttl 0\ndefault-cache-ttl 0\ns2k-count 65536\n' >gpg-agent.conf

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }

gpg --batch --quiet --passphrase 'right horse' \
    --quick-gen-key 'Nimvara Test <test@nimvara.example.org>' future-default default never \
    2>gen.err || { cat gen.err; exit 1; }

printf 'the plain text\n' >msg
gpg --batch --quiet --trust-model always -r test@nimvara.example.org -e -o msg.gpg msg ||
    { echo "encryption failed"; exit 1; }
printf 'right horse' >pass
printf 'wrong horse' >wrong

decrypted() { cmp -s msg "$1" || fail "$2: output differs from the plain text"; }

# The pipe: passphrase from standard input.
"$NIMVARA" -p - gpg --batch --quiet -d -o out.pipe msg.gpg <pass 2>err ||
    fail "pipe decryption failed: $(cat err)"
decrypted out.pipe pipe

# The descriptor of the opened file, read by gpg itself.
"$NIMVARA" -p pass gpg --batch --quiet -d -o out.file msg.gpg 2>err ||
    fail "file decryption failed: $(cat err)"
decrypted out.file file

# The variable, in the mangled form print mode writes.
NIMVARA_PASSPHRASE=$("$NIMVARA" -P -p pass) "$NIMVARA" gpg --batch --quiet -d -o out.env msg.gpg \
    2>err </dev/null || fail "decryption through the variable failed: $(cat err)"
decrypted out.env variable

# A batch file: one passphrase entry for two commands.
printf 'gpg --batch --quiet -d -o out.b1 msg.gpg\ngpg --batch --quiet -d -o out.b2 msg.gpg\n' >cmds
"$NIMVARA" -F -c -p pass cmds 2>err || fail "batch decryption failed: $(cat err)"
decrypted out.b1 "batch line 1"
decrypted out.b2 "batch line 2"

# A wrong passphrase fails, on both channels, after earlier successes.
if "$NIMVARA" -p - gpg --batch -d -o out.bad1 msg.gpg <wrong 2>bad1.err; then
    fail "a wrong passphrase on the pipe succeeded"
fi
grep -q "Bad passphrase" bad1.err || fail "the failure is not the passphrase's: $(cat bad1.err)"
if "$NIMVARA" -p wrong gpg --batch --quiet -d -o out.bad2 msg.gpg 2>/dev/null; then
    fail "a wrong passphrase in the file succeeded"
fi
printf 'gpg --batch --quiet -d -o out.bad3 msg.gpg\n' >badcmds
if "$NIMVARA" -F -c -p wrong badcmds 2>/dev/null; then
    fail "a wrong passphrase in batch mode with -c succeeded"
fi

# Symmetric encryption and decryption.
"$NIMVARA" -p pass gpg --batch --quiet -c -o sym.gpg msg 2>err || fail "symmetric -c failed: $(cat err)"
"$NIMVARA" -p - gpg --batch --quiet -d -o out.sym sym.gpg <pass 2>err ||
    fail "symmetric -d failed: $(cat err)"
decrypted out.sym symmetric
if "$NIMVARA" -p - gpg --batch --quiet -d -o out.symbad sym.gpg <wrong 2>/dev/null; then
    fail "symmetric decryption with a wrong passphrase succeeded"
fi

gpgconf --homedir "$GNUPGHOME" --kill all
if pgrep -f "gpg-agent.*$GNUPGHOME" >/dev/null 2>&1; then
    fail "an agent is still running for the throwaway home"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
