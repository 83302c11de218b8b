#!/bin/sh
# Batch mode on the built binary: lines run in order through sh and a nested
# wrapper, one passphrase for all, and the faults of a command file.
. "$(dirname "$0")/blackbox_lib.sh"

printf 'secret' >pass # 736563726574

# The words each run of the stand-in saw, one run per line ("|" between words).
runs() { awk '/^argc/ { if (line != "") print line; line = "" }
              /^argv/ { sub(/^argv\[[0-9]+\] /, ""); line = line (line == "" ? "" : "|") $0 }
              END { if (line != "") print line }' record 2>/dev/null; }
expect_runs() {
    runs >runs.txt
    expect_same runs runs.txt "$1"
}

case_name "lines run in order, each with the passphrase on a pipe"
printf 'gpg -d one\ngpg --homedir /h two "three four"\n' >cmds
FAKE_GPG_CHECK_STDIN=1 run "$NIMVARA" -F -p pass cmds
expect_status 0
expect_err ""
expect_runs "gpg|--passphrase-fd|3|-d|one
gpg|--homedir|/h|--passphrase-fd|3|two|three\\x20four"
[ "$(grep -c '^passphrase 6 736563726574$' record)" -eq 2 ] || fail "passphrase not fed to both"
[ "$(grep -c "^env set ''$" record)" -eq 2 ] || fail "variable not emptied for gpg"
[ "$(grep -c '^fds 0 1 2 3$' record)" -eq 2 ] || fail "descriptors: $(grep '^fds' record)"
[ "$(grep -c '^stdin eof$' record)" -eq 2 ] || fail "command stdin: $(grep '^stdin' record)"

case_name "several files in order, options mixed among them"
printf 'gpg a\n' >f1
printf 'gpg b\n' >f2
run "$NIMVARA" -F f1 -p pass -- f2 -c
expect_status 1
expect_err "nimvara: '-c': No such file or directory"
expect_runs "gpg|--passphrase-fd|3|a
gpg|--passphrase-fd|3|b"

case_name "a passphrase with NUL and newline survives the variable"
printf 'x\0y\n' >oddpass
run "$NIMVARA" -F -p oddpass f1
expect_status 0
expect_record_line "passphrase 4 7800790a"

case_name "the passphrase from the variable is passed on to every line"
printf 'gpg a\ngpg b\n' >two
NIMVARA_PASSPHRASE='p\041' run "$NIMVARA" -F two
expect_status 0
[ "$(grep -c '^passphrase 2 7021$' record)" -eq 2 ] || fail "passphrase: $(grep '^passphrase' record)"

case_name "without -c a failing line is passed over; with -c it ends the batch"
printf 'gpg --exit=5 a\ngpg b\n' >failing
run "$NIMVARA" -F -p pass failing
expect_status 0
expect_runs "gpg|--passphrase-fd|3|--exit=5|a
gpg|--passphrase-fd|3|b"
run "$NIMVARA" -F -c -p pass failing
expect_status 5
expect_runs "gpg|--passphrase-fd|3|--exit=5|a"
printf 'gpg --kill=9 a\ngpg b\n' >killed
run "$NIMVARA" -F -c -p pass killed
expect_status 1
expect_runs "gpg|--passphrase-fd|3|--kill=9|a"

case_name "a line that would drop a command after ';', '&&', '||' or '&' is refused"
printf 'gpg a\ngpg b && gpg c\ngpg d ;\ngpg e 2>&1 | cat\ngpg f; gpg g\n' >compound
run "$NIMVARA" -F -p pass compound
expect_status 0
expect_err "nimvara: line 2 of 'compound': a command after '&&' would never run; line not run
nimvara: line 5 of 'compound': a command after ';' would never run; line not run"
expect_runs "gpg|--passphrase-fd|3|a
gpg|--passphrase-fd|3|d
gpg|--passphrase-fd|3|e"
run "$NIMVARA" -F -c -p pass compound
expect_status 1
expect_err "nimvara: line 2 of 'compound': a command after '&&' would never run; line not run"
expect_runs "gpg|--passphrase-fd|3|a"

case_name "an empty line runs a wrapper without a command"
printf 'gpg a\n\ngpg b\n' >empty
run "$NIMVARA" -F -p pass empty
expect_status 0
expect_err "nimvara: no gpg command specified"
expect_runs "gpg|--passphrase-fd|3|a
gpg|--passphrase-fd|3|b"
run "$NIMVARA" -F -c -p pass empty
expect_status 1
expect_runs "gpg|--passphrase-fd|3|a"

case_name "a file without lines runs nothing"
: >nothing
run "$NIMVARA" -F -p pass nothing
expect_status 0
expect_err ""
expect_no_record

case_name "incomplete last line: the complete ones run, then the fault"
printf 'gpg a\ngpg b' >incomplete
run "$NIMVARA" -F -p pass incomplete
expect_status 1
expect_err "nimvara: last line incomplete"
expect_runs "gpg|--passphrase-fd|3|a"

case_name "NUL in the third line"
printf 'gpg a\ngpg b\ngpg \0c\ngpg d\n' >nul
run "$NIMVARA" -F -p pass nul
expect_status 1
expect_err 'nimvara: line contains \0 character'
expect_runs "gpg|--passphrase-fd|3|a
gpg|--passphrase-fd|3|b"

case_name "65536 bytes without a newline, after a line that ran"
{ printf 'gpg a\n'; head -c 65536 /dev/zero | tr '\0' x; printf '\n'; } >long
run "$NIMVARA" -F -p pass long
expect_status 1
expect_err "nimvara: line too long"
expect_runs "gpg|--passphrase-fd|3|a"

case_name "a line of 65535 bytes is read, but its command text does not fit"
{ printf 'gpg '; head -c 65531 /dev/zero | tr '\0' x; printf '\ngpg b\n'; } >maximal
run "$NIMVARA" -F -p pass maximal
expect_status 0
expect_err "nimvara: do_snprintf() size exceeded"
expect_runs "gpg|--passphrase-fd|3|b"

case_name "a long line that spans several reads is joined"
{ printf 'gpg '; head -c 60000 /dev/zero | tr '\0' y; printf '\n'; } >joined
cat joined joined >joined2
run "$NIMVARA" -F -p pass joined2
expect_status 0
[ "$(grep -c '^argv\[3\] yyyy' record)" -eq 2 ] || fail "long lines not run whole"

case_name "command file - is standard input; commands still read end of file"
printf 'gpg a\ngpg b\n' >stdin.cmds
FAKE_GPG_CHECK_STDIN=1 INPUT=stdin.cmds run "$NIMVARA" -F -p pass -
expect_status 0
expect_runs "gpg|--passphrase-fd|3|a
gpg|--passphrase-fd|3|b"
[ "$(grep -c '^stdin eof$' record)" -eq 2 ] || fail "command stdin: $(grep '^stdin' record)"

case_name "passphrase from standard input, commands from a file"
printf 'gpg a\n' >one
INPUT=pass run "$NIMVARA" -F -p - one
expect_status 0
expect_record_line "passphrase 6 736563726574"
expect_record_line "fds 0 1 2 3"

case_name "traces at -v: file, forking, the shell and the nested command"
run "$NIMVARA" -F -v -p pass one
expect_status 0
expect_err "nimvara[PID]: reading gpg commands from file: 'one'
nimvara[PID]: forking
nimvara[PID] executing: sh -c exec $NIMVARA -v -o --passphrase-fd -- gpg a
nimvara[PID] executing: gpg --passphrase-fd 3 a"

case_name "-o is passed on to the nested wrappers"
FAKE_GPG_OPTION=--pw-fd run "$NIMVARA" -F -o --pw-fd -p pass one
expect_status 0
expect_runs "gpg|--pw-fd|3|a"

case_name "-v fifty times gives the nested wrapper -v 42 times"
set --
i=0
while [ $i -lt 50 ]; do set -- "$@" -v; i=$((i + 1)); done
run "$NIMVARA" -F "$@" -p pass one
expect_status 0
vs=$(i=0; while [ $i -lt 42 ]; do printf ' -v'; i=$((i + 1)); done)
grep -qxF "nimvara[PID] executing: sh -c exec $NIMVARA$vs -o --passphrase-fd -- gpg a" err ||
    fail "shell command line: $(grep 'executing: sh' err)"

case_name "a wrapper installed under a path with a space and a quote"
mkdir "my tools'"
cp "$NIMVARA" "my tools'/nimvara"
run "$WORK/my tools'/nimvara" -F -c -v -p pass one
expect_status 0
expect_runs "gpg|--passphrase-fd|3|a"
grep -qxF "nimvara[PID] executing: sh -c exec '$WORK/my tools'\\''/nimvara' -v -o --passphrase-fd -- gpg a" err ||
    fail "shell command line: $(grep 'executing: sh' err)"

case_name "the shell interprets the line"
printf 'gpg "$HOME" x\\ y --exit=4\n' >shelly
HOME=/the/home run "$NIMVARA" -F -c -p pass shelly
expect_status 4
expect_runs "gpg|--passphrase-fd|3|/the/home|x\\x20y|--exit=4"

finish
