#!/bin/sh
# Every top-level folder of the tree has a row in the layout table of
# docs/DEVELOPING.md, so that a new folder cannot arrive undocumented.
#
# usage: tools/layout_test.sh SOURCE_DIR
set -eu
root=$1
doc=$root/docs/DEVELOPING.md
missing=0
for dir in "$root"/*/ "$root"/.ci/; do
    [ -d "$dir" ] || continue
    name=$(basename "$dir")
    case $name in build* | .git) continue ;; esac
    # Only folders that hold tracked files count: build trees and scratch
    # folders left in a checkout are not part of the layout.
    if [ -d "$root/.git" ] && [ -z "$(git -C "$root" ls-files -- "$name" | head -n 1)" ]; then
        continue
    fi
    if ! grep -q "^| \`$name/\`" "$doc"; then
        echo "layout_test: '$name/' has no row in the layout table of $doc" >&2
        missing=1
    fi
done
[ "$missing" -eq 0 ] && echo "layout_test: every top-level folder is in the layout table"
exit "$missing"
