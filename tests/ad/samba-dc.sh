#!/usr/bin/env bash
# A Samba Active Directory domain controller for the tests: provisioned afresh
# in a state folder, with a TLS certificate of a CA made here, trusted domains
# written into its database before it starts, and users, groups, org. units,
# computers and domain controllers added over ldaps once it serves.
#
#   samba-dc.sh up STATE
#       Provisions EXAMPLE.COM in STATE and starts the DC on 127.0.0.1, ports
#       389 and 636 (fixed: one DC at a time on a machine), with the test
#       data of dc-data.ldif. STATE/ca.pem is the CA to verify the DC with.
#   samba-dc.sh load STATE LDIF BASE
#       Adds an LDIF file written against the placeholder "@BASE@" under
#       BASE, BASE itself first when the file does not make it.
#   samba-dc.sh down STATE
#       Stops the DC (quietly succeeds when it is not running).
#
# The DC also stops by itself when the process that ran "up" is gone (ctest;
# by hand: the process whose id OV_SAMBA_OWNER gives), or after two hours:
# it reads its standard input from a watchdog and ends when that input closes.
set -euo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REALM=EXAMPLE.COM
DOMAIN_DN=DC=example,DC=com
ADMIN_DN=CN=Administrator,CN=Users,$DOMAIN_DN
ADMIN_PASSWORD='Admin#2024'
LIFETIME=7200

die() { echo "samba-dc: $*" >&2; exit 1; }
source "$HERE/../ldap/test-certificates.sh"

need() {
    local tool=$1 package=$2
    command -v "$tool" >/dev/null 2>&1 || [[ -x /usr/sbin/$tool ]] ||
        die "$tool is not installed (Debian: apt-get install $package)"
}

listening() {
    python3 - "$1" <<'PY'
import socket, sys
s = socket.socket()
s.settimeout(0.5)
sys.exit(0 if s.connect_ex(("127.0.0.1", int(sys.argv[1]))) == 0 else 1)
PY
}

provision() {
    local state=$1
    # Only the LDAP server runs: no SMB, Kerberos, NetBIOS or RPC listeners.
    samba-tool domain provision --targetdir="$state/dc" --realm=$REALM --domain=EXAMPLE \
        --host-name=dc1 --server-role=dc --dns-backend=NONE --adminpass="$ADMIN_PASSWORD" \
        --use-rfc2307 --host-ip=127.0.0.1 \
        --option="interfaces=lo" --option="bind interfaces only=yes" \
        --option="server services=ldap" \
        --option="tls enabled=yes" --option="tls keyfile=$state/server.key" \
        --option="tls certfile=$state/server.pem" --option="tls cafile=$state/ca.pem" \
        --option="log file=$state/samba.log" --option="pid directory=$state" \
        >"$state/provision.log" 2>&1 ||
        die "provisioning failed: $(tail -5 "$state/provision.log")"
}

# Trusted domains cannot be made over LDAP; they are written into the
# database while the DC is not running.
add_trusts() {
    local state=$1
    sed "s/@DOMAIN_DN@/$DOMAIN_DN/g" "$HERE/dc-trusts.ldif" >"$state/trusts.ldif"
    ldbadd -H "$state/dc/private/sam.ldb" "$state/trusts.ldif" >"$state/trusts.log" 2>&1 ||
        die "could not add the trusted domains: $(tail -5 "$state/trusts.log")"
}

