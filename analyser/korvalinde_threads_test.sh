#!/bin/sh
# Every output file of korvalinde is the same, byte for byte, whatever the
# number of threads, and the same on a second run.
# usage: korvalinde_threads_test.sh KORVALINDE KEYGEN
set -eu
korvalinde=$1
keygen=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$keygen" -n 3000 -s 21 --max-chain 40 --dup-sigs 0.02 --self-sigs 0.02 \
    --low-collisions 0.02 --unknown-signers 0.01 -o "$work/list.keys"

run() { # name, options...
    dir=$work/$1
    shift
    mkdir "$dir"
    "$korvalinde" "$@" -o "$dir" "$work/list.keys" 2>"$work/stderr"
    if [ -s "$work/stderr" ]; then
        echo "unexpected output on standard error:" >&2
        cat "$work/stderr" >&2
        exit 1
    fi
}

run j1 -j 1
run j2 -j 2
run j5 -j 5
run j5again -j 5
for other in j2 j5 j5again; do
    if ! diff -r "$work/j1" "$work/$other" >/dev/null; then
        echo "output with $other differs from -j 1" >&2
        diff -r "$work/j1" "$work/$other" | head -20 >&2
        exit 1
    fi
done
# The run did analyse keys: msd.txt has lines and reports exist.
[ "$(wc -l <"$work/j1/msd.txt")" -gt 100 ]
[ "$(find "$work/j1" -mindepth 2 -type f | wc -l)" -gt 100 ]

run flat1 -1 -j 1
run flat3 -1 -j 3
diff -r "$work/flat1" "$work/flat3" >/dev/null
echo "all outputs identical"
