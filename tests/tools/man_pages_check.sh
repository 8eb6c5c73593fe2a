#!/usr/bin/env bash
# Installs the programs' component of a build tree into a temporary prefix and
# renders each manual page found where cmake --install puts it, with every groff
# warning counted as an error (groff itself exits with 0 on warnings).
# Usage: man_pages_check.sh <build dir>
set -euo pipefail
build=$1
if ! command -v groff >/dev/null; then
    echo "SKIP: groff is not installed (.ci/install-deps installs groff-base)"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --component programs --prefix "$work" >/dev/null
status=0
for page in vantle-launcher vantle-bhint ztc-logdump; do
    file=$work/share/man/man1/$page.1
    if [ ! -f "$file" ]; then
        echo "FAIL: $page.1 is not installed in share/man/man1"
        status=1
        continue
    fi
    warnings=$(groff -man -ww -z "$file" 2>&1) || { echo "FAIL: groff failed on $page.1"; status=1; }
    if [ -n "$warnings" ]; then
        echo "FAIL: $page.1:"
        echo "$warnings"
        status=1
    fi
    text=$(groff -man -Tutf8 -P-cbou "$file" 2>/dev/null)
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" FILES EXAMPLES; do
        [ "$page" = ztc-logdump ] && [ "$section" = FILES ] && continue
        grep -qx "$section" <<<"$text" || { echo "FAIL: $page.1 has no $section section"; status=1; }
    done
done
[ $status -eq 0 ] && echo "man pages: all rendered without warnings"
exit $status
