#!/bin/sh
# cmake --install with prefix /usr and a DESTDIR: the tree holds the programs,
# a manual page for each and the documentation, nothing else; every program
# runs its help from there, and korvalinde analyses the installed sample
# and korvalinde-path answers a query on it.
# usage: install_tree_test.sh BUILD_DIR
[ -f "$1/cmake_install.cmake" ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$1
work=$(mktemp -d) || exit 2
trap 'rm -rf "$work"' EXIT
trap 'exit 1' HUP INT TERM
. "$(dirname "$0")/install_checks.sh"

dest=$work/dest
install_into "$dest" "$build"
usr=$dest/usr
doc=share/doc/nimvara-korvalinde

for program in nimvara korvalinde korvalinde-path; do
    [ -f "$usr/bin/$program" ] || fail "$program is not installed"
done
for program in "$usr"/bin/*; do
    name=$(basename "$program")
    [ -f "$program" ] && [ -x "$program" ] || fail "bin/$name is not an executable file"
    [ -f "$usr/share/man/man1/$name.1" ] || fail "bin/$name has no page share/man/man1/$name.1"
    check_help "$program"
done
# The unit starts the installed server.
unit=$usr/lib/systemd/system/korvalinde-serve.service
grep -q '^ExecStart=/usr/bin/korvalinde-serve ' "$unit" 2>/dev/null ||
    fail "korvalinde-serve.service is missing or does not start /usr/bin/korvalinde-serve"
for file in README.md copyright examples/sample.keys examples/passphrase.txt; do
    [ -f "$usr/$doc/$file" ] || fail "$doc/$file is not installed"
done

# Every installed file is a program, the manual page of one, or documentation:
# test tools, benchmarks and libraries stay in the build tree.
(cd "$dest" && find . ! -type d) | sed 's|^\./||' | sort | while read -r path; do
    case $path in
    usr/bin/*) ;;
    usr/share/man/man1/*.1) [ -f "$usr/bin/$(basename "$path" .1)" ] ||
        echo "FAIL: $path is the page of no installed program" ;;
    usr/$doc/*) ;;
    usr/lib/systemd/system/korvalinde-serve.service) ;;
    *) echo "FAIL: unexpected installed file $path" ;;
    esac
done >"$work/unexpected"
if [ -s "$work/unexpected" ]; then
    cat "$work/unexpected"
    fail "the install tree holds unexpected files"
fi

check_sample_analysis "$usr/bin/korvalinde" "$usr/$doc/examples/sample.keys"
check_sample_path "$usr/bin/korvalinde-path" "$usr/$doc/examples/sample.keys"
mangled=$("$usr/bin/nimvara" -P -p "$usr/$doc/examples/passphrase.txt")
[ "$mangled" = 'correct\040horse\040battery\040staple\012' ] ||
    fail "nimvara -P on the installed sample passphrase printed: $mangled"
finish
