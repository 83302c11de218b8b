# Checks shared by the install-tree, manual-page and package tests; sourced.
# Each check reports with fail() and the caller ends with finish().

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
finish() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
    exit 0
}

# The option that makes PROGRAM print its help. The two original programs
# take -h only; every later one takes --help.
help_option() {
    case $1 in
    nimvara | korvalinde) echo -h ;;
    *) echo --help ;;
    esac
}

# The installed PROGRAM (a path) prints its help on standard output, nothing
# on standard error, and exits with 0.
check_help() {
    name=$(basename "$1")
    opt=$(help_option "$name")
    "$1" "$opt" </dev/null >"$work/help.out" 2>"$work/help.err"
    status=$?
    [ "$status" -eq 0 ] || fail "$name $opt: exit status $status"
    [ -s "$work/help.out" ] || fail "$name $opt: nothing on standard output"
    if [ -s "$work/help.err" ]; then
        fail "$name $opt: wrote to standard error:"
        cat "$work/help.err"
    fi
}

# Installs the build BUILD_DIR with prefix /usr under DESTDIR DEST; fails
# unless everything it reports installing is under DEST.
install_into() { # DEST BUILD_DIR
    if ! DESTDIR=$1 "${CMAKE:-cmake}" --install "$2" --prefix /usr >"$work/install.log" 2>&1; then
        cat "$work/install.log"
        fail "cmake --install $2 failed"
        finish
    fi
    grep -E '^-- (Installing|Up-to-date): ' "$work/install.log" | sed 's/^-- [^:]*: //' |
        while read -r path; do
            case $path in
            "$1"/*) ;;
            *) echo "FAIL: installed outside DESTDIR: $path" ;;
            esac
        done >"$work/outside"
    if [ -s "$work/outside" ]; then
        cat "$work/outside"
        fail "cmake --install ignored DESTDIR"
    fi
}

# The installed korvalinde (a path) analyses the shipped sample in a fresh
# directory and finds what the README promises.
check_sample_analysis() { # KORVALINDE SAMPLE
    mkdir "$work/analysis" && cd "$work/analysis" || {
        fail "cannot make $work/analysis"
        return
    }
    if ! "$1" -o out "$2" >stdout 2>stderr; then
        fail "korvalinde on the sample failed"
        cat stderr
    fi
    grep -qx 'reachable set is size 300' out/status.txt 2>/dev/null ||
        fail "korvalinde on the sample: reachable set is not 300 keys"
    grep -qx 'strongly connected set is size 140' out/status.txt 2>/dev/null ||
        fail "korvalinde on the sample: strong set is not 140 keys"
    grep -qx 'Average mean is    3.8710' out/other.txt 2>/dev/null ||
        fail "korvalinde on the sample: wrong average mean"
    cd "$work" || exit 2
}

# The installed korvalinde-path (a path) answers a query between two keys of
# the shipped sample (its first and second key, joined by 3 hops).
check_sample_path() { # KORVALINDE_PATH SAMPLE
    from=$(sed -n 1p "$2" | cut -c2-17)
    to=$(grep '^p' "$2" | sed -n 2p | cut -c2-17)
    answer=$("$1" -i "$2" --json -n 1 "$from" "$to" 2>&1) ||
        fail "korvalinde-path on the sample failed: $answer"
    case $answer in
    *'"hops":3,'*) ;;
    *) fail "korvalinde-path on the sample: $answer" ;;
    esac
}
