#!/bin/sh
# Wrap mode on the built binary: where the option goes, both channels, the
# refusals, exit-status propagation, traces, and what reaches gpg.
. "$(dirname "$0")/blackbox_lib.sh"

printf 'secret' >pass        # 736563726574
printf 'a\0b\nc\n' >oddpass  # NUL and newlines: 6100620a630a

case_name "gpg alone, passphrase file handed over unread"
run "$NIMVARA" -p pass gpg
expect_status 0
expect_err ""
expect_record "argc 3
argv[0] gpg
argv[1] --passphrase-fd
argv[2] 3
env set ''
fds 0 1 2 3
passphrase 6 736563726574
end"

case_name "insertion after leading --homedir/--options words"
run "$NIMVARA" -p pass gpg --homedir /h --options=o.conf --decrypt f
expect_status 0
expect_record_line "argv[1] --homedir"
expect_record_line "argv[2] /h"
expect_record_line "argv[3] --options=o.conf"
expect_record_line "argv[4] --passphrase-fd"
expect_record_line "argv[5] 3"
expect_record_line "argv[6] --decrypt"
expect_record_line "argv[7] f"

case_name "--homedir=, --options with value, then the insertion"
run "$NIMVARA" -p pass gpg --homedir=/h --options o.conf --options=p -d
expect_record_line "argv[5] --passphrase-fd"
expect_record_line "argv[7] -d"

case_name "only --homedir and a directory: insertion at the end"
run "$NIMVARA" -p pass gpg --homedir /h
expect_record_line "argv[3] --passphrase-fd"
expect_record_line "argv[4] 3"
expect_record_line "argc 5"

case_name "--homedir without its value: insertion at the end"
run "$NIMVARA" -p pass gpg --homedir
expect_record_line "argv[2] --passphrase-fd"
expect_record_line "argc 4"

case_name "a longer word beginning with --homedir is an ordinary word"
run "$NIMVARA" -p pass gpg --homedirs x
expect_record_line "argv[1] --passphrase-fd"
expect_record_line "argv[3] --homedirs"

case_name "the option already present is refused, anywhere"
for words in "gpg --decrypt --passphrase-fd 4" "gpg --homedir --passphrase-fd" "--passphrase-fd"; do
    # shellcheck disable=SC2086
    run "$NIMVARA" -p pass -- $words
    expect_status 1
    expect_err "nimvara: gpg command already has a '--passphrase-fd' option"
    expect_no_record
done

case_name "the option refused on the pipe path too (in the child)"
INPUT=pass run "$NIMVARA" -p - gpg --passphrase-fd 0
expect_status 1
# The parent warns too when the child refused before the passphrase was written.
[ "$(head -n 1 err)" = "nimvara: gpg command already has a '--passphrase-fd' option" ] &&
    { [ "$(wc -l <err)" -eq 1 ] || [ "$(sed -n 2p err)" = "nimvara: only partial passphrase written" ]; } ||
    fail "stderr: $(cat err)"
expect_no_record

case_name "option name with a value attached is not the option"
run "$NIMVARA" -p pass gpg --passphrase-fd=9
expect_status 0
expect_record_line "argv[3] --passphrase-fd=9"

case_name "-o names another option, and that one is refused"
FAKE_GPG_OPTION=--pw-fd run "$NIMVARA" -o --pw-fd -p pass gpg --passphrase-fd 7
expect_status 0
expect_record_line "argv[1] --pw-fd"
expect_record_line "argv[3] --passphrase-fd"
expect_record_line "passphrase 6 736563726574"
run "$NIMVARA" -o --pw-fd -p pass gpg -d --pw-fd
expect_status 1
expect_err "nimvara: gpg command already has a '--pw-fd' option"

case_name "1020 words are run, 1021 refused"
words=$(i=1; while [ $i -lt 1020 ]; do printf ' w%d' $i; i=$((i + 1)); done)
# shellcheck disable=SC2086
run "$NIMVARA" -p pass gpg $words
expect_status 0
expect_record_line "argc 1022"
expect_record_line "argv[1021] w1019"
# shellcheck disable=SC2086
run "$NIMVARA" -p pass gpg $words w1020
expect_status 1
expect_err "nimvara: too many gpg arguments specified"
expect_no_record

case_name "pipe from standard input: descriptor 0, exact bytes, no stray descriptor"
INPUT=oddpass run "$NIMVARA" -p - gpg -d
expect_status 0
expect_err ""
expect_record "argc 4
argv[0] gpg
argv[1] --passphrase-fd
argv[2] 0
argv[3] -d
env set ''
fds 0 1 2
passphrase 6 6100620a630a
end"

case_name "pipe from NIMVARA_PASSPHRASE: decoded, emptied for gpg"
NIMVARA_PASSPHRASE='a\040b\000\012~' run "$NIMVARA" gpg
expect_status 0
expect_record "argc 3
argv[0] gpg
argv[1] --passphrase-fd
argv[2] 3
env set ''
fds 0 1 2 3
passphrase 6 612062000a7e
end"

case_name "empty variable: empty passphrase, no prompt"
NIMVARA_PASSPHRASE= run "$NIMVARA" gpg
expect_status 0
expect_record_line "passphrase 0 "

case_name "bad escape in the variable"
for value in 'ab\' 'x\1' '\12' '\400' '\080' '\0x1'; do
    NIMVARA_PASSPHRASE=$value run "$NIMVARA" gpg
    expect_status 1
    expect_err "nimvara: could not unmangle passphrase"
    expect_no_record
