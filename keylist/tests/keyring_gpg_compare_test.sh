#!/bin/sh
# Real keyrings read directly against gpg's own listing of them through the
# listing path: the verified reading against gpg --check-sigs, --no-verify
# against gpg --list-sigs; the key lists must be byte-identical, whatever -j;
# and the names of --names are gpg's primary user ids.
# gpg reports a certification by a key it has not listed yet in the same run
# as "no public key", so every key is listed once first: a copy of the keys
# with their self-signatures only, in front of the real keyring.
# Started as: script KORVALINDE_KEYLIST; skipped (77) without gpg or keyrings.
[ -x "$1" ] || { echo "usage: $0 KORVALINDE_KEYLIST" >&2; exit 2; }
KEYLIST=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
command -v gpg >/dev/null || { echo "gpg is not installed: skipped"; exit 77; }
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
export GNUPGHOME="$work/gnupg"
mkdir -m 700 "$GNUPGHOME" || exit 2

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
tested=0
for keyring in /usr/share/keyrings/debian-archive-keyring.gpg \
               /usr/share/keyrings/debian-archive-removed-keys.gpg \
               /usr/share/keyrings/archlinux.gpg; do
    if [ ! -f "$keyring" ]; then
        echo "$keyring is missing (Debian packages debian-archive-keyring, archlinux-keyring): not compared"
        continue
    fi
    name=$work/$(basename "$keyring" .gpg)
    # gpg reads binary keyrings only; the Arch Linux keyring is armored.
    if head -c 11 "$keyring" | grep -q -- '-----BEGIN'; then
        gpg -q --dearmor <"$keyring" >"$name.bin" || { fail "$keyring: gpg --dearmor"; continue; }
    else
        cp "$keyring" "$name.bin"
    fi
    # The copy: imported without certifications by other keys (an import
    # filter keeps self-signatures), which costs a fraction of what
    # export-minimal does, as that checks every signature.
    mkdir -m 700 "$name.home" || exit 2
    gpg -q --homedir "$name.home" --batch --import-filter drop-sig='sig_created -ge 0' \
        --import "$name.bin" 2>/dev/null
    gpg -q --homedir "$name.home" --batch --export >"$name.minimal" 2>/dev/null
    gpgconf --homedir "$name.home" --kill all 2>/dev/null
    for mode in check-sigs list-sigs; do
        gpg -q --no-default-keyring --keyring "$name.minimal" --keyring "$name.bin" \
            --with-colons --fixed-list-mode --$mode >"$name.$mode" 2>/dev/null
    done
    "$KEYLIST" -o "$name.via-check-sigs" "$name.check-sigs" || fail "$keyring: listing path"
    "$KEYLIST" -o "$name.via-list-sigs" "$name.list-sigs" || fail "$keyring: listing path"
    # The original file (armored for Arch Linux), read directly.
    "$KEYLIST" -j 1 -o "$name.direct" "$keyring" || fail "$keyring: direct reading"
    "$KEYLIST" -j 3 -o "$name.direct3" "$keyring" || fail "$keyring: direct reading, -j 3"
    "$KEYLIST" --no-verify -o "$name.unverified" "$keyring" || fail "$keyring: --no-verify"
    [ -s "$name.direct" ] || fail "$keyring: an empty key list"
    cmp -s "$name.via-check-sigs" "$name.direct" ||
        fail "$keyring: verified key list differs from gpg --check-sigs: $(diff "$name.via-check-sigs" "$name.direct" | head -5)"
    cmp -s "$name.direct" "$name.direct3" || fail "$keyring: -j 1 and -j 3 differ"
    cmp -s "$name.via-list-sigs" "$name.unverified" ||
        fail "$keyring: --no-verify key list differs from gpg --list-sigs: $(diff "$name.via-list-sigs" "$name.unverified" | head -5)"
    tested=$((tested + 1))
    echo "$keyring: $(grep -c '^p' "$name.direct") keys, $(grep -c '^s' "$name.direct") signers: same as gpg"
done
# Names: the primary user id gpg shows first for each key, against --names,
# on Debian's developer keyring (many keys with several user ids, some with
# a primary flag, some without). Both sides decoded to raw bytes.
ring=/usr/share/keyrings/debian-keyring.gpg
if [ -f "$ring" ] && command -v python3 >/dev/null; then
    gpg -q --no-default-keyring --keyring "$ring" --with-colons --fixed-list-mode --list-keys \
        2>/dev/null | awk -F: '$1 == "pub" { id = $5; first = 1 }
            $1 == "uid" && first { print id "\t" $10; first = 0 }' >"$work/gpg.names"
    "$KEYLIST" -o /dev/null --names "$work/direct.names" "$ring" || fail "$ring: --names"
    python3 - "$work/gpg.names" "$work/direct.names" <<'PYTHON' || fail "$ring: names differ from gpg's primary user ids"
import re, sys
def names(path):
    table = {}
    for line in open(path, "rb"):
        key, text = line.rstrip(b"\n").split(b"\t", 1)
        table[key] = re.sub(rb"\\(x([0-9a-fA-F]{2})|.)", lambda m: bytes([int(m.group(2), 16)])
                            if m.group(2) else {b"n": b"\n", b"r": b"\r"}.get(m.group(1), m.group(1)), text)
    return table
gpg, ours = names(sys.argv[1]), names(sys.argv[2])
differ = [k for k in ours if k in gpg and gpg[k] != ours[k]]
print(f"{len(ours)} names, {len(ours) - len(differ)} the same as gpg's primary user id")
for k in differ[:5]:
    print(k.decode(), ours[k], "gpg:", gpg[k])
sys.exit(1 if differ or not ours else 0)
PYTHON
fi
[ "$tested" -gt 0 ] || { echo "no keyring to compare: skipped"; exit 77; }
[ "$failures" -eq 0 ] && echo "all passed" || { echo "$failures failure(s)"; exit 1; }
