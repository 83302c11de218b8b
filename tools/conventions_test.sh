#!/bin/sh
# The command-line conventions every program keeps (docs/DEVELOPING.md,
# "Conventions of the korvalinde programs"), one black-box run per behaviour:
# help on standard output with status 0, the version line, a usage error
# naming the option with status 2, and the out-of-memory line with status 1.
# nimvara and korvalinde are checked for their own fixed texts.
# usage: conventions_test.sh VERSION NIMVARA KORVALINDE KORVALINDE_KEYLIST
#            KORVALINDE_HTML KORVALINDE_PATH KEYGEN PGPGEN SHAPEGEN SAMPLE_KEYS
#            KORVALINDE_SERVE
set -u
version=$1 nimvara=$2 korvalinde=$3 keylist=$4 html=$5 path=$6 keygen=$7 pgpgen=$8
shapegen=$9
shift 9
sample=$1
serve=$2
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run PROGRAM ARGS...: output in $work/out and $work/err, status in $status.
run() {
    "$@" >"$work/out" 2>"$work/err" </dev/null
    status=$?
}

# check WHAT STATUS OUT ERR: the last run's status, standard output and
# standard error were exactly these ("*" for OUT: anything but nothing).
check() {
    [ "$status" = "$2" ] || fail "$1: status $status, not $2"
    if [ "$3" = "*" ]; then
        [ -s "$work/out" ] || fail "$1: nothing on standard output"
    else
        printf '%s' "$3" | cmp -s - "$work/out" || fail "$1: standard output '$(cat "$work/out")'"
    fi
    printf '%s' "$4" | cmp -s - "$work/err" || fail "$1: standard error '$(cat "$work/err")'"
}

# Under a sanitizer the address-space limit below cannot be met.
limited=yes
if ldd "$path" | grep -q 'lib[at]san'; then limited=no; fi

# out_of_memory KIB NAME PROGRAM ARGS...: run with KIB KiB of address space
# on a task needing more; the one line and status 1, no core dump.
out_of_memory() {
    limit=$1
    name=$2
    shift 2
    [ "$limited" = yes ] || return 0
    (ulimit -v "$limit" && ulimit -c 0 && exec "$@") >/dev/null 2>"$work/err" </dev/null
    status=$?
    [ "$status" = 1 ] || fail "$name out of memory: status $status"
    printf '%s: out of memory\n' "$name" | cmp -s - "$work/err" ||
        fail "$name out of memory: standard error '$(cat "$work/err")'"
}

"$korvalinde" -o "$work/run" "$sample" 2>/dev/null || fail "korvalinde on the sample"
a=$(grep '^p' "$sample" | cut -c2-17 | sed -n 1p)
b=$(grep '^p' "$sample" | cut -c2-17 | sed -n 2p)
# A gpg listing of 300,000 keys, each signed by the next: some 30 MB.
awk 'BEGIN { for (i = 1; i <= 300000; i++)
    printf "pub:-:255:22:%016X:1::::::scSC:\nuid:-::::1::H::a:\nsig:::22:%016X:1::::a:10x:\n", i, i + 1 }' \
    >"$work/listing"

# The programs that follow the conventions: name, program, a bad value.
for entry in "korvalinde-keylist|$keylist|-j 0" "korvalinde-html|$html|-n x" \
    "korvalinde-path|$path|-k 0" "keygen|$keygen|--reciprocal 2" \
    "pgpgen|$pgpgen|--forged 1.5" "shapegen|$shapegen|ring x" "korvalinde-serve|$serve|-j 0"; do
    name=${entry%%|*}
    rest=${entry#*|}
    program=${rest%%|*}
    bad=${rest#*|}
    try="Try '$name --help'."
    run "$program" --help
    check "$name --help" 0 "*" ""
    mv "$work/out" "$work/help"
    run "$program" -h
    [ "$status" = 0 ] && cmp -s "$work/help" "$work/out" || fail "$name -h: not the --help text"
    run "$program" --version
    check "$name --version" 0 "$name $version
" ""
    run "$program" --no-such-option
    check "$name --no-such-option" 2 "" "$name: unknown option '--no-such-option'
$try
"
    run "$program" -Q
    check "$name -Q" 2 "" "$name: unknown option '-Q'
$try
"
    # shellcheck disable=SC2086 # the words are meant to be split
    run "$program" $bad
    [ "$status" = 2 ] || fail "$name $bad: status $status"
    value=${bad##* }
    grep -qx "$name: invalid value '$value' for ${bad% *} (.*)" "$work/err" &&
        [ "$(sed -n 2p "$work/err")" = "$try" ] || fail "$name $bad: '$(cat "$work/err")'"
done

# A names file without an end, through a FIFO: distinct, well-formed lines
# that outgrow any memory (a line longer than a names line may be is cut, so
# one endless line would not do). The writer dies of SIGPIPE when the
# program ends.
mkfifo "$work/names"
# Started only when a reader follows: a writer whose open never completes
# would hold this script's output open and keep the test from ending. Its own
# descriptors are closed first for the same reason.
endless_names() {
    [ "$limited" = yes ] || return 0
    (
        exec >/dev/null 2>&1 </dev/null
        awk 'BEGIN { for (i = 1; ; i++) printf "%016X\tname %d\n", i, i }' >"$work/names"
    ) &
}
out_of_memory 25000 korvalinde-keylist "$keylist" -j 1 "$work/listing"
endless_names
out_of_memory 200000 korvalinde-html "$html" -N "$work/names" -o "$work/page.html" "$work/run"
endless_names
out_of_memory 200000 korvalinde-path "$path" -i "$sample" -N "$work/names" "$a" "$b"
# korvalinde-serve keeps only the names of keys in its list, so an endless
# names file would be read forever: an endless key list instead.
mkfifo "$work/keys"
(
    exec >/dev/null 2>&1 </dev/null
    [ "$limited" = yes ] || exit 0
    awk 'BEGIN { for (i = 1; ; i++) printf "p%016X\ns%016X\n", i, i + 1 }' >"$work/keys"
) &
out_of_memory 200000 korvalinde-serve "$serve" -i "$work/keys" -l 127.0.0.1:0
out_of_memory 200000 keygen "$keygen" -n 2000000000
out_of_memory 200000 pgpgen "$pgpgen" -n 2000000000
out_of_memory 200000 shapegen "$shapegen" ring 50000000

# korvalinde -h: the fixed usage line first, its extensions on the lines after.
run "$korvalinde" -h
check "korvalinde -h" 0 "*" ""
[ "$(head -n 1 "$work/out")" = "Usage: $korvalinde [-h1] [-i infile] [-o outdir]" ] &&
    grep -q -- '-j N' "$work/out" || fail "korvalinde -h: '$(cat "$work/out")'"
# nimvara: its version line and status 1 for an unknown option.
run "$nimvara" -V
check "nimvara -V" 0 "nimvara 0.04-20060904
" ""
run "$nimvara" -h
check "nimvara -h" 0 "*" ""
run "$nimvara" -Q
check "nimvara -Q" 1 "" "nimvara: unrecognized option '-Q'
"

[ "$failures" = 0 ] || exit 1
echo "every program keeps the conventions"
