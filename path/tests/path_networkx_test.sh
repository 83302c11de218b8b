#!/bin/sh
# korvalinde-path against networkx (a test tool only) on the shipped sample
# and on a generated key list: hops, counts, the listed paths and the
# disjoint counts of random pairs, a key to itself and unknown-free pairs
# without a path. Exit status 77 when python3-networkx is not installed.
# usage: path_networkx_test.sh KORVALINDE_PATH KEYGEN SOURCE_DIR
prog=$1
keygen=$2
source_dir=$3
# The first Python that has networkx: the one on PATH, or Debian's, where
# python3-networkx installs it.
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import networkx' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || {
    echo "python3-networkx is not installed"
    exit 77
}
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
status=0

"$keygen" -n 1000 -m 5 -s 7 -o "$work/generated.keys" || exit 2
for list in "$source_dir/samples/sample.keys" "$work/generated.keys"; do
    "$python" - "$list" >"$work/pairs" <<'PY'
import random
import sys
ids = [b[1:17].decode() for b in open(sys.argv[1], "rb").read().split(b"\n") if b[:1] == b"p"]
r = random.Random(3)
for _ in range(150):
    print(r.choice(ids), r.choice(ids))
for key in ids[:3]:
    print(key, key)
PY
    "$prog" -i "$list" --json -n 5 -k 4 - <"$work/pairs" >"$work/ours" || {
        echo "FAIL: korvalinde-path failed on $list"
        status=1
    }
    "$python" "$source_dir/path/tests/path_networkx.py" "$list" -n 5 -k 4 <"$work/pairs" \
        >"$work/theirs" 2>/dev/null || exit 2
    echo "$(basename "$list"):"
    "$python" "$source_dir/path/tests/path_compare.py" "$work/ours" "$work/theirs" || status=1
done
exit $status
