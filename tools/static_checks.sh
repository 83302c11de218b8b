#!/bin/sh
# Static checks: clang-format (style in .clang-format) over every C and C++
# file git tracks, then clang-tidy (settings in .clang-tidy) and cppcheck over
# every C++ source in the compile database: programs, tests, tools and
# benchmarks, including directories added later. Prints every finding and
# exits 1 if there is any, 0 if every tool is clean, 2 if a tool is missing.
#
# Usage: tools/static_checks.sh [--fast] [BUILD_DIR]     (default: build)
#
# --fast, for CI: clang-tidy leaves out the GoogleTest sources (*_test.cc),
# where parsing GoogleTest costs most of the time, and runs the
# clang-analyzer-* checks only on the sources of the programs and what they
# share (wrapper/, analyser/, keylist/, html_summary/, path/, common/, without
# their test helpers); every other
# source gets every other check, and cppcheck checks every file as always.
# Without it (the default) every file gets every check.
#
# The build directory only needs to be configured, not built: it is configured
# here (Ninja, compile commands exported) when it has no compile_commands.json.
#
# Environment: CLANG_FORMAT, CLANG_TIDY and CPPCHECK name the programs
# (default clang-format-14 or clang-format, clang-tidy-14 or clang-tidy, and
# cppcheck); STATIC_CHECKS_JOBS the parallel clang-tidy runs
# (default: online processors).
#
# clang-tidy 14 reads the compile commands g++ 12 uses. It parses libstdc++ 12
# in C++20 mode without help, and the sanitizer flags (-fsanitize=...,
# -fno-sanitize-recover=all) are clang's too; -static-libstdc++ and
# -static-libgcc are link flags and never reach it. The only addition is
# -Wno-unknown-warning-option, so that a g++-only warning option added to the
# build (such as -Wno-stringop-overflow) does not stop clang-tidy.
set -eu

fast=0
if [ "${1:-}" = --fast ]; then
    fast=1
    shift
fi

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac

pick() {
    for candidate in "$@"; do
        if command -v "$candidate" >/dev/null 2>&1; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}
format=${CLANG_FORMAT:-$(pick clang-format-14 clang-format || true)}
tidy=${CLANG_TIDY:-$(pick clang-tidy-14 clang-tidy || true)}
cppcheck=${CPPCHECK:-$(pick cppcheck || true)}
if [ -z "$format" ] || [ -z "$tidy" ] || [ -z "$cppcheck" ]; then
    echo "static_checks: needs clang-format (Debian: clang-format-14), clang-tidy" \
        "(clang-tidy-14) and cppcheck" >&2
    exit 2
fi
jobs=${STATIC_CHECKS_JOBS:-$(getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2)}

