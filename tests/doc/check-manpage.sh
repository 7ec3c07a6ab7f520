#!/usr/bin/env bash
# Renders a manual page the way man(1) and groff do, with every warning on,
# and fails on any diagnostic; also checks that its NAME line gives a whatis
# entry and, given the menu's command table, that the page's MENU has an item
# for every command.
#
#   check-manpage.sh PAGE [COMMAND-TABLE-SOURCE]        (PAGE plain or gzipped)
set -u
page=$1
table=${2:-}
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
name=$(basename "$page"); name=${name%%.*}
if ! lexgrog "$page" | grep -q "$name - "; then
    echo "$page: its NAME section gives no whatis entry (lexgrog: $(lexgrog "$page" 2>&1))"
    status=1
fi
if [ -n "$table" ]; then
    rows=$(grep -oE '\{"[0-9]+", "[A-Za-z]+"' "$table" | tr -d '{"' | tr ',' ' ')
    [ -n "$rows" ] || { echo "no command rows found in $table"; status=1; }
    while read -r number name; do
        [ -n "$number" ] || continue
        grep -qE "^\.B $number\. $name( |\$)" <<<"$text" ||
            { echo "$page: the MENU section has no item \"$number. $name\""; status=1; }
    done <<<"$rows"
fi
exit $status
