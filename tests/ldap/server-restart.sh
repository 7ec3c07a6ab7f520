#!/usr/bin/env bash
# One run of the program across a restart of its directory server: command 2
# answers, the server stops, command 2 reports the directory unreachable and
# the program goes on, the server comes back, command 2 answers again on a
# re-opened connection, and 0 ends the run with exit status 0.
#   server-restart.sh BINARY
set -euo pipefail
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/program-session.sh"
fixture=$here/slapd-fixture.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-restart.XXXXXX")
cleanup() {
    exec 3>&- 2>/dev/null || true
    bash "$fixture" stop "$work/slapd" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

bash "$fixture" start "$work/slapd" "$here/../data/directory.ldif" >/dev/null
port=$(cat "$work/slapd/port")
context="LDAP://127.0.0.1:$port ou=Sales,dc=example,dc=com"
mkdir "$work/run"
printf '[UserService]\nDirectory=ldap://127.0.0.1:%s\n' "$port" >"$work/run/orvane.ini"
start_program "$binary"

printf '\n\n2\n%s\n' "$context" >&3
wait_for_selection 2
bash "$fixture" stop "$work/slapd"
printf '2\n%s\n' "$context" >&3
wait_for_selection 3
bash "$fixture" restart "$work/slapd"
printf '2\n%s\n0\n' "$context" >&3
exec 3>&-
status=0
wait "$program" || status=$?

listing=$'Users:\n\tLDAP://127.0.0.1:'"$port"$' ou=Sales,dc=example,dc=com/John Smith'
expected="$listing
The directory server cannot be reached
 Error #815923205
$listing"
actual=$(grep -E '^(Users:|The directory| Error #|	LDAP://.*/John Smith)' "$work/out" || true)
failed=0
if [[ $actual != "$expected" ]]; then
    echo "unexpected answers across the restart:"
    diff <(echo "$expected") <(echo "$actual") || true
    failed=1
fi
if [[ $status -ne 0 ]]; then
    echo "exit status $status, expected 0"
    failed=1
fi
exit $failed
