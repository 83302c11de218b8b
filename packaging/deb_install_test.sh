#!/bin/sh
# Packs an already built release tree with cpack -G DEB (twice: the same
# build must give the same package), checks the control data and the file
# list, installs the package with dpkg, runs every installed program, finds
# every manual page with man, analyses the shipped sample, removes the
# package and checks that every file it brought is gone.
# It changes the system, so it is a step of continuous integration and not a
# CTest test; whatever fails, it removes what it installed before it exits.
# usage: deb_install_test.sh BUILD_DIR   (exit status 77: skipped)
[ $# -eq 1 ] && [ -f "$1/CPackConfig.cmake" ] || {
    echo "usage: $0 BUILD_DIR (a configured and built tree)" >&2
    exit 2
}
build=$(cd "$1" && pwd) || exit 2
package=nimvara-korvalinde
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package with dpkg needs root"
    exit 77
fi
for tool in cpack dpkg dpkg-deb dpkg-query man gzip od; do
    command -v "$tool" >/dev/null || {
        echo "skipped: $tool is not installed"
        exit 77
    }
done
LC_ALL=C.UTF-8
MANWIDTH=80
export LC_ALL MANWIDTH
started=$(date +%s)

work=$(mktemp -d) || exit 2
installed=no
cleanup() {
    if [ "$installed" = yes ] && ! dpkg --purge "$package" >"$work/purge.log" 2>&1; then
        cat "$work/purge.log"
        echo "FAIL: could not remove $package again: remove it by hand with dpkg --purge $package"
    fi
    cd / && rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
. "$(dirname "$0")/install_checks.sh"

package_status() { dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null; }

status=$(package_status)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
    echo "FAIL: $package is already known to dpkg ($status); remove it with dpkg --purge $package"
    exit 1
fi

# The package, made twice into directories of its own; the build tree is
# only read.
make_package() { # DIR
    mkdir "$1" && (cd "$1" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$1") \
        >"$1.log" 2>&1 || {
        cat "$1.log"
        fail "cpack failed"
        finish
    }
    set -- "$1"/*.deb
    [ $# -eq 1 ] && [ -f "$1" ] || {
        fail "cpack made no single .deb: $*"
        finish
    }
    echo "$1"
}
deb=$(make_package "$work/first") || exit 1
again=$(make_package "$work/second") || exit 1
echo "package: $(basename "$deb"), $(wc -c <"$deb") bytes"

# Same build, same package: control data, checksums and file list (modes,
# owners, sizes, names; the time stamps are those of the staging).
describe() { # DEB
    dpkg-deb -f "$1"
    dpkg-deb -I "$1" md5sums
    dpkg-deb --contents "$1" | awk '{ $4 = ""; $5 = ""; print }'
}
describe "$deb" >"$work/first.txt"
describe "$again" >"$work/second.txt"
cmp -s "$work/first.txt" "$work/second.txt" || {
    diff "$work/first.txt" "$work/second.txt"
    fail "two packages of the same build differ"
}

# Control data.
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = "$package" ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version), not $version-1"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
    fail "Architecture: $(field Architecture)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
[ "$(field Maintainer)" = "the nimvara and korvalinde developers <maintainers@nimvara.example.org>" ] ||
    fail "Maintainer: $(field Maintainer)"
[ "$(field Homepage)" = "https://nimvara.example.org/" ] || fail "Homepage: $(field Homepage)"
[ "$(field Recommends)" = gnupg ] || fail "Recommends: $(field Recommends)"
case $(field Depends) in
*libc6*) ;;
*) fail "Depends lacks libc6: $(field Depends)" ;;
esac
case $(field Depends) in
*libssl3*) ;;
*) fail "Depends lacks libssl3 (korvalinde-keylist's libcrypto): $(field Depends)" ;;
esac
description=$(field Description)
[ "$(printf '%s\n' "$description" | wc -l)" -gt 3 ] || fail "no long description"
printf '%s\n' "$description" | awk 'length > 79 { exit 1 }' || fail "description lines over 79 characters"

# The file list: programs, their gzip'd pages and the documentation.
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' >"$work/files"
grep -qx /usr/bin/nimvara "$work/files" || fail "no /usr/bin/nimvara"
grep -qx /usr/bin/korvalinde "$work/files" || fail "no /usr/bin/korvalinde"
grep -qx /usr/bin/korvalinde-path "$work/files" || fail "no /usr/bin/korvalinde-path"
grep -qx "/usr/share/doc/$package/copyright" "$work/files" || fail "no copyright file"
grep -qx /usr/lib/systemd/system/korvalinde-serve.service "$work/files" ||
    fail "no korvalinde-serve.service"
while read -r path; do
    case $path in
    /usr/bin/*) grep -qx "/usr/share/man/man1/${path##*/}.1.gz" "$work/files" ||
        echo "FAIL: $path has no page /usr/share/man/man1/${path##*/}.1.gz" ;;
    /usr/share/man/man1/*.1.gz) name=${path##*/} && name=${name%.1.gz} &&
        grep -qx "/usr/bin/$name" "$work/files" || echo "FAIL: $path is the page of no program" ;;
    /usr/share/doc/"$package"/*) ;;
    /usr/lib/systemd/system/korvalinde-serve.service) ;;
    *) echo "FAIL: unexpected file in the package: $path" ;;
    esac
done <"$work/files" >"$work/unexpected"
if [ -s "$work/unexpected" ]; then
    cat "$work/unexpected"
    fail "the package's file list is wrong"
fi

# The pages are gzip'd without name and time stamp, so the same page always
# packs to the same bytes; the programs are stripped.
dpkg-deb -x "$deb" "$work/tree"
for page in "$work"/tree/usr/share/man/man1/*.gz; do
    header=$(od -An -tu1 -N8 "$page" | tr -s ' ')
    [ "$header" = " 31 139 8 0 0 0 0 0" ] || fail "${page##*/}: gzip header with name or time:$header"
