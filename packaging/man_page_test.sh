#!/bin/sh
# Every manual page in the source tree (any DIR/NAME.1) formats without a
# single warning from groff or man, and its NAME and SYNOPSIS sections name
# the program NAME; every installed program has its page installed.
# usage: man_page_test.sh SOURCE_DIR BUILD_DIR
[ -d "$1" ] && [ -f "$2/cmake_install.cmake" ] || {
    echo "usage: $0 SOURCE_DIR BUILD_DIR" >&2
    exit 2
}
source_dir=$1
build=$2
command -v groff >/dev/null && command -v man >/dev/null || {
    echo "groff or man is not installed"
    exit 77
}
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
. "$(dirname "$0")/install_checks.sh"
LC_ALL=C.UTF-8
MANWIDTH=80
export LC_ALL MANWIDTH

# No warnings from groff or from man, each with every warning enabled.
lint() { # PAGE NAME_TO_SHOW
    groff -man -ww -z -Tutf8 "$1" 2>"$work/lint.err" || fail "$2: groff failed"
    man --warnings=w -l "$1" 2>>"$work/lint.err" >/dev/null || fail "$2: man -l failed"
    if [ -s "$work/lint.err" ]; then
        fail "$2: warnings:"
        cat "$work/lint.err"
    fi
}

# The first line of a section of the page rendered as plain text.
first_line_of() { # PAGE SECTION
    groff -man -Tascii -P-cbou "$1" 2>/dev/null |
        awk -v section="$2" '
            found && NF { gsub(/[ \t]+/, " "); sub(/^ /, ""); print; exit }
            $0 == section { found = 1 }'
}

pages=0
for page in "$source_dir"/*/*.1; do
    [ -f "$page" ] || continue
    pages=$((pages + 1))
    name=$(basename "$page" .1)
    shown=${page#"$source_dir"/}
    lint "$page" "$shown"
    case $(first_line_of "$page" NAME) in
    "$name - "* | "$name, "*) ;;
    *) fail "$shown: NAME does not start with \"$name - \"" ;;
    esac
    case $(first_line_of "$page" SYNOPSIS) in
    "$name" | "$name "*) ;;
    *) fail "$shown: SYNOPSIS does not start with $name" ;;
    esac
done
[ "$pages" -ge 2 ] || fail "found only $pages manual pages in $source_dir/*/"

# The installed pages: one per installed program, as clean as their sources.
install_into "$work/dest" "$build"
for program in "$work"/dest/usr/bin/*; do
    name=$(basename "$program")
    page=$work/dest/usr/share/man/man1/$name.1
    if [ -f "$page" ]; then
        lint "$page" "installed $name.1"
    else
        fail "$name is installed without its page $name.1"
    fi
done
finish
