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
#   ROOT/limits   120 people under ou=Many,o=limits and accounts whose size,
#                 page and paged-total limits (limits.conf) cut that listing;
#                 three domains dc=one|two|three,dc=test
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

# The limits server's entries: one account per line of limits.conf.
limits_directory() {
    local i account
    printf 'dn: o=limits\nobjectClass: organization\no: limits\n\n'
    printf 'dn: ou=Many,o=limits\nobjectClass: organizationalUnit\nou: Many\n\n'
    for account in $(sed -n 's/^limits dn.exact="cn=\([^,]*\),o=limits".*/\1/p' "$HERE/limits.conf"); do
        printf 'dn: cn=%s,o=limits\nobjectClass: organizationalRole\nobjectClass: simpleSecurityObject\ncn: %s\nuserPassword: secret\n\n' "$account" "$account"
    done
    # Three domains besides o=limits, for the cap of an explicit domain search.
    for account in one two three; do
        printf 'dn: dc=%s,dc=test\nobjectClass: domain\ndc: %s\n\n' "$account" "$account"
    done
    for ((i = 1; i <= 120; i++)); do
        printf 'dn: uid=many%03d,ou=Many,o=limits\nobjectClass: inetOrgPerson\nuid: many%03d\ncn: Many %03d\nsn: Many\n\n' "$i" "$i" "$i"
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
        limits_directory >"$ROOT/limits.ldif"
        bash "$FIXTURE" start "$ROOT/limits" --no-limits --database-config "$HERE/limits.conf" \
            "$ROOT/limits.ldif"
        ;;
    down)
        status=0
        for server in main notls shared extra contract limits; do
            bash "$FIXTURE" stop "$ROOT/$server" || status=1
        done
        exit $status
        ;;
    *) echo "usage: test-servers.sh up|down ROOT" >&2; exit 2 ;;
esac