done
if command -v readelf >/dev/null; then
    for program in "$work"/tree/usr/bin/*; do
        ! readelf -S "$program" | grep -q '\.symtab' || fail "${program##*/} is not stripped"
    done
fi

# Nothing that dpkg -i would silently overwrite, and so dpkg -r delete.
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then echo "$path"; fi
done <"$work/files" >"$work/present"
if [ -s "$work/present" ]; then
    cat "$work/present"
    fail "files of the package are already on this system; remove them first"
    finish
fi

# Install, and use what was installed.
installed=yes
dpkg -i "$deb" >"$work/install.log" 2>&1 || {
    cat "$work/install.log"
    fail "dpkg -i failed"
    finish
}
[ "$(package_status)" = installed ] || fail "dpkg reports $package as $(package_status)"
while read -r path; do
    [ -e "$path" ] || fail "$path is not installed"
done <"$work/files"
for program in $(grep '^/usr/bin/' "$work/files"); do
    name=${program##*/}
    check_help "$program"
    man -w -a "$name" 2>/dev/null | grep -qx "/usr/share/man/man1/$name.1.gz" ||
        fail "man -w $name does not find /usr/share/man/man1/$name.1.gz"
    man --warnings=w "$name" 2>"$work/man.err" >/dev/null || fail "man $name failed"
    if [ -s "$work/man.err" ]; then
        cat "$work/man.err"
        fail "man $name: warnings"
    fi
done
check_sample_analysis /usr/bin/korvalinde "/usr/share/doc/$package/examples/sample.keys"
check_sample_path /usr/bin/korvalinde-path "/usr/share/doc/$package/examples/sample.keys"
mangled=$(/usr/bin/nimvara -P -p "/usr/share/doc/$package/examples/passphrase.txt")
[ "$mangled" = 'correct\040horse\040battery\040staple\012' ] ||
    fail "nimvara -P on the installed sample passphrase printed: $mangled"

# Remove it, and nothing of it stays.
if dpkg --purge "$package" >"$work/purge.log" 2>&1; then
    installed=no
else
    cat "$work/purge.log"
    fail "dpkg --purge failed"
fi
status=$(package_status)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "dpkg still knows $package: $status"
while read -r path; do
    if [ -e "$path" ] || [ -L "$path" ]; then fail "$path is still there after dpkg --purge"; fi
done <"$work/files"
[ ! -e "/usr/share/doc/$package" ] || fail "/usr/share/doc/$package is still there"

echo "package test took $(($(date +%s) - started)) s"
finish
