#!/bin/sh
# The README's nimvara walkthrough, run as a reader would run it: the fenced
# block after its marker comment, with sh -e, the built nimvara first on PATH,
# a throwaway HOME and the real gpg. Every decrypted copy must equal the
# original, and the agent must not have answered from a cache: a wrong
# passphrase still fails afterwards in the walkthrough's gpg home.
# usage: readme_walkthrough_test.sh README NIMVARA
[ -f "$1" ] && [ -x "$2" ] || { echo "usage: $0 README NIMVARA" >&2; exit 2; }
readme=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
bindir=$(cd "$(dirname "$2")" && pwd)
command -v gpg >/dev/null && command -v gpgconf >/dev/null || { echo "gpg not installed"; exit 77; }

# A short path: the agent's socket path has a length limit, and the
# walkthrough's mktemp calls create their directories under TMPDIR.
work=$(mktemp -d /tmp/nvr.XXXXXX) || exit 2
stop_agents() {
    for home in "$work"/tmp.*; do
        [ -f "$home/gpg.conf" ] && gpgconf --homedir "$home" --kill all 2>/dev/null
    done
}
trap 'stop_agents; rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM

# Its last line stops the agent, which would also forget a cached
# passphrase: that line is left to the checks below.
awk '/^<!-- nimvara walkthrough:/ { marked = 1; next }
     marked && !inside && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside && !/^gpgconf --kill gpg-agent/ { print }' "$readme" >"$work/walkthrough.sh"
grep -q '^nimvara -F' "$work/walkthrough.sh" && grep -q 'nimvara -p - ' "$work/walkthrough.sh" || {
    echo "FAIL: no nimvara walkthrough block after its marker in $readme"
    exit 1
}

# The walkthrough ends in its scratch directory; these checks run there.
cat >>"$work/walkthrough.sh" <<'EOF'
for copy in notes-1.txt notes-2.txt notes-3.txt notes-4.txt; do
    cmp notes.txt "$copy"
done
printf 'wrong horse\n' >wrong.pass
if nimvara -p wrong.pass gpg --batch -d -o notes-wrong.txt notes.txt.gpg 2>wrong.err; then
    echo "FAIL: a wrong passphrase decrypted: the walkthrough's passphrases may have come from a cache"
    exit 1
fi
gpgconf --kill gpg-agent
EOF

mkdir "$work/home" || exit 2
if (cd "$work/home" &&
    env -u NIMVARA_PASSPHRASE -u GNUPGHOME HOME="$work/home" TMPDIR="$work" \
        PATH="$bindir:$PATH" sh -e "$work/walkthrough.sh") >"$work/log" 2>&1; then
    echo "README walkthrough ran as written"
else
    echo "FAIL: the README walkthrough failed; its output:"
    cat "$work/log"
    exit 1
fi
