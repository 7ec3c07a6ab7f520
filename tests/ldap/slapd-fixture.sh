#!/usr/bin/env bash
# Starts and stops a private slapd on free loopback ports for the tests and
# the benchmark: a temporary state folder, mdb databases loaded with slapadd.
#
#   slapd-fixture.sh start STATE [--tls] [--no-limits] [--page-limit N]
#                          [--extra-schema] [--database-config FILE] LDIF...
#       Makes STATE afresh, one database per naming context found in the
#       LDIF files, and starts slapd on a free port (written to STATE/port).
#       The server knows the schemas a stock Debian slapd has (core, cosine,
#       inetorgperson, nis); --extra-schema adds directory-extra.schema
#       (account names, computers, trusted domains, AD-style groups).
#       --tls: makes a CA and a server certificate with openssl (STATE/ca.pem),
#       enables StartTLS on the plain port and adds an ldaps listener
#       (STATE/ldaps-port).
#       --no-limits: no size limits at all; otherwise the default size limit
#       of 500 and paging past it, at most 1000 entries a page, or as many as
#       --page-limit N says.
#       --database-config FILE: lines added to every database's section, such
#       as limits for particular accounts.
#   slapd-fixture.sh restart STATE   starts the stopped server again, same ports
#   slapd-fixture.sh stop STATE      stops it (quietly succeeds when not running)
set -euo pipefail

SCHEMA_DIR=${OV_LDAP_SCHEMA_DIR:-/etc/ldap/schema}
MODULE_DIR=${OV_LDAP_MODULE_DIR:-/usr/lib/ldap}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

die() { echo "slapd-fixture: $*" >&2; exit 1; }
source "$HERE/test-certificates.sh"

