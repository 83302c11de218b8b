#!/bin/sh
# While nimvara holds the passphrase, no process of the same user can attach
# to it, read its memory or environment, or get a core file of it; the
# programs it starts have their normal settings back.
#
#   process_protection_test.sh NIMVARA PTRACE_PROBE
#
# Everything runs as the unprivileged user nobody (root may attach to any
# process), so the test needs root to switch users. A batch runs one line,
# a stand-in for gpg that sleeps; meanwhile the batch wrapper and the nested
# wrapper both hold the passphrase.
NIMVARA=$1
PROBE=$2
[ -x "$NIMVARA" ] && [ -x "$PROBE" ] || { echo "usage: $0 NIMVARA PTRACE_PROBE" >&2; exit 2; }

skip() {
    echo "skipped: $1"
    exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to run the processes as the user nobody"
command -v setpriv >/dev/null || skip "setpriv is not installed"
id nobody >/dev/null 2>&1 || skip "there is no user nobody"
group=$(id -gn nobody)
case $(cat /proc/sys/kernel/core_pattern) in
'|'*) skip "core files go to a handler ($(cat /proc/sys/kernel/core_pattern)), not to a file" ;;
esac
if [ -r /proc/sys/kernel/yama/ptrace_scope ] && [ "$(cat /proc/sys/kernel/yama/ptrace_scope)" -ne 0 ]; then
    skip "Yama restricts ptrace to descendants, so no process can be attached to for comparison"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimvara-protect.XXXXXX") || exit 2
chmod 755 "$WORK"
cleanup() {
    for p in $BATCH $NESTED $GPG; do kill -KILL "$p" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
mkdir "$WORK/bin" "$WORK/run"
cp "$NIMVARA" "$PROBE" "$WORK/bin/"
printf '#!/bin/sh\nexec sleep 60\n' >"$WORK/bin/gpg"
chmod 755 "$WORK/bin"/*
printf 'gpg --batch -d notes.gpg\n' >"$WORK/run/cmds"
printf 'secret' >"$WORK/run/pass"
chown -R nobody:"$group" "$WORK/run"
cd "$WORK/run" || exit 2

# An instrumented build would otherwise lower the core-size limit itself at
# start, before nimvara saves the limit it was given.
ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}disable_coredump=0"
export ASAN_OPTIONS

as_nobody() { setpriv --reuid=nobody --regid="$group" --clear-groups "$@"; }

failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}

parent_of() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f2; }
name_of() { cat "/proc/$1/comm" 2>/dev/null; }
child_of() {
    for d in /proc/[0-9]*; do
        [ "$(parent_of "${d#/proc/}")" = "$1" ] && echo "${d#/proc/}" && return
    done
}

# The batch wrapper (setpriv executes it in place, so $! is its id), then the
# nested wrapper that the line's shell became, then the sleeping gpg.
(
    ulimit -c unlimited
    PATH="$WORK/bin:$PATH" exec setpriv --reuid=nobody --regid="$group" --clear-groups \
        "$WORK/bin/nimvara" -F -p pass cmds
) >/dev/null 2>"$WORK/err" &
BATCH=$!
NESTED=
GPG=
tries=0
while [ "$tries" -lt 200 ]; do
    NESTED=$(child_of "$BATCH")
    [ -n "$NESTED" ] && [ "$(name_of "$NESTED")" = nimvara ] && GPG=$(child_of "$NESTED")
    [ -n "$GPG" ] && [ "$(name_of "$GPG")" = sleep ] && break
    GPG=
    sleep 0.05
    tries=$((tries + 1))
done
[ -n "$GPG" ] || {
    echo "FAIL: the batch did not start its line: $(cat "$WORK/err")"
    exit 1
}

# Attaching as a debugger.
for p in "$BATCH" "$NESTED"; do
    result=$(as_nobody "$WORK/bin/ptrace_probe" "$p")
    [ "$result" = "Operation not permitted" ] || fail "attaching to nimvara $p: $result"
done
result=$(as_nobody "$WORK/bin/ptrace_probe" "$GPG")
[ "$result" = attached ] || fail "attaching to the started program: $result"

# The core-size limit: 0 in the wrappers, the original one in the program.
core_limit() { awk '/^Max core file size/ { print $5, $6 }' "/proc/$1/limits"; }
for p in "$BATCH" "$NESTED"; do
    [ "$(core_limit "$p")" = "0 unlimited" ] || fail "core limit of nimvara $p: $(core_limit "$p")"
done
[ "$(core_limit "$GPG")" = "unlimited unlimited" ] ||
    fail "core limit of the started program: $(core_limit "$GPG")"

# The environment and the memory through /proc.
for p in "$BATCH" "$NESTED"; do
    as_nobody cat "/proc/$p/environ" >/dev/null 2>&1 && fail "nimvara $p: environ is readable"
    as_nobody sh -c "exec 3</proc/$p/mem" 2>/dev/null && fail "nimvara $p: mem can be opened"
done
as_nobody cat "/proc/$GPG/environ" >/dev/null 2>&1 || fail "the started program's environ is not readable"
as_nobody sh -c "exec 3</proc/$GPG/mem" 2>/dev/null || fail "the started program's mem cannot be opened"

# Core files: none of the wrappers, ended by SIGABRT (a background job
# ignores SIGQUIT); the orphaned program
# then shows that this system does write them.
kill -ABRT "$NESTED" "$BATCH"
wait "$BATCH" 2>/dev/null
tries=0
while [ -d "/proc/$NESTED" ] && [ "$tries" -lt 100 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
sleep 0.2
ls core* >/dev/null 2>&1 && fail "nimvara left a core file: $(ls core*)"
rm -f core*
kill -ABRT "$GPG"
tries=0
while ! ls core* >/dev/null 2>&1 && [ "$tries" -lt 100 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
if ! ls core* >/dev/null 2>&1; then
    [ "$failures" -eq 0 ] || exit 1
    skip "this system wrote no core file even for the started program; the other checks passed"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed"
