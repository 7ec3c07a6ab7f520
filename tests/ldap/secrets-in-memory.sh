#!/usr/bin/env bash
# The program's memory at the menu holds the service account's password at
# most once, and a password typed at a prompt not at all once its command is
# done: after start-up, after a listing that bound the service account, after
# command 9 and after command 20 with the typed password. Reads the memory as
# root (the program is not dumpable while it holds a secret).
#   secrets-in-memory.sh SERVERS-ROOT BINARY
set -euo pipefail
root=$1
binary=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/program-session.sh"
if [[ $(id -u) -ne 0 ]]; then
    echo "secrets-in-memory: reading another process's memory needs root" >&2
    exit 1
fi
port=$(cat "$root/shared/port")
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-secrets.XXXXXX")
program=
cleanup() {
    exec 3>&- 2>/dev/null || true
    [[ -n $program ]] && kill "$program" 2>/dev/null || true
    [[ -n ${OV_KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

service_password='Admin#2024'
typed_password='Secret123'
mkdir "$work/run"
umask 077
cat >"$work/run/orvane.ini" <<INI
[UserService]
Directory=ldap://127.0.0.1:$port
BindDN=cn=Administrator,cn=Users,dc=example,dc=com
BindPassword=$service_password
INI
start_program "$binary"

failed=0
# The program's own pid: timeout runs it as its child.
pid_of_program() { pgrep -P "$program" | head -1; }

check() {
    local when=$1 counts service typed pid
    pid=$(pid_of_program)
    counts=$(python3 "$here/count-in-memory.py" "$pid" "$service_password" "$typed_password")
    service=$(awk -v t="$service_password" '$2 == t {print $1}' <<<"$counts")
    typed=$(awk -v t="$typed_password" '$2 == t {print $1}' <<<"$counts")
    echo "$when: service account's password $service, typed password $typed"
    if ((service > 1)); then echo "  FAIL: the service account's password is held more than once"; failed=1; fi
    if ((typed > 0)); then echo "  FAIL: the typed password outlived its command"; failed=1; fi
}

printf '\n\n' >&3
wait_for_selection 1 400 'Selection: '
check "after start-up"
printf '2\nLDAP://127.0.0.1:%s ou=Sales,dc=example,dc=com\n' "$port" >&3
wait_for_selection 2 400 'Selection: '
check "after command 2"
printf '9\njsmith\n%s\n' "$typed_password" >&3
wait_for_selection 3 400 'Selection: '
check "after command 9"
printf '20\nLDAP://127.0.0.1:%s dc=example,dc=com\ncn=John Smith,ou=Sales,dc=example,dc=com\n%s\nLDAP\n0\n' \
    "$port" "$typed_password" >&3
wait_for_selection 4 400 'Selection: '
check "after command 20"
printf '0\n' >&3
exec 3>&-
wait "$program" || { echo "the program ended with status $?"; failed=1; }
program=
for answer in 'Was authenticated.' 'Status:	Success'; do
    if ! grep -q "^$answer" "$work/out"; then
        echo "FAIL: the dialogue lacks \"$answer\""
        failed=1
    fi
done
exit $failed
