#!/bin/sh
# Signals that reach nimvara while it waits for gpg (a stop and a continue,
# a window-size change, a stray SIGCHLD) do not end the wait early: the
# status is still gpg's and nothing is reported. The interrupted wait
# itself (EINTR) is covered by the failure sweep.
#
#   wait_signals_test.sh NIMVARA
NIMVARA=$1
[ -x "$NIMVARA" ] || { echo "usage: $0 NIMVARA" >&2; exit 2; }
NIMVARA=$(cd "$(dirname "$NIMVARA")" && pwd)/$(basename "$NIMVARA")
WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimvara-wait.XXXXXX") || exit 2
trap 'rm -rf "$WORK"' EXIT
cd "$WORK" || exit 2
mkdir bin
# A gpg that takes the passphrase, keeps nimvara waiting, and exits with 3.
cat >bin/gpg <<'GPG'
#!/bin/sh
fd=$2
eval "cat <&$fd" >passphrase
sleep 1
exit 3
GPG
chmod 755 bin/gpg
PATH="$WORK/bin:$PATH"
export PATH
failures=0

for mode in wrap batch; do
    rm -f passphrase
    if [ $mode = wrap ]; then
        printf 'secret' | "$NIMVARA" -p - gpg -d x 2>err &
    else
        printf 'gpg -d x\n' >cmds
        printf 'secret' >pass
        "$NIMVARA" -F -c -p pass cmds 2>err &
    fi
    pid=$!
    sleep 0.3
    kill -STOP $pid
    sleep 0.1
    kill -CONT $pid
    kill -WINCH $pid
    kill -CHLD $pid
    wait $pid
    status=$?
    [ "$status" -eq 3 ] || { echo "FAIL [$mode]: status $status, expected 3"; failures=$((failures + 1)); }
    [ -s err ] && { echo "FAIL [$mode]: stderr: $(cat err)"; failures=$((failures + 1)); }
    [ "$(cat passphrase 2>/dev/null)" = secret ] || { echo "FAIL [$mode]: passphrase not received"; failures=$((failures + 1)); }
done
[ "$failures" -eq 0 ] || exit 1
echo "all passed"
