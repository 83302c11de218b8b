#!/bin/sh
# korvalinde-keylist's verdict cache (--cache) on a generated dump. Not a
# test: prints figures for bench/RESULTS.md.
#  (i)   a cold verified run without a cache (the reference key list);
#  (ii)  a warm run with the cache a previous run on the same dump made;
#  (iii) a run on the same dump a day later, where 1% of the keys gained a
#        certification (pgpgen --new-certifications 0.01, same seed), with
#        the cache of the original dump, against a run on it without cache.
# Prints wall and CPU time and peak memory of each, the ratios, the cache
# counts of -v, and whether every key list is byte-identical to the
# cache-less run on the same dump (and to pgpgen's expected list).
#
# usage: bench/keylist_cache.sh [DUMP_DIR]   (default /tmp/keylist-cache-bench)
# DUMP_DIR/dump/ is the dump of bench/pgpgen_million.sh (made here, in the
# same way, when missing); DUMP_DIR/changed/ is made beside it. KEYS and
# SEED (defaults 100000 and 1) must be those the dump was made with: 1000000
# for bench/pgpgen_million.sh's. Environment: JOBS (default: the online
# processors), BUILD (a configured Release build directory; default
# build-bench, configured and built here).
set -eu
cd "$(dirname "$0")/.."
[ -x /usr/bin/time ] || { echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2; exit 1; }
out=${1:-/tmp/keylist-cache-bench}
keys=${KEYS:-100000}
seed=${SEED:-1}
jobs=${JOBS:-$(getconf _NPROCESSORS_ONLN)}
build=${BUILD:-build-bench}
if [ -z "${BUILD:-}" ]; then
    cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j 2 --target korvalinde-keylist pgpgen >/dev/null
K=$PWD/$build/keylist/korvalinde-keylist
P=$PWD/$build/tools/pgpgen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The dumps: the original as bench/pgpgen_million.sh makes it, and the
# changed one from the same seed and shape.
mkdir -p "$out"
if ! [ -d "$out/dump" ]; then
    "$P" -n "$keys" -m 6 -s "$seed" -j "$jobs" --files 16 -o "$out/dump/" \
        --expect "$out/expected.keys" --expect-names "$out/expected.names"
fi
if ! [ -d "$out/changed" ]; then
    "$P" -n "$keys" -m 6 -s "$seed" -j "$jobs" --files 16 -o "$out/changed/" \
        --new-certifications 0.01 --expect "$out/changed-expected.keys"
fi
# The later dump lists every key of the dump (and keys certified for the
# first time; a split key's record may move): keys missing mean it was made
# with other options than the dump.
grep '^p' "$out/expected.keys" | sort >"$work/keys-of-dump"
grep '^p' "$out/changed-expected.keys" | sort >"$work/keys-of-changed"
if [ -n "$(comm -23 "$work/keys-of-dump" "$work/keys-of-changed")" ]; then
    echo "bench: $out/changed does not extend $out/dump: KEYS and SEED must be the dump's" >&2
    exit 1
fi
cat "$out"/dump/*.pgp "$out"/changed/*.pgp >/dev/null # into the page cache

# run NAME DUMP [OPTIONS]: one timed run; its figures in $work/NAME.time.
run() {
    name=$1 dump=$2
    shift 2
    /usr/bin/time -f "%e %U %S %M" -o "$work/$name.time" \
        "$K" -v -j "$jobs" -o "$work/$name.keys" "$@" "$dump"/*.pgp 2>"$work/$name.err"
}
report() {
    read -r wall user sys peak <"$work/$1.time"
    cache=$(sed -n 's/^korvalinde-keylist: verdict cache: //p' "$work/$1.err")
    printf '  %-34s %8.1f s wall %8.1f s CPU %6.0f MB%s\n' "$2" "$wall" \
        "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" \
        "$(awk -v p="$peak" 'BEGIN { print p / 1024 }')" "${cache:+  ($cache)}"
}
cpu() { awk '{ print $2 + $3 }' "$work/$1.time"; }
ratio() { awk -v a="$(cpu "$1")" -v b="$(cpu "$2")" 'BEGIN { printf "%.1f", a / b }'; }
same() { if cmp -s "$work/$1.keys" "$2"; then echo identical; else echo DIFFERENT; fi; }

echo "korvalinde-keylist --cache benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) processors," \
     "-j $jobs, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "dump: $keys keys, seed $seed, $(cat "$out"/dump/*.pgp | wc -c) bytes; changed: $(cat "$out"/changed/*.pgp | wc -c) bytes"
run cold "$out/dump"
run first "$out/dump" --cache "$work/cache"
cp -p "$work/cache" "$work/cache-of-dump"
dump_cache=$(wc -c <"$work/cache")
run warm "$out/dump" --cache "$work/cache"
run changed-cold "$out/changed"
run changed "$out/changed" --cache "$work/cache-of-dump"
report cold "(i) cold, no cache"
report first "first run writing the cache"
report warm "(ii) warm"
report changed-cold "changed dump, no cache"
report changed "(iii) changed dump, cache of dump"
echo "cache file: $dump_cache bytes after the first run on the dump, $(wc -c <"$work/cache")" \
     "after the warm run, $(wc -c <"$work/cache-of-dump") after the changed run"
echo "ratios (CPU): warm $(ratio cold warm)x faster than cold (goal 20x);" \
     "changed $(ratio changed-cold changed)x faster than without cache (goal 10x)"
echo "ratios (wall): warm $(awk -v a="$(cut -d' ' -f1 "$work/cold.time")" -v b="$(cut -d' ' -f1 "$work/warm.time")" 'BEGIN { printf "%.1f", a / b }')x," \
     "changed $(awk -v a="$(cut -d' ' -f1 "$work/changed-cold.time")" -v b="$(cut -d' ' -f1 "$work/changed.time")" 'BEGIN { printf "%.1f", a / b }')x"
echo "key lists: first $(same first "$work/cold.keys"), warm $(same warm "$work/cold.keys")" \
     "against the cold run; changed $(same changed "$work/changed-cold.keys") against its cache-less run;" \
     "cold $(same cold "$out/expected.keys"), changed $(same changed "$out/changed-expected.keys") against pgpgen's"
