#!/usr/bin/env bash
# The dynamic symbols a shared libztc defines must be exactly the functions and data
# that the installed public headers declare.
# Usage: exported_symbols.sh <libztc.so> <installed include dir>
set -euo pipefail
lib=$1 include=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

nm -D --defined-only --format=posix "$lib" | awk '{print $1}' | sort -u >"$work/exported"

# Declarations: comments removed, statements joined, then the name before "(" of a
# prototype, the "(*name)" of a function-pointer datum, or the name of an extern datum.
find "$include" -name '*.h' -exec cat {} + |
    sed -e 's#/\*.*\*/##g' -e '/\/\*/,/\*\//d' -e '/^[[:space:]]*#/d' |
    tr '\n' ' ' | tr ';{}' '\n\n\n' |
    sed -n -e 's/^[[:space:]]*extern[^(]*(\*[[:space:]]*\([A-Za-z_][A-Za-z0-9_]*\)).*/\1/p' \
           -e 't' \
           -e 's/^[[:space:]]*extern[^(]*[[:space:]*]\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*\(\[[^]]*\][[:space:]]*\)*$/\1/p' \
           -e 't' \
           -e '/typedef/d' \
           -e 's/^[[:space:]]*[A-Za-z_][A-Za-z0-9_ *]*[[:space:]*]\([A-Za-z_][A-Za-z0-9_]*\)[[:space:]]*(.*/\1/p' |
    sort -u >"$work/declared"

if ! diff -u "$work/declared" "$work/exported" >"$work/diff"; then
    echo "declared in the public headers (-) and exported by $lib (+) differ:"
    grep '^[-+][^-+]' "$work/diff"
    exit 1
fi
echo "exported symbols: $(wc -l <"$work/declared") names, as declared"
