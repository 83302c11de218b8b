#!/bin/sh
# Times the key-list import and korvalinde-path's start-up on a generated
# list of 1,000,000 keys and about 6,000,000 signatures, in processor time
# (user and system, the least of RUNS runs: the machine is shared). With
# OLD_BUILD, a build directory of another version, its programs are run too,
# alternating with this one's, for a before/after comparison.
# Not a test: it writes its list to WORK_DIR (default /tmp).
#
# usage: bench/import_speed.sh [WORK_DIR]
# Environment: RUNS (default 3), OLD_BUILD (e.g. a Release build of main).
set -eu
cd "$(dirname "$0")/.."
work=${1:-/tmp}
runs=${RUNS:-3}
if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde-path keygen import_benchmark >/dev/null
list=$work/import-bench-million.keys
[ -s "$list" ] || build-bench/tools/keygen -n 1000000 -m 6 -s 1 -o "$list"
trap 'rm -f "$work"/import-bench.time' EXIT
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"

# NAME BUILD: the least processor time and peak memory of RUNS runs of the
# import benchmark (import and set search) and of korvalinde-path's start-up.
measure() {
    for program in import path; do
        best=
        for _ in $(seq "$runs"); do
            if [ $program = import ]; then
                /usr/bin/time -f "%U %S %M" -o "$work/import-bench.time" \
                    "$2/bench/import_benchmark" "$list" >/dev/null
            else
                /usr/bin/time -f "%U %S %M" -o "$work/import-bench.time" \
                    "$2/path/korvalinde-path" -i "$list" - </dev/null >/dev/null
            fi
            line=$(awk '{ printf "%.2f %d", $1 + $2, $3 / 1024 }' "$work/import-bench.time")
            if [ -z "$best" ] || [ "$(echo "$line $best" | awk '{ print ($1 < $3) }')" = 1 ]; then
                best=$line
            fi
        done
        echo "$best" | awk -v n="$1" -v p=$program '{
            what = p == "import" ? "import + set search (import_benchmark)" : "korvalinde-path start-up"
            printf "%-4s %-40s %5.2f s CPU, peak %d MiB\n", n, what, $1, $2 }'
    done
}
if [ -n "${OLD_BUILD:-}" ]; then
    measure old "$OLD_BUILD"
fi
measure new build-bench
echo "import alone (wall, last run of import_benchmark):"
build-bench/bench/import_benchmark "$list"