done

case_name "variable decoding to 65536 bytes is fed whole; 65537 is too long"
big=$(head -c 65536 /dev/zero | tr '\0' a)
NIMVARA_PASSPHRASE=$big run "$NIMVARA" gpg
expect_status 0
grep -q '^passphrase 65536 ' record || fail "65536-byte passphrase not fed whole"
NIMVARA_PASSPHRASE=${big}b run "$NIMVARA" gpg
expect_status 1
expect_err "nimvara: passphrase too long"

case_name "-p ignores the variable"
NIMVARA_PASSPHRASE=other run "$NIMVARA" -p - gpg
expect_record_line "passphrase 0 "

case_name "the variable twice in the environment: gpg finds one copy, empty"
one_empty_copy() {
    [ "$(grep -c '^env set' record)" -eq 1 ] || fail "copies: $(grep '^env' record)"
    expect_record_line "env set ''"
}
printf 'gpg a\n' >lines.cmds
run "$FAKE_GPG" --run-with-variable-twice 'one' 'two' "$NIMVARA" gpg
expect_status 0
expect_record_line "passphrase 3 6f6e65"
one_empty_copy
run "$FAKE_GPG" --run-with-variable-twice 'one' 'two' "$NIMVARA" -p pass gpg
expect_status 0
one_empty_copy
run "$FAKE_GPG" --run-with-variable-twice 'one' 'two' "$NIMVARA" -P
expect_out "one"
run "$FAKE_GPG" --run-with-variable-twice 'one' 'two' "$NIMVARA" -F -p pass lines.cmds
expect_status 0
one_empty_copy

case_name "exit status of gpg on both channels; death by a signal is 1"
FAKE_GPG_EXIT=7 run "$NIMVARA" -p pass gpg
expect_status 7
FAKE_GPG_EXIT=7 INPUT=pass run "$NIMVARA" -p - gpg
expect_status 7
expect_err ""
FAKE_GPG_SIGNAL=9 INPUT=pass run "$NIMVARA" -p - gpg
expect_status 1
FAKE_GPG_SIGNAL=15 NIMVARA_PASSPHRASE=x run "$NIMVARA" -v -v gpg
expect_status 1
grep -q 'abnormal' err && fail "a killed child is reported without the trace"

case_name "the status is gpg's even with SIGCHLD ignored by the caller"
FAKE_GPG_EXIT=6 INPUT=pass run "$FAKE_GPG" --run-ignoring-sigchld "$NIMVARA" -p - gpg
expect_status 6
expect_err ""
expect_record_line "passphrase 6 736563726574"

case_name "the status is gpg's, not that of a child inherited across exec"
INPUT=pass run "$FAKE_GPG" --run-with-dead-child "$NIMVARA" -p - gpg --exit=5
expect_status 5

case_name "traces at -v: the command as executed"
run "$NIMVARA" -v -p pass gpg -d 'two words'
expect_status 0
expect_err "nimvara[PID] executing: gpg --passphrase-fd 3 -d two words"

case_name "traces at -v -v, passphrase file: one process"
run "$NIMVARA" -v -v -p pass gpg
expect_err "nimvara[PID]: opening file 'pass' to pass fd
nimvara[PID]: setting environment variable: NIMVARA_PASSPHRASE=
nimvara[PID] executing: gpg --passphrase-fd 3"
[ "$(sed 's/^nimvara\[\([0-9]*\)\].*/\1/' err.raw | sort -u | wc -l)" -eq 1 ] ||
    fail "the traces of a handed-over file come from more than one process"

case_name "traces at -v -v, pipe: parent and child lines, each in order"
FAKE_GPG_EXIT=3 NIMVARA_PASSPHRASE='p\041' run "$NIMVARA" -v -v gpg
expect_status 3
parent=$(head -n 1 err.raw | sed 's/^nimvara\[\([0-9]*\)\].*/\1/')
grep -F "nimvara[$parent]" err.raw | sed 's/\[[0-9]*\]/[PID]/' >parent.err
grep -vF "nimvara[$parent]" err.raw | sed 's/\[[0-9]*\]/[PID]/' >child.err
expect_same "parent traces" parent.err "nimvara[PID]: got passphrase from environment variable: NIMVARA_PASSPHRASE=p\\041
nimvara[PID]: forking
nimvara[PID]: waiting for child
nimvara[PID]: checking child exit code
nimvara[PID]: child process terminated abnormal, exiting"
expect_same "child traces" child.err "nimvara[PID]: setting environment variable: NIMVARA_PASSPHRASE=
nimvara[PID] executing: gpg --passphrase-fd 3"

case_name "program that cannot be executed: the system's text, status 1"
run "$NIMVARA" -p pass no-such-program-here
expect_status 1
expect_err "nimvara: No such file or directory"
INPUT=pass run "$NIMVARA" -p - no-such-program-here
expect_status 1
# The feeding parent may also warn, if the child failed before it wrote.
[ "$(head -n 1 err)" = "nimvara: No such file or directory" ] || fail "stderr: $(cat err)"

case_name "unreadable passphrase file"
run "$NIMVARA" -p missing gpg
expect_status 1
expect_err "nimvara: 'missing': No such file or directory"

case_name "no terminal and no other source: the open of /dev/tty fails"
if command -v setsid >/dev/null; then
    setsid "$NIMVARA" gpg </dev/null >out 2>err.raw
    status=$?
    expect_status 1
    expect_same stderr err.raw "nimvara: No such device or address"
    expect_no_record
fi

finish
