#!/usr/bin/env bash
# Runs one command transcript against the Samba DC that samba-dc.sh started,
# over ldaps or over StartTLS on the plain port: the same expected bytes
# either way, the server part of printed names being 127.0.0.1.
#   run-transcript.sh STATE ldaps|starttls BINARY CASE-PATH
set -euo pipefail
# The settings hold the service account's password: kept from other users,
# as the program asks of a parameter file that holds one.
umask 077
state=$1 transport=$2 binary=$3 case_path=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [[ ! -s $state/samba.pid ]] || ! kill -0 "$(cat "$state/samba.pid")" 2>/dev/null; then
    echo "run-transcript: the Samba DC is not running (see $state/samba.out)" >&2
    exit 1
fi
case $transport in
    ldaps) directory="Directory=ldaps://127.0.0.1" ;;
    starttls) directory="Directory=ldap://127.0.0.1
StartTLS=yes" ;;
    *) echo "run-transcript: unknown transport $transport" >&2; exit 2 ;;
esac
export OV_SERVER=127.0.0.1
export OV_DIRECTORY_SETTINGS="$directory
BindDN=CN=Administrator,CN=Users,DC=example,DC=com
BindPassword=Admin#2024
TLSCACertFile=$state/ca.pem"
# A case whose answers differ by transport (a plain bind that StartTLS
# upgrades and that ldaps settings leave plain) has CASE.TRANSPORT.out, and
# CASE.TRANSPORT.err unless its standard error is empty, for that transport.
if [[ -f $case_path.$transport.out ]]; then
    name=$(basename "$case_path")
    alt=$(mktemp -d "${TMPDIR:-/tmp}/ov-ad-case.XXXXXX")
    trap 'rm -rf "$alt"' EXIT
    for ext in in ini args status; do
        [[ -f $case_path.$ext ]] && cp "$case_path.$ext" "$alt/$name.$ext"
    done
    cp "$case_path.$transport.out" "$alt/$name.out"
    [[ -f $case_path.$transport.err ]] && cp "$case_path.$transport.err" "$alt/$name.err"
    bash "$here/../transcripts/run-case.sh" "$binary" "$alt/$name"
    exit
fi
exec bash "$here/../transcripts/run-case.sh" "$binary" "$case_path"
