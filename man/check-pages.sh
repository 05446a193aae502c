#!/bin/sh
# Formats each manual page given with groff, every warning enabled, and fails on any warning or
# on a placeholder the build left unfilled. Exits 77 (a skip for ctest) when groff is missing.
#   check-pages.sh PAGE...
if ! command -v groff >/dev/null 2>&1; then
    echo "groff not found (package groff-base): manual pages not checked"
    exit 77
fi
[ $# -gt 0 ] || { echo "usage: $0 PAGE..." >&2; exit 2; }
status=0
for page in "$@"; do
    failed=0
    if [ ! -r "$page" ]; then
        echo "FAIL $page: not readable"
        status=1
        continue
    fi
    # -k runs preconv, which reads the page's coding tag (the pages are UTF-8).
    warnings=$(LC_ALL=C.UTF-8 groff -k -man -ww -Tutf8 -z "$page" 2>&1) || {
        echo "FAIL $page: groff exited with an error"
        failed=1
    }
    if [ -n "$warnings" ]; then
        echo "FAIL $page: groff warnings:"
        printf '%s\n' "$warnings"
        failed=1
    fi
    if grep -n '@[A-Za-z_]*@' "$page"; then
        echo "FAIL $page: unfilled placeholder"
        failed=1
    fi
    if [ $failed -eq 0 ]; then echo "ok   $page"; else status=1; fi
done
exit $status
