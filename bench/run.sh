#!/usr/bin/env bash
# Times command 2 (GetUsers) on one container of N users (default 100000):
# the program with the ldap backend against a private stock slapd (schemas
# core, cosine, inetorgperson and nis only, as Debian installs it), ldapsearch on
# the same server and container (paged, DN only) for comparison, and the
# program with the embedded backend reading the same directory as LDIF
# (load included). Prints wall time and peak memory of each, best of RUNS
# runs, and the ratio program / ldapsearch, against ldapsearch's own filter
# and against the filter that command 2 sends.
#
#   bench/run.sh [N]
#   OV_PROGRAM=path/to/UserServiceCommand (default: build/UserServiceCommand)
#   RUNS=3
#   OV_BENCH_KEEP=1: leaves the folder and its slapd running, for a closer look
#   PAGE_LIMIT=N: the server answers at most N entries a page (size.pr) and
#   at most 500 a search without paging; default: no limits at all
set -euo pipefail

N=${1:-100000}
RUNS=${RUNS:-3}
PAGE_LIMIT=${PAGE_LIMIT:-}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
PROGRAM=${OV_PROGRAM:-$ROOT/build/UserServiceCommand}
FIXTURE=$ROOT/tests/ldap/slapd-fixture.sh
TIME=/usr/bin/time
CONTAINER="ou=People,dc=bench,dc=test"