if [ ! -f "$build/compile_commands.json" ]; then
    if [ -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    else
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    fi
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/static_checks.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# Every project source the build compiles, once each. Sources generated into a
# build directory and third-party code (fetched dependencies) are left out.
sed -n 's/^ *"file": *"\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" |
    while IFS= read -r file; do
        case $file in
        "$build"/* | "$root"/build*/* | */_deps/* | */third_party/*) ;;
        "$root"/*) echo "$file" ;;
        esac
    done | sort -u >"$work/files"
count=$(wc -l <"$work/files")
if [ "$count" -eq 0 ]; then
    echo "static_checks: no project sources in $build/compile_commands.json" >&2
    exit 2
fi

status=0

# One style for the whole tree: every tracked C and C++ file, changed or not,
# must be as clang-format writes it.
echo "static_checks: clang-format"
if ! git -C "$root" ls-files -z '*.c' '*.cc' '*.h' | (cd "$root" && xargs -0 "$format" --dry-run -Werror); then
    echo "static_checks: clang-format: files above differ from the style; run" \
        "git ls-files '*.c' '*.cc' '*.h' | xargs $format -i"
    status=1
else
    echo "static_checks: clang-format: clean"
fi

tidy_files=$work/files
if [ "$fast" -eq 1 ]; then
    # Most of clang-tidy's time on a GoogleTest source is parsing GoogleTest;
    # the fast run leaves those sources to cppcheck and the full run.
    grep -v '_test\.cc$' "$work/files" >"$work/tidy_files" || true
    tidy_files=$work/tidy_files
    echo "static_checks: clang-tidy on $(wc -l <"$tidy_files") of $count files, $jobs at a time" \
        "(fast: no GoogleTest sources; the analyzer on the program sources only)"
else
    echo "static_checks: clang-tidy on $count files, $jobs at a time"
fi
# Each file's report goes to its own log, so parallel runs never interleave.
mkdir "$work/tidy"
tr '\n' '\0' <"$tidy_files" |
    xargs -0 -n 1 -P "$jobs" sh -c '
        log="$1/$(printf %s "$5" | tr / _).log"
        skip=
        # Fast: the path-sensitive analyser only on the program sources;
        # tests, test helpers, tools, benchmarks and harnesses get every
        # other check.
        if [ "$4" = 1 ]; then
            case $5 in
            */wrapper/fake_gpg.cc | */wrapper/ptrace_probe.cc | */wrapper/memory_probe.cc | \
                */analyser/graph_fixture.cc | \
                */keylist/test_listings.cc | */html_summary/test_dirs.cc | */path/path_test_graphs.cc)
                skip="--checks=-clang-analyzer-*" ;;
            */wrapper/* | */analyser/* | */keylist/* | */html_summary/* | */path/* | */common/* | \
                */serve/*) ;;
            *) skip="--checks=-clang-analyzer-*" ;;
            esac
        fi
        if ! "$2" -p "$3" --quiet --extra-arg=-Wno-unknown-warning-option ${skip:+"$skip"} \
            "$5" >"$log" 2>&1; then
            echo "$5" >"$log.failed"
        fi' sh "$work/tidy" "$tidy" "$build" "$fast" || true
# "N warnings generated" is clang's count of diagnostics filtered out: noise.
for failed in "$work"/tidy/*.failed; do
    [ -e "$failed" ] || continue
    grep -v '^[0-9]* warnings\{0,1\} generated\.$\|^Suppressed [0-9]* warnings\|^Use -header-filter\|warnings treated as errors$' \
        "${failed%.failed}" || true
    status=1
done
# A header's finding shows once per file that includes it; count it once.
findings=$(cat "$work"/tidy/*.log | grep -c '^[^ ].*:[0-9]*:[0-9]*: error: .*\]$' | tr -d ' ' || true)
unique=$(cat "$work"/tidy/*.log | grep '^[^ ].*:[0-9]*:[0-9]*: error: .*\]$' | sort -u | wc -l | tr -d ' ')
if [ "$status" -ne 0 ]; then
    echo "static_checks: clang-tidy: $unique distinct findings ($findings reports)"
    if [ "$unique" -eq 0 ]; then
        echo "static_checks: clang-tidy failed without a finding (see above)"
    fi
else
    echo "static_checks: clang-tidy: clean"
fi

echo "static_checks: cppcheck"
# The standard library's configuration is always loaded; posix and googletest
# describe the other interfaces the code uses. System headers (GoogleTest's
# internals among them) are not on the include paths, so they are not checked.
if ! "$cppcheck" --project="$build/compile_commands.json" \
    --enable=warning,style,performance,portability --std=c++20 \
    --library=posix --library=googletest \
    --inline-suppr --suppressions-list="$root/tools/cppcheck_suppressions.txt" \
    --suppress=missingIncludeSystem --suppress='*:/usr/include/*' \
    -i "$build" -j "$jobs" --quiet --error-exitcode=1 \
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]'; then
    echo "static_checks: cppcheck: findings above"
    status=1
else
    echo "static_checks: cppcheck: clean"
fi

exit "$status"
