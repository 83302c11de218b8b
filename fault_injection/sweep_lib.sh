# Shared part of the failure sweeps; sourced by nimvara_sweep.sh and
# korvalinde_sweep.sh.
#
# A job is a small realistic run of a program. The sweep runs it once clean,
# counting every call of each function family (see fault_preload.c), then
# once for every family, every N from 1 to its count and every error that
# the family can realistically give, with the Nth call failing. Each
# injected run must be handled:
#   - it ends by itself (no hang: ten seconds at most), not by a signal;
#   - EINTR is an interruption only: status, standard output, standard error
#     and every output equal the clean run's;
#   - otherwise it either fails visibly (a non-zero status and a message on
#     standard error, plus the job's own checks of what it left behind) or
#     succeeds with every output equal to the clean run's (the failure was
#     absorbed, for example an allocation whose failure the C library
#     handles itself).
#
# A job script defines, before calling sweep_job NAME:
#   JOB_CMD      array: the command to run, in the run directory
#   JOB_STDIN    file given as standard input (default /dev/null)
#   job_prepare  function, called in a fresh run directory before each run
#   job_outputs  function, called in a run directory after the run: prints
#                what the run produced beyond stdout and stderr (compared
#                with the clean run's)
#   job_failed   function, called in the run directory of a failed run:
#                prints a reason and returns 1 if it left something wrong
# and may set SWEEP_ONLY to the families to fail, as "open|mkdir", and
# SWEEP_STRIDE to fail only every Kth call of one family (and its last), as
# "malloc=4", where that family makes hundreds of calls that all take the
# same path. SWEEP_FULL=1 in the environment ignores SWEEP_STRIDE.

[ -n "$PRELOAD" ] && [ -f "$PRELOAD" ] || { echo "sweep: no preload library" >&2; exit 2; }
[ -n "$REPORT_DIR" ] || { echo "sweep: no report directory" >&2; exit 2; }

# Hundreds of runs each create and remove a few dozen files: in memory when
# the system offers a writable tmpfs and TMPDIR does not say otherwise.
scratch=${TMPDIR:-/tmp}
[ -z "$TMPDIR" ] && [ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
SWEEP_WORK=$(mktemp -d "$scratch/fault-sweep.XXXXXX") || exit 2
trap 'rm -rf "$SWEEP_WORK"' EXIT
sweep_failures=0

# The errors to inject per family: ERRNO@all (every N), ERRNO@ends (the first
# and the last N only: the code path does not depend on the error number, the
# message does).
errors_for() {
    case $1 in
    open) echo "EMFILE@all ENOENT@ends EACCES@ends" ;;
    read) echo "EIO@all EINTR@all" ;;
    write) echo "ENOSPC@all EINTR@all EIO@ends" ;;
    close) echo "EIO@all" ;;
    pipe) echo "EMFILE@all ENOMEM@ends" ;;
    fork) echo "EAGAIN@all ENOMEM@ends" ;;
    waitpid) echo "EINTR@all" ;;
    dup2) echo "EMFILE@all" ;;
    mkdir) echo "EACCES@all ENOSPC@ends" ;;
    fopen) echo "EMFILE@all ENOENT@ends EACCES@ends" ;;
    fflush | fclose | fwrite | fputs | fputc | fprintf | vfprintf) echo "ENOSPC@all EIO@ends" ;;
    fread) echo "EIO@all" ;;
    malloc | mmap | putenv) echo "ENOMEM@all" ;;
    pthread_create) echo "EAGAIN@all" ;;
    exec) echo "ENOENT@all E2BIG@ends EACCES@ends" ;;
    tcgetattr) echo "EIO@all" ;;
    # A failing terminal (EIO) cannot have its echo restored; an
    # interrupted change must be made again.
    tcsetattr) echo "EINTR@all" ;;
    *) echo "EIO@all" ;;
    esac
}

# run_job DIR [fault settings...]: runs the job in DIR, leaving run.out,
# run.err, run.status (and run.fired, the injections that happened) there.
run_job() {
    dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir"
    (
        cd "$dir" || exit 2
        job_prepare
        export LD_PRELOAD="$PRELOAD" FAULT_TARGET="$FAULT_TARGET" "$@"
        timeout -k 2 10 "${JOB_CMD[@]}" <"${JOB_STDIN:-/dev/null}" >run.out 2>run.err
        echo $? >run.status
    ) 2>/dev/null # the shell's own notes on a killed command; run.status has it
}

# Everything a run produced, as one text.
job_result() {
    (
        cd "$1" || exit 2
        echo "status $(cat run.status)"
        echo "--- stdout"
        cat run.out
        echo "--- outputs"
        job_outputs
    )
}