[[ $N =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/run.sh [N]" >&2; exit 2; }
[[ -x $PROGRAM ]] || { echo "bench: no program at $PROGRAM (build it, or set OV_PROGRAM)" >&2; exit 1; }
PROGRAM=$(cd "$(dirname "$PROGRAM")" && pwd)/$(basename "$PROGRAM")
[[ -x $TIME ]] || { echo "bench: $TIME is missing (Debian: apt-get install time)" >&2; exit 1; }
command -v ldapsearch >/dev/null || { echo "bench: ldapsearch is missing (Debian: ldap-utils)" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ov-bench.XXXXXX")
cleanup() {
    [[ -n ${OV_BENCH_KEEP:-} ]] && return
    bash "$FIXTURE" stop "$WORK/slapd" >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT

echo "Generating $N users in $CONTAINER ..."
awk -v n="$N" 'BEGIN {
    print "dn: dc=bench,dc=test\nobjectClass: dcObject\nobjectClass: organization\ndc: bench\no: Bench\n"
    print "dn: ou=People,dc=bench,dc=test\nobjectClass: organizationalUnit\nou: People\n"
    for (i = 1; i <= n; i++) {
        id = sprintf("%06d", i)
        printf "dn: cn=Bench User %s,ou=People,dc=bench,dc=test\n", id
        printf "objectClass: person\nobjectClass: organizationalPerson\nobjectClass: inetOrgPerson\n"
        printf "cn: Bench User %s\nsn: User\n", id
        printf "uid: user%s\nmail: user%s@bench.test\n\n", id, id
    }
}' >"$WORK/bench.ldif"

echo "Loading it into a private slapd ..."
if [[ -n $PAGE_LIMIT ]]; then
    bash "$FIXTURE" start "$WORK/slapd" --page-limit "$PAGE_LIMIT" "$WORK/bench.ldif" >/dev/null
else
    bash "$FIXTURE" start "$WORK/slapd" --no-limits "$WORK/bench.ldif" >/dev/null
fi
PORT=$(cat "$WORK/slapd/port")
SERVER="127.0.0.1:$PORT"

mkdir -p "$WORK/ldap" "$WORK/embedded"
printf '[UserService]\nDirectory=ldap://%s\n' "$SERVER" >"$WORK/ldap/orvane.ini"
printf '[UserService]\nDirectory=%s\n' "$WORK/bench.ldif" >"$WORK/embedded/orvane.ini"
# Two empty answers at the start-up prompts, then command 2 and 0.
printf '\n\n2\nLDAP://%s %s\n0\n' "$SERVER" "$CONTAINER" >"$WORK/input"

# Runs "$@" RUNS times in folder $1 with standard input $2; prints the best
# wall time and the peak memory (kB) of that run; checks the listing size.
measure() {
    local folder=$1 input=$2 expect=$3; shift 3
    local best="" memory="" run line seconds kb count
    for ((run = 0; run < RUNS; run++)); do
        (cd "$folder" && "$TIME" -f "%e %M" -o "$WORK/time" "$@" <"$input" >"$WORK/out" 2>"$WORK/err") ||
            { echo "bench: $1 failed: $(tail -3 "$WORK/err")" >&2; exit 1; }
        line=$(tail -1 "$WORK/time")
        seconds=${line% *}
        kb=${line#* }
        count=$(grep -c "$expect" "$WORK/out" || true)
        if [[ $count -lt $N ]]; then
            echo "bench: $* listed $count entries, not $N" >&2
            tail -5 "$WORK/out" >&2
            exit 1
        fi
        if [[ -z $best ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
            memory=$kb
        fi
    done
    echo "$best $memory"
}

: >"$WORK/empty"
# One unmeasured pass so that every run finds the database in memory.
ldapsearch -x -LLL -H "ldap://$SERVER" -b "$CONTAINER" -E pr=1000/noprompt 1.1 >/dev/null

read -r LDAP_S LDAP_KB < <(measure "$WORK/ldap" "$WORK/input" $'^\tLDAP://' "$PROGRAM")
read -r SEARCH_S SEARCH_KB < <(measure "$WORK" "$WORK/empty" '^dn: cn=Bench' \
    ldapsearch -x -LLL -H "ldap://$SERVER" -b "$CONTAINER" -E pr=1000/noprompt 1.1)
# The same search with the filter command 2 sends for users, which slapd
# must test against every entry. The server is a stock slapd, which has no
# class "computer": the program learns that from its schema and asks for
# persons alone.
read -r USERS_S USERS_KB < <(measure "$WORK" "$WORK/empty" '^dn: cn=Bench' \
    ldapsearch -x -LLL -H "ldap://$SERVER" -b "$CONTAINER" -E pr=1000/noprompt \
    "(objectClass=person)" 1.1)
read -r EMB_S EMB_KB < <(measure "$WORK/embedded" "$WORK/input" $'^\tLDAP://' "$PROGRAM")

echo
echo "Command 2 on $CONTAINER, $N users, best of $RUNS runs (server page limit: ${PAGE_LIMIT:-none}):"
printf '  %-44s %8s s %10s kB\n' "program, ldap backend" "$LDAP_S" "$LDAP_KB"
printf '  %-44s %8s s %10s kB\n' "ldapsearch -LLL, paged 1000, DN only" "$SEARCH_S" "$SEARCH_KB"
printf '  %-44s %8s s %10s kB\n' "  the same with command 2's user filter" "$USERS_S" "$USERS_KB"
printf '  %-44s %8s s %10s kB\n' "program, embedded backend (load included)" "$EMB_S" "$EMB_KB"
awk -v a="$LDAP_S" -v b="$SEARCH_S" -v c="$USERS_S" 'BEGIN {
    if (b > 0 && c > 0) {
        printf "  ratio program / ldapsearch: %.2f\n", a / b
        printf "  ratio program / ldapsearch with the user filter: %.2f\n", a / c
    } else {
        print "  ratio program / ldapsearch: ldapsearch took no measurable time"
    }
}'

# One record of many distinct attributes: the load time should double with
# the number of attributes, not quadruple.
mkdir -p "$WORK/wide"
printf '\n\n4\nLDAP\n0\n' >"$WORK/wide-input"
echo
echo "Embedded backend, one LDIF record of K distinct attributes (load and command 4), best of $RUNS runs:"
for K in 10000 20000 40000; do
    awk -v k="$K" 'BEGIN {
        print "dn: dc=wide\nobjectClass: domain\ndc: wide"
        for (i = 1; i <= k; i++) printf "attribute%d: value %d\n", i, i
    }' >"$WORK/wide/wide.ldif"
    printf '[UserService]\nDirectory=%s\n' "$WORK/wide/wide.ldif" >"$WORK/wide/orvane.ini"
    best=""
    for ((run = 0; run < RUNS; run++)); do
        (cd "$WORK/wide" && "$TIME" -f "%e" -o "$WORK/time" "$PROGRAM" <"$WORK/wide-input" >"$WORK/out" 2>&1)
        grep -q 'dc=wide' "$WORK/out" || { echo "bench: the wide record did not load" >&2; exit 1; }
        seconds=$(tail -1 "$WORK/time")
        if [[ -z $best ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
        fi
    done
    printf '  %6d attributes %8s s\n' "$K" "$best"
done
