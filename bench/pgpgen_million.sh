#!/bin/sh
# Makes the generated OpenPGP dump for korvalinde-keylist's verified-reading
# benchmark: 1,000,000 keys and about 6,000,000 certifications in 16 files,
# with the key list and names file korvalinde-keylist should make of it, and
# prints the time, the peak memory and the sizes. Not a test.
#
# usage: bench/pgpgen_million.sh [DUMP_DIR]   (default /tmp/pgpgen-million)
# Environment: KEYS (default 1000000), SEED (default 1), THREADS (default:
# the online processors). DUMP_DIR/expected.keys and expected.names are the
# references; the dump itself is DUMP_DIR/dump/*.pgp.
set -eu
cd "$(dirname "$0")/.."
out=${1:-/tmp/pgpgen-million}
keys=${KEYS:-1000000}
seed=${SEED:-1}
threads=${THREADS:-$(getconf _NPROCESSORS_ONLN)}
if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target pgpgen >/dev/null
mkdir -p "$out"
rm -rf "$out/dump"
/usr/bin/time -f "%e %U %S %M" -o "$out/pgpgen.time" \
    build-bench/tools/pgpgen -n "$keys" -m 6 -s "$seed" -j "$threads" --files 16 -o "$out/dump/" \
    --expect "$out/expected.keys" --expect-names "$out/expected.names"
read -r wall user sys peak <"$out/pgpgen.time"
bytes=$(cat "$out"/dump/*.pgp | wc -c)
records=$(grep -c '^p' "$out/expected.keys" || true)
signers=$(grep -c '^s' "$out/expected.keys" || true)
echo "pgpgen: $keys keys, seed $seed, $threads threads: $(awk -v b="$bytes" 'BEGIN { printf "%.0f MB", b / 1e6 }') in $out/dump"
echo "  $wall s wall, $user s user, $sys s system, peak $(awk -v p="$peak" 'BEGIN { printf "%.0f MB", p / 1024 }')"
echo "  expected key list: $records keys with $signers counted signers"
