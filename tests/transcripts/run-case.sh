#!/usr/bin/env bash
# Runs the program on one transcript case and compares its whole standard
# output, standard error and exit status with the case's expected files.
#
#   run-case.sh BINARY CASE-PATH        (CASE-PATH without extension)
#
# Case files: NAME.in (first line "# purpose", the rest is standard input),
# NAME.out, NAME.err (missing: must be empty), NAME.ini (becomes orvane.ini),
# NAME.args (one argument a line), NAME.status (default 0), NAME.signal (a
# signal name such as TERM: sent once the program waits at a prompt, with
# standard input kept open).
# In .ini, .in, .args, .out and .err: @DATA@ is the test data folder,
# @SERVER@ the directory server as typed in contexts (OV_SERVER, default
# localhost); a line @DIRECTORY_SETTINGS@ in .ini becomes the [UserService]
# key lines of OV_DIRECTORY_SETTINGS (newline-separated; default
# Directory=@DATA@/directory.ldif, or the file that NAME.directory names in
# the data folder: directory-ad.ldif for what only Active Directory has).
# In .out a line @MENU@ stands for the menu as the program prints it, from
# "1. GetUser" to the "Selection: " prompt (the file menu next to this
# script); what follows the prompt on its line follows the marker's line
# end. The expanded text is compared byte for byte.
# OV_UPDATE_TRANSCRIPTS=1 rewrites the expected files from what the program
# did instead of comparing; review the result before keeping it.
# OV_DAEMON=PATH of userserviced runs the case with the services in a daemon:
# started in the run folder on the case's settings and a free loopback port,
# named to the program in [ServiceAccess], stopped afterwards (it must exit
# 0). The expected files are the same. A case that cannot be the same exits
# 77 (skipped) with the reason.
set -u

if [ $# -ne 2 ]; then
    echo "usage: $0 BINARY CASE-PATH" >&2
    exit 2
fi
binary=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
case_path=${2%.in}
case_name=$(basename "$case_path")
here=$(cd "$(dirname "$0")" && pwd)
data=${OV_TEST_DATA:-$(cd "$here/../data" && pwd)}
server=${OV_SERVER:-localhost}
data_file=directory.ldif
if [ -f "$case_path.directory" ]; then data_file=$(tr -d ' \n' < "$case_path.directory"); fi
settings=${OV_DIRECTORY_SETTINGS-Directory=@DATA@/$data_file}
limit=${OV_TRANSCRIPT_TIMEOUT:-60}

if [ ! -f "$case_path.in" ]; then
    echo "$case_name: no $case_path.in" >&2
    exit 2
fi
if [ "$(head -c 2 "$case_path.in")" != "# " ]; then
    echo "$case_name: the first line of $case_path.in must be \"# <purpose>\"" >&2
    exit 2
fi

menu_file=$here/menu

substitute() {
    OV_S_DATA=$data OV_S_SERVER=$server OV_S_SETTINGS=$settings OV_S_MENU=$menu_file perl -0777 -pe '
        BEGIN { open my $m, "<", $ENV{OV_S_MENU} or die "$ENV{OV_S_MENU}: $!"; local $/; $menu = <$m>; }
        s/^\@MENU\@$/$menu/mg;
        s/^\@DIRECTORY_SETTINGS\@$/$ENV{OV_S_SETTINGS}/mg;
        s/\@DATA\@/$ENV{OV_S_DATA}/g;
        s/\@SERVER\@/$ENV{OV_S_SERVER}/g;' "$1"
}

daemon=${OV_DAEMON:-}
if [ -n "$daemon" ]; then
    # Without a file of its own the program would be given one; the
    # services' records go to the daemon's standard error.
    why=
    if [ ! -e "$case_path.ini" ]; then
        why="it has no parameter file"
    elif [ ! -f "$case_path.ini" ] || [ ! -r "$case_path.ini" ]; then
        why="its parameter file is not a readable regular file"
    elif grep -qi 'ModuleId=0x30a200' "$case_path.err" 2>/dev/null; then
        why="the services' records come from the daemon"
    fi
    if [ -n "$why" ]; then
        echo "$case_name: not through a daemon: $why"
        exit 77
    fi
    daemon=$(cd "$(dirname "$daemon")" && pwd)/$(basename "$daemon")
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/transcript.XXXXXX")
daemon_pid=
stop_daemon() {
    [ -n "$daemon_pid" ] || return 0
    kill -s TERM "$daemon_pid" 2>/dev/null
    for _ in $(seq 1 200); do
        kill -0 "$daemon_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -s KILL "$daemon_pid" 2>/dev/null
    wait "$daemon_pid"
    daemon_status=$?
    daemon_pid=
}
trap 'stop_daemon; rm -rf "$work"' EXIT
mkdir "$work/run"
if [ -f "$case_path.ini" ]; then substitute "$case_path.ini" > "$work/run/orvane.ini"; fi
substitute "$case_path.in" | tail -n +2 > "$work/stdin"
args=()
if [ -f "$case_path.args" ]; then
    while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done \
        < <(substitute "$case_path.args")
fi

if [ -n "$daemon" ]; then
    # The case's sections, then the daemon's own.
    { cat "$work/run/orvane.ini"; printf '\n[Daemon]\nListen=127.0.0.1:0\n'; } > "$work/daemon.ini"
    (cd "$work/run" && exec env -u LANG -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LANGUAGE \
        "$daemon" --config "$work/daemon.ini" > /dev/null 2> "$work/daemon.err") &
    daemon_pid=$!
    port=
    for _ in $(seq 1 200); do
        port=$(sed -n 's/.*(listening on 127\.0\.0\.1:\([0-9]*\))$/\1/p' "$work/daemon.err")
        [ -n "$port" ] && break
        kill -0 "$daemon_pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ -z "$port" ]; then
        echo "$case_name: the daemon did not listen:"
        cat "$work/daemon.err"
        exit 1
    fi
    # The program's file keeps no section of the services (no directory, no
    # password): services answering in the program would use the built-in
    # sample, and some answers would differ.
    awk '/^[ \t]*\[/ { skip = tolower($0) ~ /^[ \t]*\[(userservice|transidservice)\]/ } !skip' \
        "$work/run/orvane.ini" > "$work/console.ini"
    printf '[ServiceAccess]\nServices=remote\nLocation=127.0.0.1:%s\n' "$port" >> "$work/console.ini"
    mv "$work/console.ini" "$work/run/orvane.ini"
fi

# The program is started by its bare name, as a user would type it, so that
# the usage line does not depend on the build folder.
mkdir "$work/bin"
ln -s "$binary" "$work/bin/UserServiceCommand"
# The locale stays unset: the program must not depend on it.
run_env=(env -u LANG -u LC_ALL -u LC_CTYPE -u LC_MESSAGES -u LANGUAGE "PATH=$work/bin:$PATH")

if [ -f "$case_path.signal" ]; then
    signal=$(tr -d ' \n' < "$case_path.signal")
    mkfifo "$work/fifo"
    (cd "$work/run" && exec "${run_env[@]}" UserServiceCommand "${args[@]}" \
        < "$work/fifo" > "$work/stdout" 2> "$work/stderr") &
    pid=$!
    exec 3> "$work/fifo"
    cat "$work/stdin" >&3
    # Wait until the program has consumed the input and waits at a prompt:
    # its output ends in ": ", it sleeps, and the output has not grown for a
    # few looks in a row.
    steady=0
    last=-1
    for _ in $(seq 1 300); do
        size=$(stat -c %s "$work/stdout" 2>/dev/null || echo 0)
        state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null)
        if [ "$(tail -c 2 "$work/stdout" 2>/dev/null)" = ": " ] && [ "$state" = S ] \
            && [ "$size" = "$last" ]; then
            steady=$((steady + 1))
            [ $steady -ge 3 ] && break
        else
            steady=0
        fi
        last=$size
        sleep 0.1
    done
    kill -s "$signal" "$pid"
    for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill -s KILL "$pid" 2>/dev/null
    wait "$pid"
    status=$?
    exec 3>&-
