#!/usr/bin/env bash
# Writes the directory the contract's tests run on for the embedded backend
# and slapd: a domain dc=contract,dc=test, the account the tests bind as
# (cn=reader,dc=contract,dc=test, password contract-secret), and
# contract.ldif with @BASE@ made ou=Contract,dc=contract,dc=test.
#   write-directory.sh OUT
set -euo pipefail
out=${1:?usage: write-directory.sh OUT}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
base="ou=Contract,dc=contract,dc=test"
mkdir -p "$(dirname "$out")"
{
    printf 'dn: dc=contract,dc=test\nobjectClass: top\nobjectClass: domain\ndc: contract\n\n'
    printf 'dn: cn=reader,dc=contract,dc=test\nobjectClass: organizationalRole\n'
    printf 'objectClass: simpleSecurityObject\ncn: reader\nuserPassword: contract-secret\n\n'
    sed "s/@BASE@/$base/g" "$here/contract.ldif"
} >"$out.tmp"
mv "$out.tmp" "$out"
