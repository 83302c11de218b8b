#!/bin/bash
# Failure sweep of korvalinde: every call it makes to the functions of
# fault_preload.c fails once, in turn, on a small generated key list.
#
#   korvalinde_sweep.sh PRELOAD KORVALINDE KEYGEN REPORT_DIR [JOB...]
#
# Jobs: subdirs (reports in two-character subdirectories), flat (-1, only
# the calls that depend on the report paths), and
# threads (-j 2, where only thread creation is failed: the order of the
# other calls depends on the scheduling), and terminal (standard error on a
# pseudo-terminal from script(1), so that the progress display runs; only
# allocations are failed, as they are what can end a phase early). A failed run may leave "other.txt"
# with its average line only when every summary file is complete; when the
# analysis itself finished, every report but the one that failed must be
# there, as in the clean run.
PRELOAD=$1 KORVALINDE=$2 KEYGEN=$3 REPORT_DIR=$4
shift 4
. "$(dirname "$0")/sweep_lib.sh"
skip_if_sanitized "$KORVALINDE"

FAULT_TARGET=korvalinde
"$KEYGEN" -n 30 -s 3 -o "$SWEEP_WORK/keys" || exit 2

job_prepare() { :; }
# Every file under out/ with its content, by path (lines of a file in order).
job_outputs() {
    [ -d out ] || return 0
    grep -r '' out | LC_ALL=C sort -s -t: -k1,1
}
# The average line in other.txt stands for complete summary files; a failed
# report (named on standard error) does not withdraw it, but no failure may
# cost more than one report.
job_failed() {
    if [ -s out/other.txt ]; then
        for f in status.txt msd.txt othersets.txt other.txt; do
            if ! cmp -s "out/$f" "$clean/out/$f"; then
                echo "other.txt has its average line, but $f is not complete"
                return 1
            fi
        done
    fi
    # Out of memory, the run stops where it is.
    if cmp -s out/msd.txt "$clean/out/msd.txt" && ! grep -q 'out of memory' run.err; then
        lost=$(diff -rq "$clean/out" out | grep -vc '\.txt')
        if [ "$lost" -gt 1 ]; then
            echo "$lost reports were lost for one failure"
            return 1
        fi
    fi
    return 0
}

for job in "${@:-subdirs flat threads}"; do
    for one in $job; do
        case $one in
        subdirs) JOB_CMD=("$KORVALINDE" -j 1 -o out "$SWEEP_WORK/keys") ;;
        flat)
            # The same code as with subdirectories but for the report paths.
            JOB_CMD=("$KORVALINDE" -j 1 -1 -o out "$SWEEP_WORK/keys")
            SWEEP_ONLY="open|mkdir|write"
            ;;
        threads)
            JOB_CMD=("$KORVALINDE" -j 2 -o out "$SWEEP_WORK/keys")
            SWEEP_ONLY=pthread_create
            ;;
        terminal)
            if ! command -v script >/dev/null; then
                echo "SKIP [korvalinde-terminal]: no script(1) (Debian package bsdutils)"
                continue
            fi
            # What the terminal shows comes back as standard error.
            JOB_CMD=(sh -c 'script -qec "$1" /dev/null >&2' sh
                "'$KORVALINDE' -j 1 -o out '$SWEEP_WORK/keys'")
            SWEEP_ONLY="mmap|malloc"
            SWEEP_STRIDE="malloc=8"
            ;;
        *)
            echo "unknown job $one" >&2
            exit 2
            ;;
        esac
        sweep_job "korvalinde-$one"
        SWEEP_ONLY=
    done
done
sweep_finish