find_slapd() {
    local candidate
    for candidate in "$(command -v slapd 2>/dev/null || true)" /usr/sbin/slapd /usr/local/libexec/slapd; do
        if [[ -n $candidate && -x $candidate ]]; then echo "$candidate"; return; fi
    done
    die "slapd is not installed (Debian: apt-get install slapd ldap-utils)"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Splits the LDIF files by naming context: writes STATE/db-N.ldif and prints
# one suffix per line, in order. An entry whose parent is not in the files
# starts a naming context; a subschema entry is left out.
split_ldif() {
    local state=$1; shift
    python3 - "$state" "$@" <<'PY'
import base64, re, sys
state, files = sys.argv[1], sys.argv[2:]

def norm(dn):
    return ",".join(re.sub(r"\s*=\s*", "=", part.strip()).lower()
                    for part in re.split(r"(?<!\\),", dn))

def records(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8")
    lines, current = [], []
    for raw in text.split("\n"):
        raw = raw.rstrip("\r")
        if raw.startswith(" ") and current:
            current[-1] += raw[1:]
            continue
        if raw == "":
            if current:
                lines.append(current)
            current = []
            continue
        current.append(raw)
    if current:
        lines.append(current)
    for rec in lines:
        body = [l for l in rec if not l.startswith("#")]
        if not body or body[0].lower().startswith("version:"):
            body = body[1:]
            if not body:
                continue
        first = body[0]
        if first.lower().startswith("dn::"):
            dn = base64.b64decode(first[4:].strip()).decode("utf-8")
        elif first.lower().startswith("dn:"):
            dn = first[3:].strip()
        else:
            raise SystemExit("%s: a record without a dn: %s" % (path, first))
        yield dn, body

# The server's subschema entry comes from its schema files, not the data.
def subschema(body):
    return any(re.fullmatch(r"objectclass:\s*subschema\s*", l, re.I) for l in body)

entries = [(dn, body) for path in files for dn, body in records(path) if not subschema(body)]
known = {norm(dn) for dn, _ in entries}
roots = []
for dn, _ in entries:
    n = norm(dn)
    parts = re.split(r"(?<!\\),", n, 1)
    parent = parts[1] if len(parts) > 1 else ""
    if parent not in known and n not in [norm(r) for r in roots]:
        roots.append(dn)
for i, root in enumerate(roots):
    r = norm(root)
    with open("%s/db-%d.ldif" % (state, i), "w", encoding="utf-8") as out:
        for dn, body in entries:
            n = norm(dn)
            if n == r or n.endswith("," + r):
                out.write("\n".join(body) + "\n\n")
    print(root)
PY
}

write_config() {
    local state=$1 tls=$2 limits=$3 page=$4 extra=$5 dbconfig=$6; shift 6
    local conf=$state/slapd.conf
    {
        echo "# private test server; made by slapd-fixture.sh"
        for schema in core cosine inetorgperson nis; do
            echo "include $SCHEMA_DIR/$schema.schema"
        done
        if [[ $extra == yes ]]; then
            echo "include $HERE/directory-extra.schema"
        fi
        echo "pidfile $state/slapd.pid"
        echo "argsfile $state/slapd.args"
        echo "modulepath $MODULE_DIR"
        echo "moduleload back_mdb"
        if [[ $limits == yes ]]; then
            # slapd's default of 500 entries a search, and paged searches
            # that may go past it.
            echo "sizelimit size.soft=500 size.hard=500 size.pr=$page size.prtotal=unlimited"
        else
            echo "sizelimit unlimited"
        fi
        if [[ $tls == yes ]]; then
            echo "TLSCACertificateFile $state/ca.pem"
            echo "TLSCertificateFile $state/server.pem"
            echo "TLSCertificateKeyFile $state/server.key"
        fi
        local i=0 suffix
        for suffix in "$@"; do
            mkdir -p "$state/db-$i"
            echo ""
            echo "database mdb"
            echo "suffix \"$suffix\""
            echo "directory $state/db-$i"
            echo "maxsize 2147483648"
            echo "index objectClass eq"
            if [[ $extra == yes ]]; then
                echo "index uid,cn,mail,sAMAccountName,ou eq,sub"
            else
                echo "index uid,cn,mail,ou eq,sub"
            fi
            echo "index member,uniqueMember,memberUid eq"
            echo "access to attrs=userPassword by anonymous auth by self read by * none"
            echo "access to * by * read"
            if [[ -n $dbconfig ]]; then
                cat "$dbconfig"
            fi
            i=$((i + 1))
        done
    } >"$conf"
}

launch() {
    local state=$1 slapd port urls
    slapd=$(find_slapd)
    port=$(cat "$state/port")
    urls="ldap://127.0.0.1:$port/"
    if [[ -f $state/ldaps-port ]]; then
        urls="$urls ldaps://127.0.0.1:$(cat "$state/ldaps-port")/"
    fi
    "$slapd" -f "$state/slapd.conf" -h "$urls" -n "ov-test-slapd" \
        >"$state/slapd.log" 2>&1 || die "slapd did not start: $(tail -5 "$state/slapd.log")"
    # slapd forks; wait until it answers on the plain port.
    local tries=0
    until ldapsearch -x -LLL -H "ldap://127.0.0.1:$port" -b "" -s base -o nettimeout=1 \
            namingContexts >/dev/null 2>&1; do
        tries=$((tries + 1))
        if ((tries > 100)); then
            die "slapd did not answer on port $port: $(tail -5 "$state/slapd.log")"
        fi
        sleep 0.1
    done
}

start() {
    local state=$1; shift
    local tls=no limits=yes page=1000 extra=no dbconfig=
    while [[ $# -gt 0 && $1 == --* ]]; do
        case $1 in
            --tls) tls=yes ;;
            --no-limits) limits=no ;;
            --extra-schema) extra=yes ;;
            --page-limit)
                [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || die "--page-limit needs a number"
                page=$2
                shift
                ;;
            --database-config)
                [[ -f ${2:-} ]] || die "--database-config needs a file"
                dbconfig=$2
                shift
                ;;
            *) die "unknown option $1" ;;
        esac
        shift
    done
    [[ $# -gt 0 ]] || die "no LDIF file given"
    command -v ldapsearch >/dev/null || die "ldapsearch is not installed (Debian: ldap-utils)"
    command -v slapadd >/dev/null || [[ -x /usr/sbin/slapadd ]] || die "slapadd is not installed"
    local slapadd
    slapadd=$(command -v slapadd || echo /usr/sbin/slapadd)

    stop "$state" 2>/dev/null || true
    rm -rf "$state"
    mkdir -p "$state"
    local -a suffixes
    mapfile -t suffixes < <(split_ldif "$state" "$@")
    [[ ${#suffixes[@]} -gt 0 ]] || die "no entries in $*"
    if [[ $tls == yes ]]; then
        make_certificates "$state"
    fi
    write_config "$state" "$tls" "$limits" "$page" "$extra" "$dbconfig" "${suffixes[@]}"
    local i
    for i in "${!suffixes[@]}"; do
        "$slapadd" -q -f "$state/slapd.conf" -b "${suffixes[$i]}" -l "$state/db-$i.ldif" \
            >"$state/slapadd-$i.log" 2>&1 || die "slapadd failed: $(tail -5 "$state/slapadd-$i.log")"
    done
    free_port >"$state/port"
    if [[ $tls == yes ]]; then
        free_port >"$state/ldaps-port"
    fi
    launch "$state"
}

stop() {
    local state=$1 pid tries=0
    [[ -f $state/slapd.pid ]] || return 0
    pid=$(cat "$state/slapd.pid")
    if kill "$pid" 2>/dev/null; then
        while kill -0 "$pid" 2>/dev/null; do
            tries=$((tries + 1))
            if ((tries > 100)); then
                kill -9 "$pid" 2>/dev/null || true
                break
            fi
            sleep 0.1
        done
    fi
    rm -f "$state/slapd.pid"
}

case ${1:-} in
    start) shift; [[ $# -ge 1 ]] || die "start needs a state folder"; start "$@" ;;
    restart) [[ $# -eq 2 ]] || die "restart needs a state folder"; launch "$2" ;;
    stop) [[ $# -eq 2 ]] || die "stop needs a state folder"; stop "$2" ;;
    *) die "usage: slapd-fixture.sh start STATE [--tls] [--no-limits] [--page-limit N] [--extra-schema] [--database-config FILE] LDIF... | restart STATE | stop STATE" ;;
esac
