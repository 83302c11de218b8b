#!/bin/sh
# Builds the libFuzzer programs with clang (in build-fuzz/) and runs each
# for SECONDS on a scratch copy of its seed corpus, two at a time (or
# FUZZ_PARALLEL at a time). Fails when
# any run ends in a crash, a failed check, a leak, a timeout, running out of
# memory or a sanitizer report, and prints which target and where the
# input that caused it was kept.
#
# Usage: fuzz/run.sh SECONDS [TARGET...]   (targets: mangle command_lines key_import keylist openpgp)
set -u

if [ $# -lt 1 ] || ! [ "$1" -gt 0 ] 2>/dev/null; then
    echo "usage: $0 SECONDS [TARGET...]" >&2
    exit 2
fi
seconds=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
all_targets="mangle command_lines key_import keylist openpgp"
targets=${*:-$all_targets}

for target in $targets; do
    case " $all_targets " in
    *" $target "*) ;;
    *) echo "$0: unknown target: $target" >&2; exit 2 ;;
    esac
done

mkdir -p "$build" || exit 1
cmake -S "$root" -B "$build" -G Ninja -DFUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWERROR=ON >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log" >&2
    echo "$0: configuring the fuzz build failed" >&2
    exit 1
}
ninja -C "$build" -j2 || { echo "$0: building the fuzz programs failed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-run.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
# Findings are kept outside the scratch directory so that they survive it.
findings=$build/findings
mkdir -p "$findings"

# Extra options per target: long command files need more than the default
# input length to reach the 64 KiB line limit through the run expansion.
options_for() {
    case $1 in
    command_lines) echo "-max_len=8192" ;;
    *) echo "" ;;
    esac
}

run_one() {
    target=$1
    mkdir -p "$work/$target"
    cp "$root/fuzz/corpus/$target/"* "$work/$target/"
    mkdir -p "$findings/$target"
    # shellcheck disable=SC2046 # the options are separate words
    "$build/fuzz/fuzz_$target" $(options_for "$target") -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$findings/$target/" "$work/$target" >"$work/$target.log" 2>&1
    echo $? >"$work/$target.status"
}

# FUZZ_PARALLEL targets at a time (default 2, one per core).
parallel=${FUZZ_PARALLEL:-2}
set -- $targets
while [ $# -gt 0 ]; do
    pids=
    n=0
    while [ $# -gt 0 ] && [ "$n" -lt "$parallel" ]; do
        run_one "$1" &
        pids="$pids $!"
        n=$((n + 1))
        shift
    done
    for pid in $pids; do
        wait "$pid"
    done
done

failed=0
for target in $targets; do
    status=$(cat "$work/$target.status")
    log=$work/$target.log
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    coverage=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1)
    if [ "$status" = 0 ] && ! grep -q -e 'ERROR: ' -e 'SUMMARY: ' -e 'runtime error' "$log"; then
        echo "fuzz_$target: ok, ${executions:-?} runs in ${seconds} s, ${coverage:-no coverage line}"
        continue
    fi
    failed=1
    kind=$(grep -o -m1 -e 'ERROR: libFuzzer: [a-z-]*' -e 'ERROR: AddressSanitizer: [a-z-]*' \
        -e 'ERROR: LeakSanitizer: [a-z ]*' -e 'runtime error' -e 'check failed: .*' "$log")
    echo "fuzz_$target: FAILED (exit status $status): ${kind:-see the log}"
    grep 'Test unit written to' "$log"
    echo "--- last lines of the log of fuzz_$target:"
    tail -40 "$log"
done
exit $failed
