#!/usr/bin/env bash
# Runs the contract's suite against the test servers' contract slapd.
#   run-on-slapd.sh SERVERS-ROOT plain|starttls|ldaps BINARY
set -euo pipefail
root=$1 transport=$2 binary=$3
state=$root/contract
for file in port ldaps-port ca.pem; do
    if [[ ! -s $state/$file ]]; then
        echo "run-on-slapd: the contract server is not running (no $state/$file)" >&2
        exit 1
    fi
done
case $transport in
    plain) export OV_CONTRACT_DIRECTORY="ldap://127.0.0.1:$(cat "$state/port")" ;;
    starttls)
        export OV_CONTRACT_DIRECTORY="ldap://127.0.0.1:$(cat "$state/port")"
        export OV_CONTRACT_STARTTLS=yes
        ;;
    ldaps) export OV_CONTRACT_DIRECTORY="ldaps://127.0.0.1:$(cat "$state/ldaps-port")" ;;
    *) echo "run-on-slapd: unknown transport $transport" >&2; exit 2 ;;
esac
export OV_CONTRACT_CACERT=$state/ca.pem
exec "$binary"
