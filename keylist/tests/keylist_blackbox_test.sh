#!/bin/sh
# korvalinde-keylist's command line, files and failures, run as a user runs
# it: options, standard input and output, -o with its temporary file, and
# every kind of failure with its message and exit status.
# Started as: script KORVALINDE_KEYLIST
[ -x "$1" ] || { echo "usage: $0 KORVALINDE_KEYLIST" >&2; exit 2; }
KEYLIST=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d) || exit 2
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 2
umask 022

failures=0
fail() { echo "FAIL: $1"; failures=$((failures + 1)); }
# run EXPECTED-STATUS ARGS...: runs the program with standard output in out
# and standard error in err.
run() {
    expected=$1
    shift
    "$KEYLIST" "$@" >out 2>err
    status=$?
    [ "$status" -eq "$expected" ] || fail "$* exited with $status, not $expected: $(cat err)"
}
has() { grep -q -- "$2" "$1" || fail "$1 lacks \"$2\": $(cat "$1")"; }
empty() { [ ! -s "$1" ] || fail "$1 is not empty: $(head -3 "$1")"; }

A=AAAA00000000000A
B=BBBB00000000000B
cat >listing <<LISTING
tru::1:1:0:3:1:5
pub:-:255:22:$A:1::::::scSC:
uid:-::::1::H::a:
sig:::22:$A:1::::a:13x:
sig:::22:$B:2::::b:10x:
LISTING
printf 'p%s\ns%s\n' "$A" "$B" >expected

# Help, version and usage errors.
run 0 --help
has out "^Usage: korvalinde-keylist"
empty err
run 0 -h
has out "--as-of DATE"
run 0 -V
has out "^korvalinde-keylist [0-9]"
run 2 --no-such-option listing
empty out
has err "korvalinde-keylist: unknown option '--no-such-option'"
has err "Try 'korvalinde-keylist --help'."
run 1 listing other
has err 'korvalinde-keylist: other: cannot open'
empty out
# Options end at the first operand.
run 1 listing -o x
has err 'korvalinde-keylist: -o: cannot open'
[ ! -e x ] || fail "-o after the operand was taken as an option"
run 2 --as-of 2026-02-30 listing
has err "invalid value '2026-02-30' for --as-of"
run 2 -o '' listing
has err "invalid value '' for -o"

# Standard input (no operand, or "-") to standard output.
run 0 <listing
cmp -s out expected || fail "standard input: wrong key list"
empty err
run 0 - <listing
cmp -s out expected || fail "\"-\": wrong key list"
# Input that is neither keys nor a listing is an error naming it, and
# nothing is written.
run 1 </dev/null
empty out
has err "standard input: empty input"
printf 'A README\npub keys are listed here\n' >README
run 1 -o none.keys listing README
has err "README: neither OpenPGP key data nor a gpg colon listing"
[ ! -e none.keys ] || fail "a README among the inputs: a key list was written"
rm README
run 1 "$KEYLIST"
has err "neither OpenPGP key data nor a gpg colon listing"
# Several inputs are one collection: a key met again keeps its first place.
run 0 listing listing
cmp -s out expected || fail "the same listing twice: wrong key list"
run 2 -j 0 listing
has err "invalid value '0' for -j"
# --names: the listed keys whose user id the input holds (B is only a signer).
run 0 --names names.txt -o names.keys listing
[ "$(cat names.txt)" = "$(printf '%s\ta' "$A")" ] || fail "--names from a listing: $(cat names.txt)"
rm names.txt names.keys
run 0 -v listing
has err "1 keys read, 1 keys written, 1 signatures written"
has err "2 certifications read, dropped: 1 self, 0 revoked, 0 expired, 0 bad"

