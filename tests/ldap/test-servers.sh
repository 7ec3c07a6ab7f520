#!/usr/bin/env bash
# Brings up the slapd servers of the ldap tests, or takes them down. All
# but one know only the schemas of a stock Debian slapd (core, cosine,
# inetorgperson, nis), as users' servers do:
#   ROOT/main     the backend's test data, TLS (StartTLS and ldaps)
#   ROOT/notls    the same data, no TLS at all, at most 300 entries a page
#   ROOT/shared   the shared test directory alone, for the command transcripts,
#                 TLS as main
#   ROOT/contract the directory contract's data (tests/contract), TLS as main
#   ROOT/extra    the test directory as Active Directory shows it
#                 (directory-ad.ldif), with directory-extra.schema, TLS as main
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
        extra=$HERE/../data/directory-ad.ldif
        if [[ -f $extra ]]; then
            bash "$FIXTURE" start "$ROOT/extra" --tls --extra-schema "$extra"
        fi
        contract=$HERE/../contract/write-directory.sh
        if [[ -f $contract ]]; then
            bash "$contract" "$ROOT/contract.ldif"
            bash "$FIXTURE" start "$ROOT/contract" --tls "$ROOT/contract.ldif"
        fi
        ;;
    down)
        status=0
        for server in main notls shared extra contract; do
            bash "$FIXTURE" stop "$ROOT/$server" || status=1
        done
        exit $status
        ;;
    *) echo "usage: test-servers.sh up|down ROOT" >&2; exit 2 ;;
esac
