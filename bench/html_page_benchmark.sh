#!/bin/sh
# Measures korvalinde-html on a large analyser output: run time, peak memory
# and page size, for the default ranking limit and for -n 0, each with a
# page per analysed key; and with the key pages bounded to 1,000 (-m 1000).
# Usage: bench/html_page_benchmark.sh BUILD-DIR [KEYS] [OUTPUT-DIR]
# Without OUTPUT-DIR it generates KEYS keys (default 200000, 6 signatures a
# key, seed 1), analyses them into a scratch directory and removes it after;
# with it, it measures the page for an existing output directory.
set -eu
build=$1
keys=${2:-200000}
html=$build/html_summary/korvalinde-html
if [ $# -ge 3 ]; then
    out=$3
else
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    "$build/tools/keygen" -n "$keys" -m 6 -s 1 -o "$work/keys"
    "$build/analyser/korvalinde" -o "$work/out" "$work/keys" >/dev/null
    out=$work/out
fi
# The page, its keys/ and index/ in a directory of their own.
pages=$(mktemp -d)
page=$pages/index.html
trap 'rm -rf "$pages"; [ -z "${work:-}" ] || rm -rf "$work"' EXIT
printf 'korvalinde-html: %s keys in msd.txt\n' "$(wc -l <"$out/msd.txt")"
for args in "-n 1000 -m 1000" "-n 1000" "-n 0"; do
    # /usr/bin/time (Debian package "time") reports the peak resident size.
    # shellcheck disable=SC2086 # the options split on purpose
    /usr/bin/time -f "korvalinde-html $args: %e s elapsed, %M KB peak memory" \
        "$html" $args -o "$page" "$out"
    printf 'korvalinde-html %s: page of %s bytes, %s key pages\n' "$args" "$(wc -c <"$page")" \
        "$(ls "$pages/keys" | wc -l)"
done
