#!/bin/sh
# Times korvalinde-keylist on a synthetic gpg listing of about 1.1 GB
# (1,000,000 keys, 8 million certifications) and prints MB/s and the peak
# memory. Not a test: it writes the listing to WORK_DIR (default /tmp).
#
# usage: bench/keylist_speed.sh [WORK_DIR]
# Environment: KEYS (default 1000000) keys in the listing.
set -eu
cd "$(dirname "$0")/.."
work=${1:-/tmp}
keys=${KEYS:-1000000}
if ! [ -x /usr/bin/time ]; then
    echo "bench: /usr/bin/time is missing (Debian package 'time')" >&2
    exit 1
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j 2 --target korvalinde-keylist listing_generator >/dev/null
listing=$work/keylist-bench-listing.txt
trap 'rm -f "$listing" "$work/keylist-bench.keys" "$work/keylist-bench.time"' EXIT
build-bench/bench/listing_generator "$keys" 1 >"$listing"
bytes=$(stat -c %s "$listing")
cat "$listing" >/dev/null # from the page cache, as a pipe from gpg would be

for run in 1 2 3; do
    /usr/bin/time -f "%e %U %S %M" -o "$work/keylist-bench.time" \
        build-bench/keylist/korvalinde-keylist -o "$work/keylist-bench.keys" "$listing"
    read -r wall user sys peak <"$work/keylist-bench.time"
    awk -v b="$bytes" -v w="$wall" -v u="$user" -v s="$sys" -v p="$peak" -v r="$run" 'BEGIN {
        printf "run %d: %.0f MB in %.2f s wall (%.0f MB/s), %.2f s CPU (%.0f MB/s), peak %.0f MB\n",
               r, b / 1e6, w, b / 1e6 / w, u + s, b / 1e6 / (u + s), p / 1024 }'
done
echo "key list: $(stat -c %s "$work/keylist-bench.keys") bytes"
