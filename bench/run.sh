#!/usr/bin/env bash
# Listing benchmark against a private stock slapd (schemas core, cosine,
# inetorgperson and nis only, as Debian installs it), for each size N of the
# arguments (default: 10000 100000; add 1000000 for the million, which takes
# a few minutes more):
#
# - command 2 (GetUsers) on one container of N users: the program with the
#   ldap backend, ldapsearch with the same filter on the same server (paged,
#   DN only), their ratio, and the program with the embedded backend reading
#   the same directory as LDIF (load included); userservice users in text
#   and in json on the same server, with their ratios to ldapsearch and to
#   each other;
# - once, on a directory of 10,000 groups: command 3 (GetGroups) on their
#   container and command 6 (GetUsersForGroup) on a group of 10,000 members,
#   each with the ldapsearch of the same entries beside it;
# - command 2 again through userserviced on loopback (the console with
#   Services=remote, the daemon on the same slapd), with its ratio to
#   ldapsearch straight to slapd and the daemon's peak memory;
# - 32 consoles at once through one daemon, each listing 10,000 users: all
#   checked complete, the slowest console's time and the daemon's peak
#   memory; one userservice look-up through the daemon, start to exit,
#   median and 99th percentile of 201;
# - start-up to the first "Selection: " without a parameter file, and one
#   userservice look-up on the built-in sample from start to exit;
# - a second command 2 in the same session, and whether it used the open
#   connection (the program's connections to the server, read from /proc).
#
# Runs are interleaved (one run of every row, RUNS times over) and each row
# shows the median wall time (ms steps) and the median peak memory.
#
#   bench/run.sh [N...]
#   OV_PROGRAM=path/to/UserServiceCommand (default: build/UserServiceCommand)
#   OV_CLI=path/to/userservice (default: build/userservice)
#   RUNS=5
#   OV_BENCH_KEEP=1: leaves the folder and its slapd servers running
#   PAGE_LIMIT=N: the server answers at most N entries a page (size.pr) and
#   at most 500 a search without paging; default: no limits at all
set -euo pipefail

