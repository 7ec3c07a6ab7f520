#!/usr/bin/env bash
# Refusals keep their reason. A server that wants TLS before a simple bind
# (slapd "security simple_bind") answers command 9's bind with
# confidentialityRequired: the command reports that, not "Was not
# authenticated.", an error record names result 13 and the server's text,
# and the service's own connection answers the next command; a bind the
# database refuses (slapd "restrict bind") is the server's refusal. A server
# outside the configured directory that refuses anonymous binds (slapd
# "disallow bind_anon") gives its own error report.
#   bind-refusals.sh BINARY SERVERS-ROOT
set -euo pipefail
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
root=$(cd "$2" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
fixture=$here/slapd-fixture.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-bind-refusals.XXXXXX")
cleanup() {
    bash "$fixture" stop "$work/slapd" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# A private server with one more line in its configuration.
bash "$fixture" start "$work/slapd" "$here/../data/directory.ldif" >/dev/null
bash "$fixture" stop "$work/slapd"
server=127.0.0.1:$(cat "$work/slapd/port")
configure() {
    bash "$fixture" stop "$work/slapd"
    # A global line, or with "database" one for the directory's database.
    if [[ ${2:-} == database ]]; then
        { cat "$work/slapd.conf.made"; echo "$1"; } >"$work/slapd/slapd.conf"
    else
        sed "/^moduleload/a $1" "$work/slapd.conf.made" >"$work/slapd/slapd.conf"
    fi
    # The fixture's own start waits for an anonymous search, which this
    # server may refuse: wait for any answer instead.
    "$(command -v slapd || echo /usr/sbin/slapd)" -f "$work/slapd/slapd.conf" \
        -h "ldap://$server/" -n ov-test-slapd >"$work/slapd/slapd.log" 2>&1
    local tries=0 rc
    while :; do
        rc=0
        ldapsearch -x -LLL -H "ldap://$server" -b "" -s base -o nettimeout=1 >/dev/null 2>&1 || rc=$?
        [[ $rc -ne 255 ]] && break
        tries=$((tries + 1))
        if ((tries > 100)); then echo "slapd did not start" >&2; exit 1; fi
        sleep 0.1
    done
}
cp "$work/slapd/slapd.conf" "$work/slapd.conf.made"

failed=0
# run NAME SETTINGS INPUT
run() {
    mkdir -p "$work/$1"
    (umask 077; printf '[UserService]\n%s\n' "$2" >"$work/$1/orvane.ini")
    (cd "$work/$1" && printf '\n\n%s0\n' "$3" |
        timeout -s KILL 60 "$binary" | sed 's/^: //' >"$work/$1.out") 2>"$work/$1.err" ||
        { echo "FAIL: $1: the program failed"; failed=1; }
}
expect() {
    local name=$1 stream=$2 text=$3
    if ! grep -qF -- "$text" "$work/$name.$stream"; then
        echo "FAIL: $name: no line \"$text\" on standard ${stream/err/error}"
        tail -n 12 "$work/$name.$stream"
        failed=1
    fi
}

configure "security simple_bind=128"
run tls-wanted "Directory=ldap://$server" "9
jsmith
Secret123
8
default://EXAMPLE\\jsmith
"
expect tls-wanted out "The directory server requires a protected connection or a stronger authentication"
expect tls-wanted out " Error #815923233"
expect tls-wanted out "Qualified Name: LDAP://$server ou=Sales,dc=example,dc=com/John Smith"
expect tls-wanted err "Location=ldap://$server Parameters: (bind, LDAP result 13 (Confidentiality required), confidentiality required)"

# Binds to entries of the database refused as "unwilling to perform".
configure "restrict bind" database
run unwilling "Directory=ldap://$server" "9
jsmith
Secret123
"
expect unwilling out "The directory server refused the request"
expect unwilling err "(bind, LDAP result 53 (Server is unwilling to perform), operation restricted)"
if grep -q "authenticated" "$work/tls-wanted.out" "$work/unwilling.out"; then
    echo "FAIL: a refused bind was reported as a verdict on the password"
    failed=1
fi

configure "disallow bind_anon"
run anonymous-refused "Directory=ldap://127.0.0.1:$(cat "$root/shared/port")
BindDN=cn=Administrator,cn=Users,dc=example,dc=com
BindPassword=Admin#2024" "2
LDAP://$server ou=Sales,dc=example,dc=com
"
expect anonymous-refused out "The server is not one of the configured directory's and refused an anonymous request"
expect anonymous-refused out " Error #815923232"
expect anonymous-refused err "(bind, LDAP result 48 (Inappropriate authentication), anonymous bind disallowed)"
exit $failed
