#!/bin/sh
# Per-command cost of nimvara over running a no-op command directly.
#   bench/wrapper_overhead.sh [BUILD_DIR] [COUNT]
# BUILD_DIR (default: build) must hold a built wrapper/nimvara and
# wrapper/fake_gpg (the no-op stand-in: it only drains the passphrase
# descriptor). Runs COUNT (default 1000) commands: directly, through wrap mode
# with the passphrase file handed over, through wrap mode with the pipe, via
# "sh -c exec" (the shell start that batch mode pays per line), and as one
# COUNT-line batch file. For reference it also runs the command through env,
# which adds one exec and nothing else: no wrapper that executes the command
# can cost less. Prints microseconds per command.
set -eu
BUILD=${1:-build}
COUNT=${2:-1000}
NIMVARA=$(cd "$BUILD/wrapper" && pwd)/nimvara
NOOP=$(cd "$BUILD/wrapper" && pwd)/fake_gpg
[ -x "$NIMVARA" ] && [ -x "$NOOP" ] || { echo "build $BUILD first" >&2; exit 2; }
unset FAKE_GPG_RECORD NIMVARA_PASSPHRASE FAKE_GPG_EXIT FAKE_GPG_SIGNAL

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
printf 'bench passphrase' >"$WORK/pass"
i=0
while [ $i -lt "$COUNT" ]; do echo "$NOOP"; i=$((i + 1)); done >"$WORK/cmds"

now() { date +%s%N; }
# per_command START END: microseconds per command.
per_command() { echo $(((($2 - $1) / 1000) / COUNT)); }

repeat() {
    i=0
    while [ $i -lt "$COUNT" ]; do "$@"; i=$((i + 1)); done
}

t0=$(now); repeat "$NOOP" --passphrase-fd 0 </dev/null; t1=$(now)
direct=$(per_command "$t0" "$t1")
t0=$(now); repeat env "$NOOP" --passphrase-fd 0 </dev/null; t1=$(now)
one_exec=$(per_command "$t0" "$t1")
t0=$(now); repeat "$NIMVARA" -p "$WORK/pass" "$NOOP"; t1=$(now)
wrap_file=$(per_command "$t0" "$t1")
t0=$(now); repeat "$NIMVARA" -p - "$NOOP" <"$WORK/pass"; t1=$(now)
wrap_pipe=$(per_command "$t0" "$t1")
t0=$(now); repeat sh -c "exec $NOOP --passphrase-fd 0" </dev/null; t1=$(now)
shell=$(per_command "$t0" "$t1")
t0=$(now); "$NIMVARA" -F -c -p "$WORK/pass" "$WORK/cmds"; t1=$(now)
batch=$(per_command "$t0" "$t1")

echo "commands:                       $COUNT"
echo "direct:                         ${direct} us/command"
echo "env (one more exec, the floor): ${one_exec} us/command (overhead $((one_exec - direct)) us)"
echo "wrap, passphrase file:          ${wrap_file} us/command (overhead $((wrap_file - direct)) us)"
echo "wrap, pipe:                     ${wrap_pipe} us/command (overhead $((wrap_pipe - direct)) us)"
echo "sh -c exec (shell start):       ${shell} us/command (overhead $((shell - direct)) us)"
echo "batch file line:                ${batch} us/command (overhead $((batch - direct)) us)"
echo "batch line vs shell + one wrap: ${batch} us vs $((shell - direct + wrap_pipe)) us"
