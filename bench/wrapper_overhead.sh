#!/bin/sh
# Per-command cost of nimvara over running a no-op command directly.
#   bench/wrapper_overhead.sh [BUILD_DIR] [COUNT] [ROUNDS]
# BUILD_DIR (default: build) must hold a built wrapper/nimvara and
# wrapper/fake_gpg (the no-op stand-in: it only drains the passphrase
# descriptor). Each way of running is measured over COUNT (default 2000)
# commands, split into ROUNDS (default 50) rounds that alternate between the
# ways, and the fastest round counts: on a shared machine the others mostly
# measure the neighbours. Many short rounds give every way its chance at a
# quiet moment; with 5 rounds of 200 the fastest round of two ways at the
# floor differed by up to a factor of 2. The ways: directly; through env, which adds one
# exec and nothing else (no wrapper that executes the command can cost less);
# wrap mode with the passphrase file handed over; wrap mode with the pipe;
# the pipe floor (build/bench/pipe_floor: read, pipe, fork, exec, write,
# wait and nothing else, the least a wrapper that feeds a pipe can cost);
# "sh -c exec" (the shell start batch mode pays per line); "sh -c exec
# nimvara" with the passphrase in the variable (what each batch line does,
# started from a shell loop instead); and batch mode with a command file of
# one line per command. Prints microseconds per command, and the pipe path's
# overhead over the floor's.
#   COMPARE_NIMVARA=PATH  also measures the pipe path of another nimvara
#                         build in the same rounds (before and after a change).
set -eu
BUILD=${1:-build}
COUNT=${2:-2000}
ROUNDS=${3:-50}
NIMVARA=$(cd "$BUILD/wrapper" && pwd)/nimvara
NOOP=$(cd "$BUILD/wrapper" && pwd)/fake_gpg
FLOOR=$(cd "$BUILD/bench" && pwd)/pipe_floor
[ -x "$NIMVARA" ] && [ -x "$NOOP" ] && [ -x "$FLOOR" ] || { echo "build $BUILD first" >&2; exit 2; }
OTHER=${COMPARE_NIMVARA:-}
unset FAKE_GPG_RECORD NIMVARA_PASSPHRASE FAKE_GPG_EXIT FAKE_GPG_SIGNAL
PER_ROUND=$((COUNT / ROUNDS))

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
printf 'bench passphrase' >"$WORK/pass"
i=0
while [ $i -lt "$PER_ROUND" ]; do echo "$NOOP"; i=$((i + 1)); done >"$WORK/cmds"

now() { date +%s%N; }
repeat() {
    i=0
    while [ $i -lt "$PER_ROUND" ]; do "$@"; i=$((i + 1)); done
}

run_way() {
    case $1 in
    direct) repeat "$NOOP" --passphrase-fd 0 </dev/null ;;
    env) repeat env "$NOOP" --passphrase-fd 0 </dev/null ;;
    file) repeat "$NIMVARA" -p "$WORK/pass" "$NOOP" ;;
    pipe) repeat "$NIMVARA" -p - "$NOOP" <"$WORK/pass" ;;
    floor) repeat "$FLOOR" "$NOOP" <"$WORK/pass" ;;
    other) repeat "$OTHER" -p - "$NOOP" <"$WORK/pass" ;;
    shell) repeat sh -c "exec $NOOP --passphrase-fd 0" </dev/null ;;
    shellwrap) NIMVARA_PASSPHRASE=bench repeat sh -c "exec $NIMVARA -o --passphrase-fd -- $NOOP" </dev/null ;;
    batch) "$NIMVARA" -F -c -p "$WORK/pass" "$WORK/cmds" ;;
    esac
}

WAYS="direct env file pipe floor shell shellwrap batch"
[ -n "$OTHER" ] && WAYS="$WAYS other"
for way in $WAYS; do eval "best_$way=999999999"; done
round=0
while [ $round -lt "$ROUNDS" ]; do
    for way in $WAYS; do
        t0=$(now)
        run_way "$way"
        t1=$(now)
        us=$((((t1 - t0) / 1000) / PER_ROUND))
        eval "[ $us -lt \$best_$way ] && best_$way=$us" || true
    done
    round=$((round + 1))
done

over() { echo $(($1 - best_direct)); }
echo "commands per way: $COUNT ($ROUNDS rounds of $PER_ROUND, fastest round shown)"
echo "direct:                      ${best_direct} us/command"
echo "env, one more exec (floor):  ${best_env} us/command, overhead $(over "$best_env") us"
echo "wrap, passphrase file:       ${best_file} us/command, overhead $(over "$best_file") us"
echo "wrap, pipe:                  ${best_pipe} us/command, overhead $(over "$best_pipe") us"
echo "pipe floor (C, fork):        ${best_floor} us/command, overhead $(over "$best_floor") us"
[ -n "$OTHER" ] &&
    echo "wrap, pipe, $OTHER: ${best_other} us/command, overhead $(over "$best_other") us"
echo "sh -c exec (shell start):    ${best_shell} us/command, overhead $(over "$best_shell") us"
echo "sh -c exec nimvara:          ${best_shellwrap} us/command, overhead $(over "$best_shellwrap") us"
echo "batch, per line:             ${best_batch} us/command, overhead $(over "$best_batch") us"
echo "batch line vs shell start + one wrap: ${best_batch} us vs $(($(over "$best_shell") + best_pipe)) us"
ratio() { awk -v a="$(over "$1")" -v b="$(over "$best_floor")" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
echo "pipe path over the floor (overheads): $(ratio "$best_pipe")x"
[ -n "$OTHER" ] && echo "other build's pipe path over the floor: $(ratio "$best_other")x"
exit 0