start() {
    local state=$1 owner=$2
    rm -f "$state/stop"
    # Its own session, every stream away from the caller's: ctest waits for
    # the output of a test to close.
    setsid bash -c '
        state=$1 owner=$2 lifetime=$3
        started=$SECONDS
        (
            while [[ ! -e $state/stop ]] && kill -0 "$owner" 2>/dev/null &&
                ((SECONDS - started < lifetime)); do
                sleep 1
            done
        ) | samba -s "$state/dc/etc/smb.conf" -i -M single >"$state/samba.out" 2>&1 &
        echo $! >"$state/samba.pid"
        wait
    ' samba-dc "$state" "$owner" "$LIFETIME" </dev/null >/dev/null 2>&1 &
    local tries=0
    until LDAPTLS_CACERT=$state/ca.pem ldapsearch -x -LLL -H ldaps://127.0.0.1 -D "$ADMIN_DN" \
            -w "$ADMIN_PASSWORD" -b "" -s base -o nettimeout=2 namingContexts >/dev/null 2>&1; do
        tries=$((tries + 1))
        if [[ -s $state/samba.pid ]] && ! kill -0 "$(cat "$state/samba.pid")" 2>/dev/null; then
            die "the DC ended as it started: $(tail -5 "$state/samba.out")"
        fi
        if ((tries > 600)); then
            stop "$state"
            die "the DC did not answer on ldaps://127.0.0.1: $(tail -5 "$state/samba.out")"
        fi
        sleep 0.1
    done
}

ldap_add() {
    local state=$1 file=$2
    LDAPTLS_CACERT=$state/ca.pem ldapmodify -a -x -H ldaps://127.0.0.1 -D "$ADMIN_DN" \
        -w "$ADMIN_PASSWORD" -f "$file" >>"$state/load.log" 2>&1 ||
        die "could not add $file: $(tail -5 "$state/load.log")"
}

up() {
    local state=$1
    need samba-tool samba-ad-dc
    need samba samba-ad-dc
    need ldbadd ldb-tools
    need ldapmodify ldap-utils
    need openssl openssl
    [[ $(id -u) -eq 0 ]] || die "the DC must run as root"
    down "$state"
    if listening 389 || listening 636; then
        die "127.0.0.1:389 or :636 is taken: another DC or LDAP server runs on this machine"
    fi
    rm -rf "$state"
    mkdir -p "$state"
    state=$(cd "$state" && pwd)
    make_certificates "$state" ",DNS:dc1.example.com"
    provision "$state"
    add_trusts "$state"
    # Started by ctest: it lives as long as ctest does (or the process
    # OV_SAMBA_OWNER names, when started by hand).
    start "$state" "${OV_SAMBA_OWNER:-$PPID}"
    ldap_add "$state" "$HERE/dc-data.ldif"
}

load() {
    local state=$1 file=$2 base=$3
    [[ -s $state/samba.pid ]] && kill -0 "$(cat "$state/samba.pid")" 2>/dev/null ||
        die "the DC is not running (no $state/samba.pid)"
    [[ -f $file ]] || die "no LDIF file $file"
    BASE=$base perl -pe 's/\@BASE\@/$ENV{BASE}/g' "$file" >"$state/relative.ldif"
    if ! grep -qiE "^dn:[[:space:]]*@BASE@[[:space:]]*\$" "$file"; then
        local rdn=${base%%,*}
        printf 'dn: %s\nobjectClass: organizationalUnit\nou: %s\n\n' "$base" "${rdn#*=}" \
            >"$state/relative-base.ldif"
        ldap_add "$state" "$state/relative-base.ldif"
    fi
    ldap_add "$state" "$state/relative.ldif"
}

stop() {
    local state=$1 pid tries=0
    [[ -d $state ]] || return 0
    touch "$state/stop"
    [[ -f $state/samba.pid ]] || return 0
    pid=$(cat "$state/samba.pid")
    # The watchdog sees the stop file within a second; samba ends on the
    # end of its input. A DC that does not is ended.
    while kill -0 "$pid" 2>/dev/null; do
        tries=$((tries + 1))
        if ((tries == 50)); then kill "$pid" 2>/dev/null || true; fi
        if ((tries > 100)); then
            kill -9 "$pid" 2>/dev/null || true
            break
        fi
        sleep 0.1
    done
    rm -f "$state/samba.pid"
}

down() { stop "$1"; }

case ${1:-} in
    up) [[ $# -eq 2 ]] || die "up needs a state folder"; up "$2" ;;
    load) [[ $# -eq 4 ]] || die "load needs a state folder, an LDIF file and a base"; load "$2" "$3" "$4" ;;
    down) [[ $# -eq 2 ]] || die "down needs a state folder"; down "$2" ;;
    *) die "usage: samba-dc.sh up STATE | load STATE LDIF BASE | down STATE" ;;
esac
