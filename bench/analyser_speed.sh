#!/bin/sh
# Times korvalinde against the straightforward analysis, side by side in one
# run, and the million-key run. Not a test: it takes several minutes.
#
# usage: bench/analyser_speed.sh [WORK_DIR]
#   WORK_DIR (default /tmp/korvalinde-bench) receives the key lists and the
#   output directories (the million-key run writes about 750,000 reports).
# Environment: SAMPLE (default 2000) reachable keys for the straightforward
# analysis; SKIP_MILLION=1 to leave out the million-key run; OUT_DIR
# (default WORK_DIR) for korvalinde's output directories, e.g. /dev/shm to
# take the disk out of the measurement (the 160,000-key run writes about
# 620 MB of reports, the million-key run several GB).
#
# The straightforward program (import, set search, one breadth-first search
# per reachable key on two threads, then the reports) would take about 20
# minutes at 160,000 keys, so it analyses a fixed random sample of SAMPLE
# reachable keys and extrapolates its analysis time to all of them; the
# reports it would write are not counted, which favours it.
set -eu
cd "$(dirname "$0")/.."
work=${1:-/tmp/korvalinde-bench}
out=${OUT_DIR:-$work}
sample=${SAMPLE:-2000}
threads=$(nproc)
mkdir -p "$work"

if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

echo "=== release build (build-bench/)"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde keygen analysis_bench >/dev/null
keygen=build-bench/tools/keygen
korvalinde=build-bench/analyser/korvalinde
bench=build-bench/bench/analysis_bench

# Wall seconds and peak resident kilobytes from a /usr/bin/time -v log.
wall_seconds() {
    sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'
}
peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
cpu_seconds() { # user and system seconds
    echo "$(sed -n 's/.*User time (seconds): //p' "$1") s user," \
        "$(sed -n 's/.*System time (seconds): //p' "$1") s system"
}

# The fast program on a key list, with its reports: name, list.
run_fast() {
    rm -rf "$out/out-$1"
    mkdir -p "$out/out-$1"
    /usr/bin/time -v "$korvalinde" -j "$threads" -o "$out/out-$1" "$2" 2>"$work/time-$1.log"
    echo "korvalinde -j $threads $1: $(wall_seconds "$work/time-$1.log") s wall," \
        "$(cpu_seconds "$work/time-$1.log"), peak $(peak_kb "$work/time-$1.log") KB"
}

echo "=== key lists (keygen)"
"$keygen" -n 160000 -s 1 -o "$work/keys-160k.keys"
echo "160k: $(($(wc -c <"$work/keys-160k.keys") / 18)) records"

echo "=== 160,000 keys: straightforward analysis, sample of $sample keys on 2 threads"
/usr/bin/time -v "$bench" plain "$work/keys-160k.keys" "$sample" >"$work/plain-160k.txt" \
    2>"$work/time-plain-160k.log"
cat "$work/plain-160k.txt"
plain_total=$(sed -n 's/^extrapolated_total_seconds //p' "$work/plain-160k.txt")
echo "straightforward (extrapolated from $sample keys): $plain_total s," \
    "peak $(peak_kb "$work/time-plain-160k.log") KB"

echo "=== 160,000 keys: analysis only (import, sets, fast analysis; no output files)"
"$bench" fast "$work/keys-160k.keys" "$threads"

echo "=== 160,000 keys: korvalinde, reports included (output in $out)"
run_fast 160k "$work/keys-160k.keys"
fast_total=$(wall_seconds "$work/time-160k.log")
echo "ratio straightforward / korvalinde: $(awk "BEGIN { printf \"%.0f\", $plain_total / $fast_total }")"
rm -rf "$out/out-160k"

if [ "${SKIP_MILLION:-0}" != 1 ]; then
    echo "=== 1,000,000 keys: korvalinde, reports included"
    "$keygen" -n 1000000 -m 6 -s 1 -o "$work/keys-1m.keys"
    echo "1m: $(($(wc -c <"$work/keys-1m.keys") / 18)) records"
    run_fast 1m "$work/keys-1m.keys"
    tail -2 "$out/out-1m/status.txt"
    rm -rf "$out/out-1m"
fi
