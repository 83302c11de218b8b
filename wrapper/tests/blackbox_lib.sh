# Shared helpers of the black-box tests: sourced by each test script, which
# is started as: script NIMVARA FAKE_GPG.
# The stand-in gpg is first in PATH; runs capture stdout, stderr (process ids
# replaced by PID) and the exit status.

[ -x "$1" ] && [ -x "$2" ] || { echo "usage: $0 NIMVARA FAKE_GPG" >&2; exit 2; }
NIMVARA=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
FAKE_GPG=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimvara-test.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/bin"
ln -s "$FAKE_GPG" "$WORK/bin/gpg"
PATH="$WORK/bin:$PATH"
export PATH
FAKE_GPG_RECORD="$WORK/record"
export FAKE_GPG_RECORD
unset NIMVARA_PASSPHRASE FAKE_GPG_EXIT FAKE_GPG_SIGNAL FAKE_GPG_OPTION FAKE_GPG_CHECK_STDIN
cd "$WORK" || exit 2

# Descriptor numbers in the expectations assume 3 is the first free one.
exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-

# Descriptors this script inherited are not the wrapper's: the stand-in
# leaves them out of its list.
FAKE_GPG_RECORD="$WORK/baseline" "$FAKE_GPG"
FAKE_GPG_INHERITED=$(sed -n 's/^fds 0 1 2 *//p' "$WORK/baseline")
export FAKE_GPG_INHERITED
rm -f "$WORK/baseline"

failures=0
current_case=""

case_name() { current_case=$1; rm -f "$WORK/record"; }

fail() {
    printf 'FAIL [%s]: %s\n' "$current_case" "$1"
    failures=$((failures + 1))
}

# run [command words...]: runs with standard input from /dev/null unless
# INPUT names a file.
run() {
    rm -f "$WORK/record"
    "$@" <"${INPUT:-/dev/null}" >"$WORK/out" 2>"$WORK/err.raw"
    status=$?
    sed 's/\[[0-9][0-9]*\]/[PID]/' "$WORK/err.raw" >"$WORK/err"
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1 (stderr: $(cat "$WORK/err"))"
}

# expect_same NAME ACTUAL_FILE EXPECTED_TEXT: the file holds exactly the text
# and a final newline (an empty text means an empty file).
expect_same() {
    if [ -z "$3" ]; then
        [ -s "$2" ] || return 0
        fail "$1 should be empty, is: $(cat "$2")"
        return
    fi
    printf '%s\n' "$3" >"$WORK/expected"
    cmp -s "$2" "$WORK/expected" || fail "$1 differs:
--- expected
$3
--- actual
$(head -n 40 "$2")"
}

expect_err() { expect_same stderr "$WORK/err" "$1"; }
expect_out() { expect_same stdout "$WORK/out" "$1"; }
expect_record() {
    [ -f "$WORK/record" ] || { fail "gpg was not run"; return; }
    expect_same record "$WORK/record" "$1"
}
expect_no_record() { [ ! -f "$WORK/record" ] || fail "gpg was run: $(head -n 20 "$WORK/record")"; }

# expect_record_line TEXT: some line of the record is exactly TEXT.
expect_record_line() {
    grep -qxF -- "$1" "$WORK/record" 2>/dev/null ||
        fail "no record line '$1' in: $(head -n 20 "$WORK/record" 2>/dev/null)"
}

finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures failure(s)"
        exit 1
    fi
    echo "all passed"
    exit 0
}