else
    (cd "$work/run" && exec "${run_env[@]}" timeout -s KILL "$limit" UserServiceCommand "${args[@]}" \
        < "$work/stdin" > "$work/stdout" 2> "$work/stderr")
    status=$?
fi

expected_status=0
if [ -f "$case_path.status" ]; then expected_status=$(tr -d ' \n' < "$case_path.status"); fi

if [ "${OV_UPDATE_TRANSCRIPTS:-0}" = 1 ]; then
    unsubstitute() {
        OV_S_DATA=$data OV_S_SERVER=$server OV_S_MENU=$menu_file perl -0777 -pe '
            BEGIN { open my $m, "<", $ENV{OV_S_MENU} or die "$ENV{OV_S_MENU}: $!"; local $/; $menu = <$m>; }
            s/^\Q$menu\E$/\@MENU\@/mg;
            s/\Q$ENV{OV_S_DATA}\E/\@DATA\@/g;
            s/\Q$ENV{OV_S_SERVER}\E/\@SERVER\@/g if length $ENV{OV_S_SERVER};' "$1"
    }
    for stream in out err; do
        actual=$work/std$stream
        if [ -s "$actual" ]; then
            unsubstitute "$actual" > "$case_path.$stream"
        else
            rm -f "$case_path.$stream"
        fi
    done
    if [ "$status" -ne 0 ]; then echo "$status" > "$case_path.status"; else rm -f "$case_path.status"; fi
    echo "$case_name: expected files rewritten"
    exit 0
fi

failed=0
for stream in out err; do
    actual=$work/std$stream
    if [ -f "$case_path.$stream" ]; then
        substitute "$case_path.$stream" > "$work/expected.$stream"
    else
        : > "$work/expected.$stream"
    fi
    if ! cmp -s "$work/expected.$stream" "$actual"; then
        if [ "$stream" = out ]; then what=output; else what=error; fi
        echo "$case_name: standard $what differs:"
        diff -u --label "expected $case_name.$stream" --label "actual" \
            "$work/expected.$stream" "$actual"
        failed=1
    fi
done
if [ "$status" != "$expected_status" ]; then
    echo "$case_name: exit status $status, expected $expected_status"
    failed=1
fi
if [ -n "$daemon_pid" ]; then
    stop_daemon
    if [ "$daemon_status" != 0 ]; then
        echo "$case_name: the daemon exited with $daemon_status, expected 0:"
        cat "$work/daemon.err"
        failed=1
    fi
fi
exit $failed