# -o replaces the file only on success, through a temporary beside it.
echo "old list" >result.keys
run 0 -o result.keys listing
cmp -s result.keys expected || fail "-o: wrong key list"
empty out
[ "$(stat -c %a result.keys)" = 644 ] || fail "-o: mode $(stat -c %a result.keys), not 644"
cp listing broken
echo "sig:::22:NOTAKEYID:3::::c:10x:" >>broken
echo "old list" >result.keys
run 1 -o result.keys broken
has err "^korvalinde-keylist: broken:6: key id of the sig record is not 16 hexadecimal digits$"
[ "$(cat result.keys)" = "old list" ] || fail "a failed run changed the output file"
[ "$(ls)" = "$(printf 'broken\nerr\nexpected\nlisting\nout\nresult.keys')" ] ||
    fail "files left behind: $(ls)"
# On standard output, a malformed listing gives no list at all.
run 1 <broken
empty out
has err "standard input:6:"

# Files that cannot be read or written.
run 1 missing
has err "^korvalinde-keylist: missing: cannot open: No such file or directory$"
mkdir dir
run 1 dir
has err "^korvalinde-keylist: dir: read error: Is a directory$"
run 1 -o nowhere/result.keys listing
has err "nowhere/result.keys: cannot create a temporary file beside it"
if [ "$(id -u)" != 0 ]; then
    mkdir locked
    chmod a-w locked
    run 1 -o locked/result.keys listing
    has err "locked/result.keys"
fi
if [ -w /dev/full ]; then
    "$KEYLIST" listing >/dev/full 2>err && fail "writing to a full device succeeded"
    has err "standard output: write error: No space left on device"
fi

# A FIFO, a device or a descriptor at -o or --names is written into, never
# replaced by a file (as root a rename would replace the node itself).
mkfifo fifo
ln -s fifo fifo.link
for target in fifo fifo.link; do
    timeout 10 cat fifo >got &
    run 0 -o "$target" listing
    wait $!
    { cmp -s got expected && [ -p fifo ]; } || fail "-o $target: the FIFO did not get the list"
done
# /dev/stdout and /dev/stderr through links of our own: should the links be
# replaced, the system's /dev/stdout is not.
ln -s /dev/stdout stdout.link
ln -s /dev/stderr stderr.link
run 0 -o stdout.link --names stderr.link listing
{ cmp -s out expected && [ "$(cat err)" = "$(printf '%s\ta' "$A")" ] && [ -L stdout.link ]; } ||
    fail "-o /dev/stdout --names /dev/stderr: $(cat out err)"
"$KEYLIST" -o stdout.link listing | cat >got
{ cmp -s got expected && [ -L stdout.link ]; } || fail "-o /dev/stdout into a pipe"
{ [ -L /dev/stdout ] && [ -c /dev/null ]; } || fail "a system device node was replaced"
if mknod null c 1 3 2>/dev/null; then
    run 0 -o null --names null listing
    [ -c null ] || fail "-o on a device replaced it"
fi

# The names file is put in place only after the key list: a run that cannot
# write the key list leaves both as they were.
echo "old names" >names.txt
run 1 -o nowhere/x.keys --names names.txt listing
[ "$(cat names.txt)" = "old names" ] || fail "a failed key list replaced the names file"

# A signal that ends the program removes the temporary beside -o; the
# program still dies of that signal. The key list is written whole before
# the names file is opened, and opening a FIFO blocks until it has a reader.
temporary_left() {
    for f in .sig.keys.*; do
        [ -e "$f" ] && return 0
    done
    return 1
}
for sig in HUP INT QUIT TERM USR1 USR2 ALRM PIPE XFSZ; do
    env --default-signal "$KEYLIST" -o sig.keys --names fifo listing 2>err &
    pid=$!
    tries=0
    until temporary_left || [ "$tries" -gt 100 ]; do
        tries=$((tries + 1))
        sleep 0.1
    done
    kill -s "$sig" "$pid"
    wait "$pid"
    status=$?
    { [ "$status" -gt 128 ] && [ "$(kill -l "$status")" = "$sig" ]; } || fail "$sig: exit status $status"
    { ! temporary_left && [ ! -e sig.keys ]; } || fail "$sig: temporary left: $(ls -a)"
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
