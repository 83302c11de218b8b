#!/bin/bash
# Failure sweep of korvalinde-keylist: every call it makes to the functions
# of fault_preload.c fails once, in turn, on a small hand-written listing.
#
#   keylist_sweep.sh PRELOAD KORVALINDE_KEYLIST REPORT_DIR [JOB...]
#
# Jobs: file (the listing from a file, the key list to -o over an existing
# file) and pipe (standard input to standard output). A failed -o run must
# leave the old key list untouched and no temporary file beside it; a run
# that reports success must have written the same key list as the clean run.
PRELOAD=$1 KEYLIST=$2 REPORT_DIR=$3
shift 3
. "$(dirname "$0")/sweep_lib.sh"
skip_if_sanitized "$KEYLIST"

FAULT_TARGET=korvalinde-keylist

# Four keys: certifications between them, a self-signature, a revoked
# certification, a bad signature and a revoked key, so that every kind of
# record the parser keeps or drops is met.
A=AAAA00000000000A B=BBBB00000000000B C=CCCC00000000000C D=DDDD00000000000D
cat >"$SWEEP_WORK/listing" <<LISTING
tru::1:1:0:3:1:5
pub:-:255:22:$A:1::::::scSC:
uid:-::::1::H::a:
sig:::22:$A:1::::a:13x:
sig:::22:$B:2::::b:10x:
sig:::22:$C:3::::c:12x:
sub:-:255:18:A0A0A0A0A0A0A0A0:1::::::e:
sig:::22:$A:1::::a:18x:
pub:-:255:22:$B:1::::::scSC:
uid:-::::1::H::b:
sig:::22:$B:1::::b:13x:
sig:::22:$A:2::::a:10x:
sig:::22:$D:3::::d:10x:
rev:::22:$D:4::::d:30x:
sig:-::22:$C:5::::c:10x:
pub:-:255:22:$C:1::::::scSC:
uid:-::::1::H::c:
sig:::22:$C:1::::c:13x:
sig:::22:$A:2::::a:11x:
sig:::22:$B:2::::b:11x:
pub:r:255:22:$D:1::::::scSC:
uid:r::::1::H::d:
sig:::22:$D:1::::d:13x:
sig:::22:$A:2::::a:10x:
LISTING
printf 'old key list\n' >"$SWEEP_WORK/old"

job_prepare() { cp "$SWEEP_WORK/old" out.keys; }
job_outputs() { cat out.keys; }
job_failed() {
    if ! cmp -s out.keys "$SWEEP_WORK/old"; then
        echo "the failed run changed out.keys"
        return 1
    fi
    extra=$(ls -A | grep -v -x -e out.keys -e 'run\..*')
    if [ -n "$extra" ]; then
        echo "the failed run left $extra"
        return 1
    fi
    return 0
}

for job in "${@:-file pipe}"; do
    for one in $job; do
        case $one in
        file)
            JOB_CMD=("$KEYLIST" -o out.keys "$SWEEP_WORK/listing")
            JOB_STDIN=
            ;;
        pipe)
            JOB_CMD=("$KEYLIST")
            JOB_STDIN=$SWEEP_WORK/listing
            ;;
        *)
            echo "unknown job $one" >&2
            exit 2
            ;;
        esac
        sweep_job "korvalinde-keylist-$one"
    done
done
sweep_finish
