#!/usr/bin/env bash
# One run of the program on a directory of two servers holding the same data
# (Directory= names both): the first answers; once it stops, the next
# command is answered by the second, both for input that names no server
# (names then carry the second server) and for a context that names the
# stopped one; the failing over itself writes no error record.
#   fail-over.sh BINARY
set -euo pipefail
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/program-session.sh"
fixture=$here/slapd-fixture.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-fail-over.XXXXXX")
cleanup() {
    exec 3>&- 2>/dev/null || true
    bash "$fixture" stop "$work/first" >/dev/null 2>&1 || true
    bash "$fixture" stop "$work/second" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

bash "$fixture" start "$work/first" "$here/../data/directory.ldif" >/dev/null
bash "$fixture" start "$work/second" "$here/../data/directory.ldif" >/dev/null
first=127.0.0.1:$(cat "$work/first/port")
second=127.0.0.1:$(cat "$work/second/port")
mkdir "$work/run"
printf '[UserService]\nDirectory=ldap://%s   LDAP://%s/\n' "$first" "$second" >"$work/run/orvane.ini"
start_program "$binary"

sales="LDAP://$first ou=Sales,dc=example,dc=com"
printf '\n\n8\ndefault://EXAMPLE\\jsmith\n2\n%s\n' "$sales" >&3
wait_for_selection 3
bash "$fixture" stop "$work/first"
printf '8\ndefault://EXAMPLE\\jsmith\n2\n%s\n0\n' "$sales" >&3
exec 3>&-
status=0
wait "$program" || status=$?

expected="Qualified Name: LDAP://$first ou=Sales,dc=example,dc=com/John Smith
	$sales/John Smith
Qualified Name: LDAP://$second ou=Sales,dc=example,dc=com/John Smith
	$sales/John Smith"
# An answer that follows a prompt shares its line.
actual=$(sed 's/^: //' "$work/out" |
    grep -E '^(Qualified Name: |	LDAP://.*/John Smith$|The directory| Error #)' || true)
failed=0
if [[ $actual != "$expected" ]]; then
    echo "unexpected answers across the fail-over:"
    diff <(echo "$expected") <(echo "$actual") || true
    failed=1
fi
if grep -q 'ModuleId=0x30a200' "$work/err"; then
    echo "error records although every command was answered:"
    cat "$work/err"
    failed=1
fi
if [[ $status -ne 0 ]]; then
    echo "exit status $status, expected 0"
    failed=1
fi
exit $failed
