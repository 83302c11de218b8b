#!/bin/sh
# The command line of the built binary: version, usage, every refusal with
# its exact message and status, and print mode's output and limits.
. "$(dirname "$0")/blackbox_lib.sh"

printf 'secret' >pass

# check STATUS STDERR [ARGUMENTS...]
check() {
    want_status=$1
    want_err=$2
    shift 2
    case_name "nimvara $*"
    run "$NIMVARA" "$@"
    expect_status "$want_status"
    expect_err "$want_err"
}

check 1 "nimvara: no gpg command specified"
check 1 "nimvara: no gpg command specified" --
check 1 "nimvara: no gpg command specified" -v -a
check 1 "nimvara: no files to process" -F
check 1 "nimvara: no files to process" -F -v
check 1 "nimvara: unrecognized option '-v'" -V -v
check 1 "nimvara: unrecognized option '-V'" -v -V
check 1 "nimvara: unrecognized option '-F'" -F -F
check 1 "nimvara: unrecognized option '-c'" -c gpg
check 1 "nimvara: unrecognized option '-o'" -P -o x
check 1 "nimvara: unrecognized option '-'" - gpg
check 1 "nimvara: unrecognized option '--bogus'" --bogus gpg
check 1 "nimvara: -F/--file used stdin although already used before" -F -p - -
check 1 "nimvara: -p/--passphrase-file used stdin although already used before" -F - -p -
check 1 "nimvara: -p/--passphrase-file specified more than once" -p x -p
check 1 "nimvara: -p/--passphrase-file expects a file name" -p
check 1 "nimvara: -o/--option-name expects a file name" -o
check 1 "nimvara: no additional arguments allowed" -P -p pass gpg

case_name "version"
run "$NIMVARA" -V
expect_status 0
expect_out "nimvara 0.04-20060904"
run "$NIMVARA" --version ignored operand
expect_status 0
expect_out "nimvara 0.04-20060904"

case_name "usage, also after -V, never after a command's first word or as -p's value"
run "$NIMVARA" -h
expect_status 0
expect_err ""
expect_out "nimvara 0.04-20060904 | the nimvara and korvalinde developers
                      | https://nimvara.example.org/
                      | maintainers@nimvara.example.org

Usage: nimvara -V
or:    nimvara -P [-v] [-i] [-a] [-p <file>]
or:    nimvara -F [-v] [-i] [-a] [-c] [-p <file>] [-o <name>]
                  [--] <file> [<file> ... ]
or:    nimvara [-v] [-i] [-a] [-p <file>] [-o <name>]
               [--] gpg [gpg options]

  -V          print out version
  -P          get the passphrase and print it mangled to stdout
  -F          read gpg commands from file
  -v          be more verbose
  -i          be interactive, always prompt for passphrase
  -a          ask twice if prompting for passphrase
  -c          check exit code of child processes
  -p <file>   read passphrase from <file>
  -o <name>   specify name of \"--passphrase-fd\" option
  -h          this help"
cp out usage.txt
run "$NIMVARA" -V --help
expect_status 0
expect_same "usage after -V" out "$(cat usage.txt)"
run "$NIMVARA" -F x -h
expect_same "usage in batch mode" out "$(cat usage.txt)"
run "$NIMVARA" -p pass gpg -h
expect_status 0
expect_record_line "argv[3] -h"
run "$NIMVARA" -p -h gpg
expect_status 1
expect_err "nimvara: '-h': No such file or directory"
expect_out ""

case_name "-- makes -V the first word of the command"
run "$NIMVARA" -p pass -- -V
expect_status 1
expect_err "nimvara: No such file or directory"

case_name "print mode: file, standard input, variable; -- alone accepted"
run "$NIMVARA" -P -p pass
expect_status 0
expect_out "secret"
printf ' \0\n*<@[^`{}\177\377+;AZ_az~' >mixed
INPUT=mixed run "$NIMVARA" -P -p - --
expect_status 0
expect_out '\040\000\012\052\074\100\133\136\140\173\175\177\377+;AZ_az~'
NIMVARA_PASSPHRASE='\101b c' run "$NIMVARA" --print
expect_out "Ab\\040c"
NIMVARA_PASSPHRASE='x' run "$NIMVARA" -P -p pass
expect_out "secret"

case_name "print mode limits: file of 65535 bytes, mangled form of 65535 characters"
head -c 65535 /dev/zero | tr '\0' a >max
run "$NIMVARA" -P -p max
expect_status 0
[ "$(wc -c <out)" -eq 65536 ] || fail "printed $(wc -c <out) bytes"
head -c 65536 /dev/zero | tr '\0' a >over
run "$NIMVARA" -P -p over
expect_status 1
expect_err "nimvara: passphrase too long"
{ head -c 65531 /dev/zero | tr '\0' a; printf ' '; } >fits
run "$NIMVARA" -P -p fits
expect_status 0
{ head -c 65532 /dev/zero | tr '\0' a; printf ' '; } >misfit
run "$NIMVARA" -P -p misfit
expect_status 1
expect_err "nimvara: could not mangle passphrase"
expect_out ""

case_name "print mode traces at -v -v"
run "$NIMVARA" -P -v -v -p pass
expect_err "nimvara[PID]: reading passphrase from file 'pass'"
NIMVARA_PASSPHRASE='a\040' run "$NIMVARA" -P -v -v
expect_err "nimvara[PID]: got passphrase from environment variable: NIMVARA_PASSPHRASE=a\\040"
expect_out 'a\040'

case_name "1024 command files accepted, 1025 refused"
: >e
set --
i=0
while [ $i -lt 1024 ]; do set -- "$@" e; i=$((i + 1)); done
run "$NIMVARA" -F -p pass "$@"
expect_status 0
run "$NIMVARA" -F -p pass "$@" e
expect_status 1
expect_err "nimvara: too many files specified"

case_name "output that cannot be written is a failure"
if [ -w /dev/full ]; then
    "$NIMVARA" -P -p pass >/dev/full 2>err.raw
    status=$?
    expect_status 1
    expect_same stderr err.raw "nimvara: No space left on device"
    "$NIMVARA" -h >/dev/full 2>err.raw
    status=$?
    expect_status 1
    expect_same stderr err.raw "nimvara: No space left on device"
fi

finish
