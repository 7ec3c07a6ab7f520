# Sourced by the scripts that drive one run of the program through a FIFO,
# with their folder in $work and the program's own in $work/run.

# start_program BINARY: runs BINARY in $work/run (killed after 60 s), input
# from the FIFO $work/input, output to $work/out and $work/err; sets program
# to the id of the subshell that runs it and opens the FIFO as descriptor 3.
start_program() {
    mkfifo "$work/input"
    (cd "$work/run" && exec timeout -s KILL 60 "$1" <"$work/input" >"$work/out" 2>"$work/err") &
    program=$!
    exec 3>"$work/input"
}

# wait_for_selection COUNT [TRIES] [PATTERN]: waits until $work/out holds
# COUNT lines matching PATTERN (default: the menu prompt at a line's start),
# 0.05 s a try, and ends the script after TRIES tries (default 200).
wait_for_selection() {
    local count=$1 limit=${2:-200} pattern=${3:-^Selection: } tries=0
    until [[ $(grep -c -- "$pattern" "$work/out" 2>/dev/null || true) -ge $count ]]; do
        tries=$((tries + 1))
        if ((tries > limit)); then echo "the program did not come back to the menu" >&2; exit 1; fi
        sleep 0.05
    done
}
