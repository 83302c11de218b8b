#!/bin/sh
# When the system refuses a worker thread, the program says so once on
# standard error and the threads that did start do all the work: the output
# is the same as with every thread. korvalinde's message has no line end (its
# text is fixed that way); every other program ends the line.
# usage: thread_refusal_test.sh PRELOAD KORVALINDE KORVALINDE_PATH KEYGEN
# (exit status 77: skipped under a sanitizer, where a preload cannot work)
set -u
preload=$1
korvalinde=$2
path=$3
keygen=$4
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
if ldd "$korvalinde" | grep -q 'lib[at]san'; then
    echo "skipped: sanitizer build"
    exit 77
fi

"$keygen" -n 2000 -s 5 -o "$work/list.keys" || exit 2

# refused PROGRAM ARGS...: runs the program with its first pthread_create
# failing (EAGAIN), output in $work/refused.out and .err.
refused() {
    target=$(basename "$1")
    : >"$work/fired"
    LD_PRELOAD=$preload FAULT_TARGET=$target FAULT_CALL=pthread_create FAULT_NTH=1 \
        FAULT_ERRNO=EAGAIN FAULT_FIRED_FILE="$work/fired" "$@" >"$work/refused.out" \
        2>"$work/refused.err"
    status=$?
    [ -s "$work/fired" ] || fail "$target: no thread was refused"
    [ "$status" = 0 ] || fail "$target: status $status: $(cat "$work/refused.err")"
}

# korvalinde: "Cannot create thread 1." without a line end; the same files.
mkdir "$work/all" "$work/fewer"
"$korvalinde" -j 2 -o "$work/all" "$work/list.keys" 2>"$work/all.err" || fail "korvalinde run"
refused "$korvalinde" -j 2 -o "$work/fewer" "$work/list.keys"
printf 'Cannot create thread 1.' | cmp -s - "$work/refused.err" ||
    fail "korvalinde: standard error '$(cat "$work/refused.err")'"
diff -r "$work/all" "$work/fewer" >/dev/null || fail "korvalinde: output differs"
[ "$(wc -l <"$work/fewer/msd.txt")" -gt 100 ] || fail "korvalinde: too few keys analysed"

# korvalinde-path: the message is a whole line; the same answer.
keys=$(grep '^p' "$work/list.keys" | cut -c2-17)
from=$(echo "$keys" | sed -n 1p)
to=$(echo "$keys" | sed -n 2p)
"$path" -i "$work/list.keys" --json "$from" "$to" >"$work/path.out" || fail "korvalinde-path run"
refused "$path" -i "$work/list.keys" --json "$from" "$to"
printf 'Cannot create thread 1.\n' | cmp -s - "$work/refused.err" ||
    fail "korvalinde-path: standard error '$(cat "$work/refused.err")'"
cmp -s "$work/path.out" "$work/refused.out" || fail "korvalinde-path: answer differs"

[ "$failures" = 0 ] || exit 1
echo "refused threads handled"
