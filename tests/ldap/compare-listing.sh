#!/usr/bin/env bash
# Command 2 on the container of 2,000 users, once through slapd (which pages
# it: 500 entries a search at most) and once through the embedded backend
# reading the same entries: both must print the same 2,000 lines in the same
# order, byte for byte.
#   compare-listing.sh SERVERS-ROOT BINARY
set -euo pipefail
root=$1 binary=$2
port=$(cat "$root/main/port")
server="127.0.0.1:$port"
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-listing.XXXXXX")
trap 'rm -rf "$work"' EXIT

printf '\n\n2\nLDAP://%s ou=Bulk,o=ldaptest\n0\n' "$server" >"$work/input"
mkdir "$work/ldap" "$work/embedded"
printf '[UserService]\nDirectory=ldap://%s\nBindDN=cn=reader,o=ldaptest\nBindPassword=reader-secret\n' \
    "$server" >"$work/ldap/orvane.ini"
printf '[UserService]\nDirectory=%s\n' "$root/bulk-directory.ldif" >"$work/embedded/orvane.ini"
for backend in ldap embedded; do
    (cd "$work/$backend" && "$binary" <"$work/input" >"$work/$backend.out" 2>"$work/$backend.err")
done

status=0
count=$(grep -c $'^\tLDAP://' "$work/ldap.out" || true)
if [[ $count -ne 2000 ]]; then
    echo "the ldap backend listed $count users, not 2000"
    grep -v $'^\tLDAP://' "$work/ldap.out" | tail -5
    status=1
fi
if ! cmp -s "$work/ldap.out" "$work/embedded.out"; then
    echo "the two backends' listings differ:"
    diff "$work/embedded.out" "$work/ldap.out" | head -20
    status=1
fi
first=$(grep -m1 $'^\tLDAP://' "$work/ldap.out" || true)
if [[ $first != $'\t'"LDAP://$server ou=Bulk,o=ldaptest/user0001" ]]; then
    echo "unexpected first user: $first"
    status=1
fi
exit $status
