#!/bin/sh
# korvalinde-keylist's verified reading of a dump against its floor: the
# same signatures verified by OpenSSL's calls alone (verify_floor, over
# signatures and keys prepared beforehand by the program's own code), on the
# same number of threads. Prints the floor, the program's processor and wall
# time, and the two ratios: wall / (processor / threads), 1.00 when every
# thread is busy all along, and processor / floor, what reading, hashing
# and the program's own bookkeeping add. The load average is printed with
# each run: wall times mean little on a loaded machine. Not a test: figures
# for bench/RESULTS.md.
# usage: bench/keylist_verify_floor.sh DUMP_DIR [JOBS]
# (DUMP_DIR made by bench/pgpgen_million.sh; JOBS default: the processors;
# environment: RUNS, runs of the program, default 1)
set -eu
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: $0 DUMP_DIR [JOBS]" >&2; exit 2; }
dump=$1
jobs=${2:-$(getconf _NPROCESSORS_ONLN)}
runs=${RUNS:-1}
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde-keylist verify_floor >/dev/null
K=$PWD/build-bench/keylist/korvalinde-keylist
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
load() { cut -d' ' -f1-3 /proc/loadavg; }

echo "korvalinde-keylist verification floor, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processors, -j $jobs, $dump"
l0=$(load)
floor=$(build-bench/bench/verify_floor "$jobs" "$dump"/dump/*.pgp)
echo "floor: $floor (load $l0 -> $(load))"
floor_cpu=$(echo "$floor" | awk '{ print $NF }')
i=0
while [ "$i" -lt "$runs" ]; do
    l0=$(load)
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$K" -j "$jobs" -o "$work/keys" "$dump"/dump/*.pgp \
        2>"$work/messages"
    read -r wall user sys peak <"$work/time"
    same=identical
    if [ -f "$dump/expected.keys" ] && ! cmp -s "$work/keys" "$dump/expected.keys"; then same=DIFFERENT; fi
    awk -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" -v j="$jobs" -v f="$floor_cpu" \
        -v l0="$l0" -v l1="$(load)" -v same="$same" 'BEGIN {
        cpu = u + s
        printf "program: %.1f s wall, %.1f s CPU (%.1f user, %.1f system), peak %.0f MB, key list %s (load %s -> %s)\n",
            w, cpu, u, s, p / 1024, same, l0, l1
        printf "  wall / (CPU / %d) = %.2f, CPU / floor = %.2f\n", j, w / (cpu / j), cpu / f
    }'
    i=$((i + 1))
done
