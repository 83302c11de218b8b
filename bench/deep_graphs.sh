#!/bin/sh
# Times korvalinde's analysis against the plain analysis (one breadth-first
# search per reachable key) on lists of extreme shapes from tools/shapegen
# and on a realistic list from keygen, each pair in one run. Not a test: it
# takes several minutes.
#
# usage: bench/deep_graphs.sh [WORK_DIR]
#   WORK_DIR (default /tmp/korvalinde-deep) receives the key lists and logs.
# Environment: SAMPLE (default 3000) keys for the plain analysis, which is
# extrapolated to all reachable keys; OUT_DIR (default WORK_DIR) for the
# output of the full korvalinde runs (the star writes about 5 GB of
# reports; /dev/shm takes the disk out of the measurement); SHAPES to run
# other shapes, as "name:shapegen arguments" words.
#
# Per shape it prints the plain analysis (extrapolated) and the fast
# analysis (analysis_bench, import and sets excluded from both) in wall
# seconds and their ratio, the same in processor seconds (user + system,
# all threads; steadier than wall time on a shared machine), and the whole
# korvalinde run with its reports: wall time and peak memory.
set -eu
cd "$(dirname "$0")/.."
work=${1:-/tmp/korvalinde-deep}
out=${OUT_DIR:-$work}
sample=${SAMPLE:-3000}
shapes=${SHAPES:-"ring40k:ring_40000 ring65k:ring_65537 chain:chain_40000 grid:grid_200_200
tail:tail_300_40000 star:star_8000_60000 keygen160k:keygen"}
mkdir -p "$work" "$out"

if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

echo "=== release build (build-bench/)"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde keygen shapegen analysis_bench >/dev/null
bin=build-bench

wall_seconds() {
    sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
        awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }'
}
cpu_seconds() {
    sed -n 's/.*\(User\|System\) time (seconds): //p' "$1" | awk '{ s += $1 } END { print s }'
}
peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
value() { sed -n "s/^$1 //p" "$2"; }

printf '%-11s %8s %8s %6s %9s %9s %6s %8s %11s %11s\n' shape plain_s fast_s ratio \
    plain_cpu fast_cpu ratio run_s run_peak_KB fast_peak_KB
for entry in $shapes; do
    name=${entry%%:*}
    args=$(echo "${entry#*:}" | tr _ ' ')
    list=$work/$name.keys
    if [ "$args" = keygen ]; then
        "$bin/tools/keygen" -n 160000 -s 1 -o "$list"
    else
        # shellcheck disable=SC2086 # the arguments are words
        "$bin/tools/shapegen" $args >"$list"
    fi
    /usr/bin/time -v "$bin/bench/analysis_bench" plain "$list" "$sample" \
        >"$work/plain-$name.txt" 2>"$work/time-plain-$name.log"
    /usr/bin/time -v "$bin/bench/analysis_bench" fast "$list" 2 >"$work/fast-$name.txt" \
        2>"$work/time-fast-$name.log"
    rm -rf "$out/out-$name"
    mkdir -p "$out/out-$name"
    /usr/bin/time -v "$bin/analyser/korvalinde" -j 2 -o "$out/out-$name" "$list" \
        2>"$work/time-run-$name.log"
    rm -rf "$out/out-$name"
    plain=$(value extrapolated_analysis_seconds "$work/plain-$name.txt")
    fast=$(value analysis_seconds "$work/fast-$name.txt")
    # Processor time of the analysis alone: the run's, less the import
    # and set search (one thread); the plain sample's scaled to all keys.
    setup=$(awk "BEGIN { print $(value import_seconds "$work/fast-$name.txt") + \
        $(value sets_seconds "$work/fast-$name.txt") }")
    fast_cpu=$(awk "BEGIN { print $(cpu_seconds "$work/time-fast-$name.log") - $setup }")
    plain_cpu=$(awk "BEGIN { print ($(cpu_seconds "$work/time-plain-$name.log") - $setup) * \
        $(value reachable "$work/plain-$name.txt") / $(value sampled_keys "$work/plain-$name.txt") }")
    printf '%-11s %8.1f %8.1f %6.2f %9.1f %9.1f %6.2f %8.1f %11s %11s\n' "$name" "$plain" \
        "$fast" "$(awk "BEGIN { print $fast / $plain }")" "$plain_cpu" "$fast_cpu" \
        "$(awk "BEGIN { print $fast_cpu / $plain_cpu }")" \
        "$(wall_seconds "$work/time-run-$name.log")" \
        "$(peak_kb "$work/time-run-$name.log")" "$(peak_kb "$work/time-fast-$name.log")"
done
echo "ratio: fast analysis seconds / plain analysis seconds (below 1: korvalinde is faster)"
echo "plain_cpu, fast_cpu: processor seconds of the analyses; run_s: korvalinde with reports"
