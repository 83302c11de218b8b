#!/bin/bash
# Failure sweep of korvalinde-html: every call it makes to the functions of
# fault_preload.c fails once, in turn, on the output of korvalinde for a
# small generated key list.
#
#   html_sweep.sh PRELOAD KORVALINDE_HTML KORVALINDE KEYGEN REPORT_DIR [JOB...]
#
# Jobs: inplace (out/index.html, over an existing page) and elsewhere (-o
# page.html beside the directory, -n 5 and a title, where no page was
# before; only the calls on files and descriptors, since the allocations
# take the paths inplace already takes). A failed run must leave the old
# page (or no page) and no temporary file; a run that reports success must
# have written the same page as the clean run.
PRELOAD=$1 HTML=$2 KORVALINDE=$3 KEYGEN=$4 REPORT_DIR=$5
shift 5
. "$(dirname "$0")/sweep_lib.sh"
skip_if_sanitized "$HTML"

FAULT_TARGET=korvalinde-html
"$KEYGEN" -n 30 -s 3 -o "$SWEEP_WORK/keys" || exit 2
"$KORVALINDE" -j 1 -o "$SWEEP_WORK/analysed" "$SWEEP_WORK/keys" >/dev/null || exit 2
printf '<p>old page</p>\n' >"$SWEEP_WORK/old-page"
# Every name in a directory and one level below, hidden ones included, with
# shell globbing only: this runs after each of some hundreds of runs.
shopt -s dotglob nullglob
names() { (cd "$1" && printf '%s\n' * */*); }
analysed_names=$(names "$SWEEP_WORK/analysed")

job_prepare() {
    cp -R "$SWEEP_WORK/analysed" out
    [ -z "$OLD_PAGE" ] || cp "$SWEEP_WORK/old-page" "$OLD_PAGE"
}
job_outputs() {
    cat "$PAGE" keys/*.html out/keys/*.html search.js out/search.js index/*/*.js out/index/*/*.js 2>/dev/null
}
job_failed() {
    if [ -n "$OLD_PAGE" ]; then
        if ! cmp -s "$PAGE" "$SWEEP_WORK/old-page"; then
            echo "the failed run changed $PAGE"
            return 1
        fi
    elif [ -e "$PAGE" ]; then
        echo "the failed run left $PAGE"
        return 1
    fi
    # Key pages written before the failure are whole (each is renamed into
    # place when complete) and stay; their temporary files may not.
    for keys in out/keys keys; do
        [ -d "$keys" ] || continue
        (cd "$keys" && rm -f -- [0-9A-F]*.html)
        rmdir "$keys" 2>/dev/null
    done
    # So are the search script and index files, each whole.
    for dir in out .; do
        rm -f "$dir"/search.js "$dir"/index/ids/[0-9A-F][0-9A-F].js "$dir"/index/names/[0-9a-f]*.js
        rmdir "$dir"/index/ids "$dir"/index/names "$dir"/index 2>/dev/null
    done
    # Nothing else may have appeared, in the directory or beside it.
    rm -f out/index.html
    if [ "$(names out)" != "$analysed_names" ]; then
        echo "the failed run left other files in out: $(names out | grep -v -x -F "$analysed_names")"
        return 1
    fi
    for f in *; do
        case $f in
        out | "$PAGE" | run.*) ;;
        *)
            echo "the failed run left $f"
            return 1
            ;;
        esac
    done
    return 0
}

for job in "${@:-inplace elsewhere}"; do
    for one in $job; do
        case $one in
        inplace)
            # -m 3: each key page's calls repeat the first ones.
            JOB_CMD=("$HTML" -n 3 -m 3 out)
            PAGE=out/index.html OLD_PAGE=out/index.html
            # Past the first hundred, the allocations are the page's text
            # growing as it is written, every one on the same path.
            SWEEP_STRIDE=malloc=4
            ;;
        elsewhere)
            JOB_CMD=("$HTML" -n 2 -m 2 -t "Sweep <keys> & more" -o page.html out)
            PAGE=page.html OLD_PAGE=
            # Only the page's path and length differ from inplace.
            SWEEP_ONLY="open|read|write|close"
            ;;
        *)
            echo "unknown job $one" >&2
            exit 2
            ;;
        esac
        sweep_job "korvalinde-html-$one"
        SWEEP_ONLY= SWEEP_STRIDE=
    done
done
sweep_finish
