#!/bin/sh
# korvalinde-serve under load on loopback: 64 keep-alive clients (wrk, two
# threads) asking /api/path for random reachable pairs and /api/search for
# names, on a generated key list with a names file. Prints the start-up time
# (until the server says it listens), wrk's latency distribution, and the
# peak memory of the server beside korvalinde-path's on the same list.
# Every run is bounded in time (DURATION seconds each) and stays on 127.0.0.1.
# usage: bench/serve_load.sh [BUILD_DIR] [KEYS] [DURATION]
#   KEYS defaults to /tmp/serve_bench/k1m.keys, made with keygen when missing
#   (1,000,000 keys, about 6,000,000 signatures).
set -eu
BUILD=${1:-build}
KEYS=${2:-/tmp/serve_bench/k1m.keys}
DURATION=${3:-20}
command -v wrk >/dev/null || { echo "wrk is not installed (apt-get install wrk)" >&2; exit 2; }
SERVE=$BUILD/serve/korvalinde-serve
PATHQ=$BUILD/path/korvalinde-path
WORK=$(mktemp -d "${TMPDIR:-/tmp}/serve-load.XXXXXX")
server=""
cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ ! -f "$KEYS" ]; then
    mkdir -p "$(dirname "$KEYS")"
    "$BUILD/tools/keygen" -n 1000000 -s 1 -o "$KEYS"
fi
# A names file: one made-up user id per key.
awk 'substr($0, 1, 1) == "p" { printf "%s\tPerson %d <p%d@example.org>\n", substr($0, 2, 16), n, n; n++ }' \
    "$KEYS" >"$WORK/names"

# 1,000 random pairs that korvalinde-path finds reachable.
awk 'substr($0, 1, 1) == "p" { print substr($0, 2, 16) }' "$KEYS" |
    python3 -c '
import random, sys
ids = sys.stdin.read().split()
rng = random.Random(1)
for _ in range(3000):
    print(rng.choice(ids), rng.choice(ids))' >"$WORK/candidates"
"$PATHQ" -i "$KEYS" --json - <"$WORK/candidates" |
    python3 -c '
import json, sys
n = 0
for line in sys.stdin:
    a = json.loads(line)
    if a.get("hops") is not None and n < 1000:
        print("/api/path?from=%s&to=%s" % (a["from"], a["to"]))
        n += 1' >"$WORK/paths"
echo "pairs: $(wc -l <"$WORK/paths") reachable"
# Searches: the start of a name (many matches, stops early), a whole
# user id (one match, scans on), and a text no name holds (scans all).
python3 -c '
import random
rng = random.Random(2)
for _ in range(300):
    n = rng.randrange(1000000)
    print("/api/search?q=person+%d" % n)
    print("/api/search?q=%%3Cp%d%%40example.org%%3E" % n)
    print("/api/search?q=nobody+%d" % n)' >"$WORK/searches"

cat >"$WORK/pick.lua" <<'LUA'
local targets = {}
function init(args)
  for line in io.lines(args[1]) do targets[#targets + 1] = line end
  math.randomseed(os.time() + tonumber(tostring({}):sub(8), 16))
end
function request()
  return wrk.format("GET", targets[math.random(#targets)])
end
LUA

echo "== korvalinde-path on the same list and names (one query)"
first=$(head -1 "$WORK/candidates")
# shellcheck disable=SC2086
"$PATHQ" -i "$KEYS" -N "$WORK/names" --stats $first 2>&1 >/dev/null | grep start-up

echo "== korvalinde-serve start-up"
start=$(date +%s.%N)
"$SERVE" -i "$KEYS" -N "$WORK/names" -l 127.0.0.1:0 -q -j 2 >"$WORK/serve.out" &
server=$!
waited=0
until grep -q listening "$WORK/serve.out" 2>/dev/null; do
    sleep 0.05
    waited=$((waited + 1))
    [ "$waited" -lt 1200 ] || { echo "not listening after 60 s" >&2; exit 1; }
done
now=$(date +%s.%N)
ticks=$(getconf CLK_TCK)
cpu=$(awk -v t="$ticks" '{ printf "%.2f", ($14 + $15) / t }' "/proc/$server/stat")
echo "listening after $(echo "$now - $start" | bc) s wall, $cpu s CPU"
port=$(sed 's|.*:\([0-9]*\)/$|\1|' "$WORK/serve.out")
grep VmHWM "/proc/$server/status"

cpu_used() { awk '{ print $14 + $15 }' "/proc/$server/stat"; }
echo "== /api/path, 64 connections, $DURATION s"
before=$(cpu_used)
wrk -t2 -c64 -d"${DURATION}s" --latency -s "$WORK/pick.lua" "http://127.0.0.1:$port" -- "$WORK/paths" |
    tee "$WORK/wrk.out"
requests=$(sed -n 's/^ *\([0-9]*\) requests in.*/\1/p' "$WORK/wrk.out")
echo "server CPU per request: $(echo "scale=3; ($(cpu_used) - $before) * 1000 / $ticks / $requests" | bc) ms"
echo "== /api/search, 64 connections, $DURATION s"
wrk -t2 -c64 -d"${DURATION}s" --latency -s "$WORK/pick.lua" "http://127.0.0.1:$port" -- "$WORK/searches"
echo "== /api/search, 4 connections, $DURATION s"
wrk -t1 -c4 -d"${DURATION}s" --latency -s "$WORK/pick.lua" "http://127.0.0.1:$port" -- "$WORK/searches"
echo "== korvalinde-serve peak memory"
grep VmHWM "/proc/$server/status"
kill -TERM "$server"
wait "$server" && echo "stopped: exit 0"
server=""
