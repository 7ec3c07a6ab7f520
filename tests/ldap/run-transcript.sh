#!/usr/bin/env bash
# Runs one command transcript against the slapd that serves the shared test
# directory (a stock server), or, for a case with a NAME.directory file, the
# one that serves the directory as Active Directory shows it: the ports are
# known only once the servers are up, so the settings are made here and
# handed to the transcript runner.
#   run-transcript.sh SERVERS-ROOT BINARY CASE-PATH
# Cases of this folder (cases/) may also name @LDAPS_SERVER@ (the ldaps
# listener), @CA_FILE@ (the test CA), @NOTLS_SERVER@ (a server without TLS)
# and @CLOSED_SERVER@ (a loopback port nothing listens on).
set -euo pipefail
root=$1 binary=$2 case_path=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for file in shared/port shared/ldaps-port notls/port; do
    if [[ ! -s $root/$file ]]; then
        echo "run-transcript: the test servers are not running (no $root/$file)" >&2
        exit 1
    fi
done
# The settings hold the service account's password: kept from other users,
# as the program asks of a parameter file that holds one.
umask 077
server=shared
if [[ -f $case_path.directory ]]; then
    server=extra
    if [[ ! -s $root/extra/port ]]; then
        echo "run-transcript: the test servers are not running (no $root/extra/port)" >&2
        exit 1
    fi
fi
port=$(cat "$root/$server/port")
export OV_SERVER="127.0.0.1:$port"
export OV_DIRECTORY_SETTINGS="Directory=ldap://127.0.0.1:$port
BindDN=cn=Administrator,cn=Users,dc=example,dc=com
BindPassword=Admin#2024"

if [[ $(cd "$(dirname "$case_path")" && pwd) == "$here/cases" ]]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/ov-ldap-case.XXXXXX")
    trap 'rm -rf "$work"' EXIT
    closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    name=$(basename "$case_path")
    for file in "$case_path".*; do
        OV_L_LDAPS="127.0.0.1:$(cat "$root/shared/ldaps-port")" OV_L_CA="$root/shared/ca.pem" \
        OV_L_NOTLS="127.0.0.1:$(cat "$root/notls/port")" OV_L_CLOSED="127.0.0.1:$closed" \
            perl -pe 's/\@LDAPS_SERVER\@/$ENV{OV_L_LDAPS}/g; s/\@CA_FILE\@/$ENV{OV_L_CA}/g;
                      s/\@NOTLS_SERVER\@/$ENV{OV_L_NOTLS}/g; s/\@CLOSED_SERVER\@/$ENV{OV_L_CLOSED}/g' \
            "$file" >"$work/$name.${file##*.}"
    done
    status=0
    bash "$here/../transcripts/run-case.sh" "$binary" "$work/$name" || status=$?
    if [[ ${OV_UPDATE_TRANSCRIPTS:-0} == 1 ]]; then
        # The runner rewrote the copies; carry them back with the
        # placeholders of this folder in place of the addresses.
        rm -f "$case_path.out" "$case_path.err" "$case_path.status"
        for stream in out err status; do
            [[ -f $work/$name.$stream ]] || continue
            OV_L_LDAPS="127.0.0.1:$(cat "$root/shared/ldaps-port")" OV_L_CA="$root/shared/ca.pem" \
            OV_L_NOTLS="127.0.0.1:$(cat "$root/notls/port")" OV_L_CLOSED="127.0.0.1:$closed" \
                perl -pe 's/\Q$ENV{OV_L_LDAPS}\E/\@LDAPS_SERVER\@/g; s/\Q$ENV{OV_L_CA}\E/\@CA_FILE\@/g;
                          s/\Q$ENV{OV_L_NOTLS}\E/\@NOTLS_SERVER\@/g; s/\Q$ENV{OV_L_CLOSED}\E/\@CLOSED_SERVER\@/g' \
                "$work/$name.$stream" >"$case_path.$stream"
        done
    fi
    exit $status
fi
exec bash "$here/../transcripts/run-case.sh" "$binary" "$case_path"