SIZES=("$@")
[[ ${#SIZES[@]} -gt 0 ]] || SIZES=(10000 100000)
RUNS=${RUNS:-5}
PAGE_LIMIT=${PAGE_LIMIT:-}
GROUPS_N=10000
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/.." && pwd)
PROGRAM=${OV_PROGRAM:-$ROOT/build/UserServiceCommand}
CLI=${OV_CLI:-$ROOT/build/userservice}
DAEMON=${OV_DAEMON:-$ROOT/build/userserviced}
FIXTURE=$ROOT/tests/ldap/slapd-fixture.sh
TIME=/usr/bin/time
PEOPLE="ou=People,dc=bench,dc=test"
GROUPS_OU="ou=Groups,dc=bench,dc=test"
BIG="cn=Big Group,$GROUPS_OU"
USER_FILTER="(objectClass=person)"
GROUP_FILTER="(|(objectClass=groupOfNames)(objectClass=groupOfUniqueNames)(objectClass=posixGroup))"

for n in "${SIZES[@]}"; do
    [[ $n =~ ^[1-9][0-9]*$ ]] || { echo "usage: bench/run.sh [N...]" >&2; exit 2; }
done
[[ -x $PROGRAM ]] || { echo "bench: no program at $PROGRAM (build it, or set OV_PROGRAM)" >&2; exit 1; }
PROGRAM=$(cd "$(dirname "$PROGRAM")" && pwd)/$(basename "$PROGRAM")
[[ -x $CLI ]] || { echo "bench: no userservice at $CLI (build it, or set OV_CLI)" >&2; exit 1; }
CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
[[ -x $DAEMON ]] || { echo "bench: no userserviced at $DAEMON (build it, or set OV_DAEMON)" >&2; exit 1; }
[[ -x $TIME ]] || { echo "bench: $TIME is missing (Debian: apt-get install time)" >&2; exit 1; }
command -v ldapsearch >/dev/null || { echo "bench: ldapsearch is missing (Debian: ldap-utils)" >&2; exit 1; }
command -v python3 >/dev/null || { echo "bench: python3 is missing" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/ov-bench.XXXXXX")
cleanup() {
    [[ -n ${OV_BENCH_KEEP:-} ]] && return
    for pid in $(cat "$WORK"/*/daemon/pid 2>/dev/null); do kill "$pid" 2>/dev/null; done
    for state in "$WORK"/*/slapd; do
        [[ -d $state ]] && bash "$FIXTURE" stop "$state" >/dev/null 2>&1
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

# dc=bench,dc=test with N users in ou=People; with groups=yes also GROUPS_N
# groups of one member each and one group of GROUPS_N members in ou=Groups.
generate() {
    awk -v n="$1" -v groups="$2" -v g="$GROUPS_N" 'BEGIN {
        print "dn: dc=bench,dc=test\nobjectClass: dcObject\nobjectClass: organization\ndc: bench\no: Bench\n"
        print "dn: ou=People,dc=bench,dc=test\nobjectClass: organizationalUnit\nou: People\n"
        for (i = 1; i <= n; i++) {
            id = sprintf("%07d", i)
            printf "dn: cn=Bench User %s,ou=People,dc=bench,dc=test\n", id
            printf "objectClass: person\nobjectClass: organizationalPerson\nobjectClass: inetOrgPerson\n"
            printf "cn: Bench User %s\nsn: User\n", id
            printf "uid: user%s\nmail: user%s@bench.test\n\n", id, id
        }
        if (groups != "yes") exit
        print "dn: ou=Groups,dc=bench,dc=test\nobjectClass: organizationalUnit\nou: Groups\n"
        for (i = 1; i <= g; i++) {
            printf "dn: cn=Bench Group %07d,ou=Groups,dc=bench,dc=test\n", i
            printf "objectClass: groupOfNames\ncn: Bench Group %07d\n", i
            printf "member: cn=Bench User %07d,ou=People,dc=bench,dc=test\n\n", i
        }
        print "dn: cn=Big Group,ou=Groups,dc=bench,dc=test\nobjectClass: groupOfNames\ncn: Big Group"
        for (i = 1; i <= g; i++)
            printf "member: cn=Bench User %07d,ou=People,dc=bench,dc=test\n", i
        print ""
    }'
}

# A folder for one directory: its LDIF, a slapd (its address left in server),
# and the program's folders.
prepare() {
    local dir=$1 n=$2 groups=$3
    mkdir -p "$dir/ldap" "$dir/embedded"
    generate "$n" "$groups" >"$dir/bench.ldif"
    if [[ -n $PAGE_LIMIT ]]; then
        bash "$FIXTURE" start "$dir/slapd" --page-limit "$PAGE_LIMIT" "$dir/bench.ldif" >/dev/null
    else
        bash "$FIXTURE" start "$dir/slapd" --no-limits "$dir/bench.ldif" >/dev/null
    fi
    server="127.0.0.1:$(cat "$dir/slapd/port")"
    printf '[UserService]\nDirectory=ldap://%s\n' "$server" >"$dir/ldap/orvane.ini"
    printf '[UserService]\nDirectory=%s\n' "$dir/bench.ldif" >"$dir/embedded/orvane.ini"
    # The same directory through userserviced on a free loopback port, and a
    # console folder that reaches it.
    mkdir -p "$dir/daemon" "$dir/remote"
    printf '[Daemon]\nListen=127.0.0.1:0\n[UserService]\nDirectory=ldap://%s\n' "$server" \
        >"$dir/daemon/userserviced.ini"
    (cd "$dir/daemon" && exec "$DAEMON" --config userserviced.ini 2>err) &
    echo $! >"$dir/daemon/pid"
    local port="" tries
    for ((tries = 0; tries < 100; tries++)); do
        [[ -z $port ]] || break
        sleep 0.05
        port=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$dir/daemon/err" | sed 's/.*://' || true)
    done
    [[ -n $port ]] || { echo "bench: userserviced did not start: $(cat "$dir/daemon/err")" >&2; exit 1; }
    printf '[ServiceAccess]\nServices=remote\nLocation=127.0.0.1:%s\n' "$port" \
        >"$dir/remote/orvane.ini"
    # One unmeasured pass, so that every run finds the database in memory.
    ldapsearch -x -LLL -H "ldap://$server" -b "dc=bench,dc=test" -E pr=1000/noprompt 1.1 >/dev/null
}

# Rows: name, folder, input file ("" for none), the count of lines matching a
# pattern that the output must reach, and the command.
ROW_NAMES=() ROW_DIRS=() ROW_INPUTS=() ROW_PATTERNS=() ROW_COUNTS=() ROW_COMMANDS=()
row() {
    ROW_NAMES+=("$1") ROW_DIRS+=("$2") ROW_INPUTS+=("$3") ROW_PATTERNS+=("$4") ROW_COUNTS+=("$5")
    ROW_COMMANDS+=("$6")
}

# The program's session: two empty answers at the start-up prompts, one
# command, then 0.
session_input() {
    printf '\n\n%s\n%s\n0\n' "$2" "$3" >"$1"
}

# Seconds between two readings of date +%s%N, in ms steps.
elapsed() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b - a) / 1e9 }'
}

# One run of row i; appends "seconds kB" to its samples.
run_row() {
    local i=$1 dir=${ROW_DIRS[$1]} input=${ROW_INPUTS[$1]:-/dev/null} count start end
    # Wall time from the clock in nanoseconds (time's own is in 10 ms steps),
    # peak memory from time.
    start=$(date +%s%N)
    (cd "$dir" && eval "$TIME -f '%M' -o '$WORK/time' ${ROW_COMMANDS[$i]}" <"$input" \
        >"$WORK/out" 2>"$WORK/err") ||
        { echo "bench: ${ROW_NAMES[$i]} failed: $(tail -3 "$WORK/err")" >&2; exit 1; }
    end=$(date +%s%N)
    count=$(grep -c -- "${ROW_PATTERNS[$i]}" "$WORK/out" || true)
    if [[ $count -lt ${ROW_COUNTS[$i]} ]]; then
        echo "bench: ${ROW_NAMES[$i]} listed $count entries, not ${ROW_COUNTS[$i]}" >&2
        tail -5 "$WORK/out" >&2
        exit 1
    fi
    printf '%s %s\n' "$(elapsed "$start" "$end")" "$(tail -1 "$WORK/time")" >>"$WORK/samples.$i"
}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# Runs every row RUNS times, interleaved, prints each row's medians and
# empties the rows for the next table.
run_rows() {
    local run i seconds kb
    rm -f "$WORK"/samples.*
    for ((run = 0; run < RUNS; run++)); do
        for ((i = 0; i < ${#ROW_NAMES[@]}; i++)); do run_row "$i"; done
    done
    for ((i = 0; i < ${#ROW_NAMES[@]}; i++)); do
        seconds=$(awk '{ print $1 }' "$WORK/samples.$i" | median)
        kb=$(awk '{ print $2 }' "$WORK/samples.$i" | median)
        printf '  %-52s %7s s %9s kB\n' "${ROW_NAMES[$i]}" "$seconds" "$kb"
        printf '%s %s\n' "$seconds" "$kb" >"$WORK/median.$i"
    done
    ROW_NAMES=() ROW_DIRS=() ROW_INPUTS=() ROW_PATTERNS=() ROW_COUNTS=() ROW_COMMANDS=()
}

ratio() {
    awk -v a="$(cut -d' ' -f1 "$WORK/median.$1")" -v b="$(cut -d' ' -f1 "$WORK/median.$2")" \
        'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "n/a" }'
}

# The daemon's peak resident memory so far, in kB.
daemon_peak() {
    awk '/^VmHWM:/ { print $2 }' "/proc/$(cat "$1/daemon/pid")/status"
}

ldapsearch_command() {
    printf "ldapsearch -x -LLL -H ldap://%s -b '%s' -E pr=1000/noprompt %s" "$1" "$2" "$3"
}

echo "Program: $PROGRAM; $RUNS interleaved runs a row, medians; server page limit: ${PAGE_LIMIT:-none}"
TABLE=()
for n in "${SIZES[@]}"; do
    dir="$WORK/users-$n"
    echo
    echo "Generating $n users and loading them into a private slapd ..."
    prepare "$dir" "$n" no
    session_input "$dir/input" 2 "LDAP://$server $PEOPLE"
    row "command 2, ldap backend" "$dir/ldap" "$dir/input" $'^\tLDAP://' "$n" "'$PROGRAM'"
    row "ldapsearch, command 2's filter, paged 1000, DN only" "$dir" "" '^dn: cn=Bench' "$n" \
        "$(ldapsearch_command "$server" "$PEOPLE" "'$USER_FILTER' 1.1")"
    row "command 2, embedded backend (load included)" "$dir/embedded" "$dir/input" $'^\tLDAP://' \
        "$n" "'$PROGRAM'"
    row "userservice users, ldap backend, text" "$dir/ldap" "" '^LDAP://' "$n" \
        "'$CLI' users 'LDAP://$server $PEOPLE'"
    row "userservice users, ldap backend, json" "$dir/ldap" "" '"fqdn": "LDAP://' "$n" \
        "'$CLI' --format json users 'LDAP://$server $PEOPLE'"
    row "command 2 through userserviced (loopback)" "$dir/remote" "$dir/input" $'^\tLDAP://' \
        "$n" "'$PROGRAM'"
    echo "Command 2 on $PEOPLE, $n users:"
    run_rows
    echo "  ratio program / ldapsearch: $(ratio 0 1); userservice text / ldapsearch: $(ratio 3 1);" \
        "json / text: $(ratio 4 3)"
    echo "  through userserviced / ldapsearch straight to slapd: $(ratio 5 1) (goal <= 0.8);" \
        "the daemon's peak memory: $(daemon_peak "$dir") kB"
    TABLE+=("$(printf '%9d %8s %9s %8s %8s %9s' "$n" "$(cut -d' ' -f1 "$WORK/median.0")" \
        "$(cut -d' ' -f2 "$WORK/median.0")" "$(ratio 0 1)" "$(cut -d' ' -f1 "$WORK/median.2")" \
        "$(cut -d' ' -f2 "$WORK/median.2")")")
    reused="$dir"
    [[ -n ${OV_BENCH_KEEP:-} ]] || [[ $n == "${SIZES[-1]}" ]] || {
        kill "$(cat "$dir/daemon/pid")" 2>/dev/null || true
        bash "$FIXTURE" stop "$dir/slapd" >/dev/null 2>&1
        rm -rf "$dir"
    }
done

echo
echo "Users   ldap: s       kB   ratio  embedded: s       kB"
printf '%s\n' "${TABLE[@]}"

dir="$WORK/groups"
echo
echo "Generating $GROUPS_N groups and a group of $GROUPS_N members over $GROUPS_N users ..."
prepare "$dir" "$GROUPS_N" yes
session_input "$dir/groups-input" 3 "LDAP://$server $GROUPS_OU"
session_input "$dir/members-input" 6 "LDAP://$server $BIG"
row "command 3, ldap backend" "$dir/ldap" "$dir/groups-input" $'^\tLDAP://' "$GROUPS_N" "'$PROGRAM'"
row "ldapsearch, command 3's filter, paged 1000, DN only" "$dir" "" '^dn: cn=' "$GROUPS_N" \
    "$(ldapsearch_command "$server" "$GROUPS_OU" "'$GROUP_FILTER' 1.1")"
row "command 3, embedded backend (load included)" "$dir/embedded" "$dir/groups-input" \
    $'^\tLDAP://' "$GROUPS_N" "'$PROGRAM'"
row "command 6, ldap backend" "$dir/ldap" "$dir/members-input" $'^\tLDAP://' "$GROUPS_N" \
    "'$PROGRAM'"
# The group holds every user of the directory: one search reads the same
# entries that command 6 looks up member by member.
row "ldapsearch, the members' entries in one search" "$dir" "" '^dn: cn=Bench User' \
    "$GROUPS_N" "$(ldapsearch_command "$server" "$PEOPLE" "'$USER_FILTER' 1.1")"
row "command 6, embedded backend (load included)" "$dir/embedded" "$dir/members-input" \
    $'^\tLDAP://' "$GROUPS_N" "'$PROGRAM'"
echo "Command 3 on $GROUPS_OU ($GROUPS_N groups) and command 6 on $BIG ($GROUPS_N members):"
run_rows
echo "  ratio command 3 / ldapsearch: $(ratio 0 1); command 6 / ldapsearch: $(ratio 3 4)"

dir="$WORK/consoles"
echo
echo "Generating 10000 users for 32 consoles at once through one userserviced ..."
prepare "$dir" 10000 no
session_input "$dir/input" 2 "LDAP://$server $PEOPLE"
python3 - "$PROGRAM" "$dir/remote" "$dir/input" 32 10000 <<'PY'
import subprocess, sys, time
program, folder, input_file, consoles, users = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
data = open(input_file, "rb").read()
start = time.perf_counter()
running = []
for _ in range(consoles):
    p = subprocess.Popen([program], cwd=folder, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL)
    running.append((p, time.perf_counter()))
times, complete = [], 0
for p, began in running:
    out, _ = p.communicate(data)
    times.append(time.perf_counter() - began)
    listed = sum(1 for line in out.split(b"\n") if line.startswith(b"\tLDAP://"))
    complete += (p.returncode == 0 and listed == users)
print(f"  {consoles} consoles, each command 2 on {users} users: {complete} complete and correct;"
      f" slowest console {max(times):.3f} s, all done after {time.perf_counter() - start:.3f} s")
if complete != consoles:
    sys.exit(1)
PY
echo "  the daemon's peak memory: $(daemon_peak "$dir") kB"
python3 - "$CLI" "$dir/remote" <<'PY'
import statistics, subprocess, sys, time
cli, folder = sys.argv[1], sys.argv[2]
times = []
for _ in range(201):
    start = time.perf_counter()
    subprocess.run([cli, "--config", "orvane.ini", "fqdn", "BENCH\\user0000001"], cwd=folder,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1000)
times.sort()
print(f"  userservice fqdn through userserviced, start to exit, 201 runs: median"
      f" {statistics.median(times):.1f} ms, 99th percentile {times[198]:.1f} ms")
PY

echo
echo "Start-up to the first \"Selection: \", no orvane.ini, median of 21: $(python3 "$HERE/session.py" startup "$PROGRAM" 21) ms"
echo "userservice fqdn on the built-in sample, start to exit, median of 21: $(python3 -c '
import statistics, subprocess, sys, tempfile, time
with tempfile.TemporaryDirectory() as folder:
    times = []
    for _ in range(21):
        start = time.perf_counter()
        subprocess.run([sys.argv[1], "fqdn", "EXAMPLE\\jsmith"], cwd=folder, check=True,
                       stdout=subprocess.DEVNULL, env={"HOME": folder})
        times.append((time.perf_counter() - start) * 1000)
print(f"{statistics.median(times):.1f}")' "$CLI") ms"
port=$(cat "$reused/slapd/port")
read -r first second before after same < <(python3 "$HERE/session.py" reuse "$PROGRAM" \
    "$reused/ldap" "$port" "LDAP://127.0.0.1:$port $PEOPLE")
echo "One session, command 2 twice on $PEOPLE: $first ms, then $second ms;" \
    "connections to the server after each: $before, $after; the second used the first's: $same"
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
        # From the clock, as the rows: time's own is in 10 ms steps.
        start=$(date +%s%N)
        (cd "$WORK/wide" && "$PROGRAM" <"$WORK/wide-input" >"$WORK/out" 2>&1)
        end=$(date +%s%N)
        grep -q 'dc=wide' "$WORK/out" || { echo "bench: the wide record did not load" >&2; exit 1; }
        seconds=$(elapsed "$start" "$end")
        if [[ -z $best ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then
            best=$seconds
        fi
    done
    printf '  %6d attributes %8s s\n' "$K" "$best"
done
