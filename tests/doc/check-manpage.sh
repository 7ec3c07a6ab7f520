#!/usr/bin/env bash
# Renders a manual page the way man(1) and groff do, with every warning on,
# and fails on any diagnostic; also checks that its NAME line gives a whatis
# entry.
#
#   check-manpage.sh PAGE        (plain or gzip-compressed)
set -u
page=$1
status=0
export LC_ALL=C.UTF-8

text=$(zcat -f "$page")
diagnostics=$(printf '%s\n' "$text" | groff -man -ww -z -Tutf8 2>&1)
if [ -n "$diagnostics" ]; then
    echo "groff warns about $page:"
    echo "$diagnostics"
    status=1
fi
diagnostics=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
if [ -n "$diagnostics" ]; then
    echo "man warns about $page:"
    echo "$diagnostics"
    status=1
fi
if ! lexgrog "$page" | grep -q 'UserServiceCommand - '; then
    echo "$page: its NAME section gives no whatis entry (lexgrog: $(lexgrog "$page" 2>&1))"
    status=1
fi
exit $status
