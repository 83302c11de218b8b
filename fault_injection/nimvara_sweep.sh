#!/bin/bash
# Failure sweep of nimvara: every call it makes to the functions of
# fault_preload.c fails once, in turn, in four jobs.
#
#   nimvara_sweep.sh PRELOAD NIMVARA FAKE_GPG PTY_RUN REPORT_DIR [JOB...]
#
# Jobs: file (-p FILE, gpg reads the file itself), stdin (-p -, fed through
# a pipe), batch (-F -c with a three-line command file), prompt (asked twice
# on a pseudo-terminal, whose echo must be on again afterwards). The
# stand-in gpg is the program started; what it received (words, descriptors,
# passphrase) is compared with the clean run's.
PRELOAD=$1 NIMVARA=$2 FAKE_GPG=$3 PTY_RUN=$4 REPORT_DIR=$5
shift 5
. "$(dirname "$0")/sweep_lib.sh"
skip_if_sanitized "$NIMVARA"

FAULT_TARGET=nimvara
mkdir "$SWEEP_WORK/bin"
ln -s "$FAKE_GPG" "$SWEEP_WORK/bin/gpg"
PATH="$SWEEP_WORK/bin:$PATH"
FAKE_GPG_RECORD=record # relative: every process runs in the run directory
export PATH FAKE_GPG_RECORD
unset NIMVARA_PASSPHRASE FAKE_GPG_EXIT FAKE_GPG_SIGNAL FAKE_GPG_OPTION FAKE_GPG_CHECK_STDIN
printf 'correct horse' >"$SWEEP_WORK/pass"

job_prepare() {
    cp "$SWEEP_WORK/pass" pass
    printf 'gpg -d one\ngpg --homedir /h -d two\ngpg -e three\n' >cmds
}
job_outputs() { cat record 2>/dev/null; }
job_failed() { return 0; }

for job in "${@:-file stdin batch prompt}"; do
    for one in $job; do
        JOB_STDIN=/dev/null
        case $one in
        file) JOB_CMD=("$NIMVARA" -p pass gpg -d notes.gpg) ;;
        stdin)
            JOB_CMD=("$NIMVARA" -p - gpg -d notes.gpg)
            JOB_STDIN="$SWEEP_WORK/pass"
            ;;
        batch) JOB_CMD=("$NIMVARA" -F -c -p pass cmds) ;;
        prompt) JOB_CMD=("$PTY_RUN" 'correct horse\ncorrect horse\n' "$NIMVARA" -a gpg -d notes.gpg) ;;
        *)
            echo "unknown job $one" >&2
            exit 2
            ;;
        esac
        sweep_job "nimvara-$one"
    done
done
sweep_finish
