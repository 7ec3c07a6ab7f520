#!/usr/bin/env bash
# The service account's credentials go only to the servers of the configured
# directory. Recording listeners stand in for other servers: a context that
# names one of them is asked with an anonymous bind (the password and the
# service account's DN never arrive), over ldap:// and over ldaps:// with a
# certificate valid for its name; a listener named in Replicas= does receive
# them, which shows the recording works. With StartTLS=yes, command 20 with
# SSL off asks for StartTLS before anything else, and the typed password
# never crosses in clear text.
#   service-account-stays-home.sh SERVERS-ROOT BINARY
set -euo pipefail
root=$(cd "$1" && pwd)
binary=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
shared=$root/shared
work=$(mktemp -d "${TMPDIR:-/tmp}/ov-service-account.XXXXXX")
listeners=()
cleanup() {
    local pid
    for pid in "${listeners[@]}"; do kill "$pid" 2>/dev/null || true; done
    [[ -n ${OV_KEEP:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

# listen NAME [tls]: a recording listener; its port in $work/NAME.port.
listen() {
    local name=$1 tries=0
    local -a tls=()
    [[ ${2:-} == tls ]] && tls=("$shared/server.pem" "$shared/server.key")
    : >"$work/$name.record"
    python3 "$here/recording-listener.py" "$work/$name.port" "$work/$name.record" "${tls[@]}" &
    listeners+=($!)
    until [[ -s $work/$name.port ]]; do
        tries=$((tries + 1))
        if ((tries > 100)); then echo "listener $name did not start" >&2; exit 1; fi
        sleep 0.05
    done
}
port_of() { tr -d '\n' <"$work/$1.port"; }

listen stranger
listen replica
listen stranger-tls tls
listen replica-tls tls

password='Admin#2024'
typed='Typed#Pass-77'
account='cn=Administrator,cn=Users,dc=example,dc=com'

# run NAME SETTINGS INPUT: the program in a folder of its own, orvane.ini
# kept from other users.
run() {
    local name=$1 settings=$2 input=$3
    mkdir -p "$work/$name"
    (umask 077; printf '[UserService]\n%s\nBindDN=%s\nBindPassword=%s\n' "$settings" "$account" \
        "$password" >"$work/$name/orvane.ini")
    local status=0
    (cd "$work/$name" && printf '\n\n%s0\n' "$input" |
        timeout -s KILL 60 "$binary" >"$work/$name.out" 2>"$work/$name.err") || status=$?
    if [[ $status -ne 0 ]]; then
        echo "FAIL: $name: exit status $status"
        failed=1
    fi
}

failed=0
has() { grep -qaF -- "$2" "$work/$1.record"; }
expect_anonymous() {
    local name=$1
    if [[ ! -s $work/$name.record ]]; then
        echo "FAIL: $name: nothing arrived"
        failed=1
    fi
    for secret in "$password" "$account" "$typed"; do
        if has "$name" "$secret"; then
            echo "FAIL: $name received \"$secret\""
            failed=1
        fi
    done
}
expect_account() {
    if ! has "$1" "$password" || ! has "$1" "$account"; then
        echo "FAIL: $1: the replica did not receive the service account"
        failed=1
    fi
}

plain=127.0.0.1:$(cat "$shared/port")
ldaps=127.0.0.1:$(cat "$shared/ldaps-port")
stranger=127.0.0.1:$(port_of stranger)
replica=127.0.0.1:$(port_of replica)

run plain "Directory=ldap://$plain
Replicas=ldap://$replica" \
    "2
LDAP://$stranger dc=corp,dc=test
3
ldap://$stranger dc=corp,dc=test
2
LDAP://$replica dc=corp,dc=test
"
expect_anonymous stranger
expect_account replica

run ldaps "Directory=ldaps://$ldaps
TLSCACertFile=$shared/ca.pem
Replicas=127.0.0.1:$(port_of replica-tls)" \
    "2
LDAP://127.0.0.1:$(port_of stranger-tls) dc=corp,dc=test
2
LDAP://127.0.0.1:$(port_of replica-tls) dc=corp,dc=test
"
expect_anonymous stranger-tls
expect_account replica-tls

: >"$work/stranger.record"
run starttls "Directory=ldap://$plain
StartTLS=yes
TLSCACertFile=$shared/ca.pem" \
    "20
LDAP://$stranger dc=corp,dc=test
cn=Someone,dc=corp,dc=test
$typed
LDAP
0
20
LDAP://$plain dc=example,dc=com
$account
$password
LDAP
0
"
expect_anonymous stranger
# Refused by the listener, upgraded by the real server.
if [[ $(grep -a $'^Status:\t' "$work/starttls.out") != $'Status:\tSSL connection failed\nStatus:\tSuccess' ]]; then
    echo "FAIL: command 20 with StartTLS: not \"SSL connection failed\", then \"Success\""
    failed=1
fi
# The StartTLS request (its OID) is the only thing that arrived.
if ! has stranger "1.3.6.1.4.1.1466.20037"; then
    echo "FAIL: no StartTLS request arrived"
    failed=1
fi
exit $failed