# sweep_job NAME: the whole sweep of one job; the report goes to
# REPORT_DIR/NAME-sweep.txt.
sweep_job() {
    name=$1
    report="$REPORT_DIR/$name-sweep.txt"
    clean="$SWEEP_WORK/$name-clean"
    run_job "$clean" FAULT_COUNT_FILE="$SWEEP_WORK/$name-counts"
    if [ "$(cat "$clean/run.status")" != 0 ] || [ -s "$clean/run.err" ]; then
        echo "FAIL [$name]: the clean run failed: $(cat "$clean/run.status") $(head -c 500 "$clean/run.err")"
        sweep_failures=$((sweep_failures + 1))
        return
    fi
    job_result "$clean" >"$SWEEP_WORK/$name-clean-result"
    # The highest count per family over every process of the job.
    awk '{ if ($3 > max[$2]) max[$2] = $3 } END { for (f in max) print f, max[f] }' \
        "$SWEEP_WORK/$name-counts" | sort >"$SWEEP_WORK/$name-max"
    if [ -n "$SWEEP_ONLY" ]; then
        grep -E "^($SWEEP_ONLY) " "$SWEEP_WORK/$name-max" >"$SWEEP_WORK/$name-only"
        mv "$SWEEP_WORK/$name-only" "$SWEEP_WORK/$name-max"
    fi

    runs=0 failed=0 absorbed=0 retried=0 problems=0
    {
        echo "Failure sweep of job '$name': ${JOB_CMD[*]}"
        echo "Calls per function in the clean run (highest count over its processes):"
        sed 's/^/  /' "$SWEEP_WORK/$name-max"
        echo "Injected runs (function, N, error: outcome):"
    } >"$report"
    stride_family= stride=1
    if [ -n "$SWEEP_STRIDE" ] && [ -z "$SWEEP_FULL" ]; then
        stride_family=${SWEEP_STRIDE%=*}
        stride=${SWEEP_STRIDE#*=}
        echo "Only every ${stride}th call of $stride_family and its last (SWEEP_FULL=1: all)" >>"$report"
    fi
    run="$SWEEP_WORK/$name-run"
    while read -r family count; do
        for spec in $(errors_for "$family"); do
            error=${spec%@*}
            which=${spec#*@}
            n=1
            while [ "$n" -le "$count" ]; do
                if [ "$which" = ends ] && [ "$n" -ne 1 ] && [ "$n" -ne "$count" ]; then
                    n=$((n + 1))
                    continue
                fi
                if [ "$family" = "$stride_family" ] && [ $(((n - 1) % stride)) -ne 0 ] &&
                    [ "$n" -ne "$count" ]; then
                    n=$((n + 1))
                    continue
                fi
                run_job "$run" FAULT_CALL="$family" FAULT_NTH="$n" FAULT_ERRNO="$error" \
                    FAULT_FIRED_FILE="$run/run.fired"
                runs=$((runs + 1))
                outcome=$(judge_run "$run" "$error")
                verdict=$?
                case $verdict in
                0) failed=$((failed + 1)) ;;
                1) absorbed=$((absorbed + 1)) ;;
                2) retried=$((retried + 1)) ;;
                *)
                    problems=$((problems + 1))
                    echo "FAIL [$name]: $family #$n $error: $outcome"
                    ;;
                esac
                echo "  $family #$n $error: $outcome" >>"$report"
                n=$((n + 1))
            done
        done
    done <"$SWEEP_WORK/$name-max"
    summary="$name: $runs injected runs, $failed failed visibly, $absorbed absorbed, $retried retried after EINTR"
    if [ "$problems" -eq 0 ]; then
        summary="$summary: every injected call handled"
    else
        summary="$summary: $problems NOT handled"
        sweep_failures=$((sweep_failures + problems))
    fi
    echo "$summary" >>"$report"
    echo "$summary (report: $report)"
}

# judge_run DIR ERROR: prints the outcome; returns 0 for a visible failure, 1
# for an absorbed one, 2 for a retried interruption, 3 for a problem.
judge_run() {
    dir=$1
    read -r status <"$dir/run.status"
    if [ ! -s "$dir/run.fired" ]; then
        echo "the injected failure never happened (status $status)"
        return 3
    fi
    case $status in
    124 | 137)
        echo "hung (killed after ten seconds)"
        return 3
        ;;
    125)
        echo "terminal left without echo: $(head -c 300 "$dir/run.err")"
        return 3
        ;;
    esac
    if [ "$status" -gt 128 ]; then
        echo "killed by signal $((status - 128)): $(head -c 300 "$dir/run.err")"
        return 3
    fi
    if [ "$2" = EINTR ]; then
        if ! job_result "$dir" | cmp -s - "$SWEEP_WORK/$name-clean-result" ||
            ! cmp -s "$dir/run.err" "$SWEEP_WORK/$name-clean/run.err"; then
            echo "an interruption changed the run: status $status, $(head -c 300 "$dir/run.err")"
            return 3
        fi
        echo "retried, same results as the clean run"
        return 2
    fi
    if [ "$status" -eq 0 ]; then
        if ! job_result "$dir" | cmp -s - "$SWEEP_WORK/$name-clean-result"; then
            echo "reported success, but the results differ from the clean run"
            return 3
        fi
        echo "absorbed, same results as the clean run"
        return 1
    fi
    if [ ! -s "$dir/run.err" ]; then
        echo "status $status without a message"
        return 3
    fi
    if ! reason=$(cd "$dir" && job_failed); then
        echo "status $status, but $reason"
        return 3
    fi
    read -r message <"$dir/run.err"
    echo "status $status: $message"
    return 0
}

sweep_finish() {
    [ "$sweep_failures" -eq 0 ] || exit 1
    exit 0
}

# Instrumented builds load their sanitizer runtime first; a preload library
# cannot be put in front of it.
skip_if_sanitized() {
    if nm -D "$1" 2>/dev/null | grep -q '__asan_init\|__tsan_init'; then
        echo "skipped: $1 is built with a sanitizer, which must be loaded first"
        exit 77
    fi
}
