#!/bin/sh
# Times korvalinde-path on a generated list of 1,000,000 keys and about
# 6,000,000 signatures: start-up (import and index), peak memory against
# korvalinde's own import of the same list, and the time of each of 1,000
# random reachable pairs asked in one batch with the default -n 10 -k 8.
# Then compares with networkx (python3-networkx, a test tool) on the same
# kind of pairs of a 100,000-key list: networkx needs minutes and gigabytes
# to load the million-key list, so both answer the smaller one there.
# Not a test: it writes its lists to WORK_DIR (default /tmp).
#
# usage: bench/path_speed.sh [WORK_DIR]
# Environment: NX_PAIRS (default 20) pairs for the networkx comparison (each
# takes networkx seconds: its disjoint-path count runs a flow over the whole
# graph).
set -eu
cd "$(dirname "$0")/.."
work=${1:-/tmp}
nx_pairs=${NX_PAIRS:-20}
if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde-path keygen import_benchmark >/dev/null
prog=build-bench/path/korvalinde-path
trap 'rm -f "$work"/path-bench.*' EXIT

# PAIRS LIST COUNT: COUNT random pairs of LIST (seed 1) with a path, one
# "FROM TO" a line; the candidates are filtered by the program itself.
reachable_pairs() {
    python3 - "$1" "$(($2 * 10))" <<'PY' >"$work/path-bench.candidates"
import random
import sys
ids = [b[1:17].decode() for b in open(sys.argv[1], "rb").read().split(b"\n") if b[:1] == b"p"]
r = random.Random(1)
for _ in range(int(sys.argv[2])):
    print(r.choice(ids), r.choice(ids))
PY
    "$prog" -i "$1" --json -n 0 -k 1 - <"$work/path-bench.candidates" |
        grep -v '"hops":null' | head -n "$2" | cut -c10-25,34-49 --output-delimiter=' '
}

# STATS FILE KIND: median, 99th percentile and largest of the per-query
# "N us KIND" figures (wall or CPU).
times_of() {
    grep " us $2" "$1" | sed "s/.* \([0-9][0-9]*\) us $2.*/\1/" | sort -n
}
percentiles() {
    times_of "$1" "$2" | awk -v kind="$2" '{ t[NR] = $1 } END {
        printf "%d queries, %s: median %.2f ms, 99th percentile %.2f ms, largest %.2f ms\n",
            NR, kind, t[int((NR + 1) / 2)] / 1000, t[int(NR * 0.99 + 0.5)] / 1000, t[NR] / 1000 }'
}

list=$work/path-bench-million.keys
[ -s "$list" ] || build-bench/tools/keygen -n 1000000 -m 6 -s 1 -o "$list"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

/usr/bin/time -f "%M" -o "$work/path-bench.import" build-bench/analyser/import_benchmark "$list"
import_kb=$(cat "$work/path-bench.import")

reachable_pairs "$list" 1000 >"$work/path-bench.pairs"
/usr/bin/time -f "%e %U %S %M" -o "$work/path-bench.time" \
    "$prog" --stats -i "$list" - <"$work/path-bench.pairs" >/dev/null 2>"$work/path-bench.stats"
read -r wall user sys peak_kb <"$work/path-bench.time"
grep 'start-up\|import ' "$work/path-bench.stats"
echo "korvalinde-path, 1,000,000 keys, default -n 10 -k 8:"
percentiles "$work/path-bench.stats" wall
percentiles "$work/path-bench.stats" CPU
awk -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak_kb" -v i="$import_kb" 'BEGIN {
    printf "whole run %.2f s wall, %.2f s CPU; peak %.0f MB, korvalinde import peak %.0f MB: %.2f x\n",
        w, u + s, p / 1024, i / 1024, p / i }'

if ! python3 -c 'import networkx' 2>/dev/null; then
    echo "networkx comparison skipped: python3-networkx is not installed"
    exit 0
fi
small=$work/path-bench-100k.keys
[ -s "$small" ] || build-bench/tools/keygen -n 100000 -m 6 -s 1 -o "$small"
reachable_pairs "$small" "$nx_pairs" >"$work/path-bench.nx-pairs"
"$prog" --stats -i "$small" - <"$work/path-bench.nx-pairs" >/dev/null 2>"$work/path-bench.ours"
python3 path/tests/path_networkx.py "$small" --time <"$work/path-bench.nx-pairs" >/dev/null \
    2>"$work/path-bench.theirs"
echo "100,000 keys, $nx_pairs pairs, hops + count + disjoint up to 8 (networkx lists no paths):"
grep 'start-up' "$work/path-bench.ours"
grep '^networkx: load' "$work/path-bench.theirs"
printf 'korvalinde-path: '
percentiles "$work/path-bench.ours" wall
grep -v '^networkx' "$work/path-bench.theirs" | sed 's/$/ us wall/' >"$work/path-bench.theirs-us"
printf 'networkx: '
percentiles "$work/path-bench.theirs-us" wall
median() { times_of "$1" wall | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }
awk -v a="$(median "$work/path-bench.ours")" -v b="$(median "$work/path-bench.theirs-us")" \
    'BEGIN { printf "median query time (wall), networkx / korvalinde-path: %.0f\n", b / (a > 0 ? a : 1) }'
