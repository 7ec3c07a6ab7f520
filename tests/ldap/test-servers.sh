#!/usr/bin/env bash
# Brings up the slapd servers of the ldap tests, or takes them down:
#   ROOT/main     the backend's test data, TLS (StartTLS and ldaps)
#   ROOT/notls    the same data, no TLS at all, at most 300 entries a page
#   ROOT/shared   the shared test directory alone, for the command transcripts,
#                 TLS as main
# Each folder holds the port in "port" (and "ldaps-port", "ca.pem" for main).
#   test-servers.sh up ROOT   |   test-servers.sh down ROOT
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
FIXTURE=$HERE/slapd-fixture.sh
ROOT=${2:?usage: test-servers.sh up|down ROOT}

bulk_users() {
    local i
    for ((i = 1; i <= 2000; i++)); do
        printf 'dn: uid=user%04d,ou=Bulk,o=ldaptest\nobjectClass: person\nobjectClass: organizationalPerson\nobjectClass: inetOrgPerson\nuid: user%04d\ncn: Bulk User %04d\nsn: User\n\n' "$i" "$i" "$i"
    done
}

case $1 in
    up)
        mkdir -p "$ROOT"
        bulk_users >"$ROOT/bulk.ldif"
        # The same entries for the embedded backend, to compare listings.
        { cat "$HERE/ldaptest.ldif"; echo; cat "$ROOT/bulk.ldif"; } >"$ROOT/bulk-directory.ldif"
        bash "$FIXTURE" start "$ROOT/main" --tls "$HERE/ldaptest.ldif" "$ROOT/bulk.ldif"
        bash "$FIXTURE" start "$ROOT/notls" --page-limit 300 "$HERE/ldaptest.ldif" "$ROOT/bulk.ldif"
        shared=$HERE/../data/directory.ldif
        if [[ -f $shared ]]; then
            bash "$FIXTURE" start "$ROOT/shared" --tls "$shared"
        fi
        ;;
    down)
        status=0
        for server in main notls shared; do
            bash "$FIXTURE" stop "$ROOT/$server" || status=1
        done
        exit $status
        ;;
    *) echo "usage: test-servers.sh up|down ROOT" >&2; exit 2 ;;
esac
