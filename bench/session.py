#!/usr/bin/env python3
"""Times parts of one session of the program that wall-clock tools cannot see.

  session.py startup PROGRAM RUNS
      Runs PROGRAM RUNS times in an empty folder (no orvane.ini) and prints the
      median time in ms from the start of the process to the first "Selection: ".
  session.py reuse PROGRAM FOLDER PORT CONTEXT
      Runs one session in FOLDER: command 2 on CONTEXT twice. After each
      command it lists the program's TCP connections to PORT, read from /proc,
      and prints how many there were, whether the second command used the
      connection of the first, and how long each command took.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def read_until(process, marker):
    """Reads standard output until marker appears in what is new; keeps only
    the end of what was read."""
    tail = b""
    while True:
        chunk = os.read(process.stdout.fileno(), 1 << 16)
        if not chunk:
            raise SystemExit("session: the program ended before %r" % marker.decode())
        tail += chunk
        if marker in tail:
            return
        tail = tail[-(len(marker) - 1):]


def startup(program, runs):
    samples = []
    with tempfile.TemporaryDirectory() as folder:
        for _ in range(runs):
            begin = time.perf_counter()
            process = subprocess.Popen([program], cwd=folder, stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            process.stdin.write(b"\n\n")
            process.stdin.flush()
            read_until(process, b"Selection: ")
            samples.append((time.perf_counter() - begin) * 1000)
            process.stdin.write(b"0\n")
            process.stdin.close()
            process.stdout.read()
            process.wait()
    print("%.1f" % statistics.median(samples))


def connections(pid, port):
    """The local ports of the process's established TCP connections to port."""
    inodes = set()
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
        except OSError:
            continue
        if target.startswith("socket:["):
            inodes.add(target[8:-1])
    found = []
    for table in ("/proc/%d/net/tcp" % pid, "/proc/%d/net/tcp6" % pid):
        try:
            lines = open(table).read().splitlines()[1:]
        except OSError:
            continue
        for line in lines:
            fields = line.split()
            local, remote, state, inode = fields[1], fields[2], fields[3], fields[9]
            if state == "01" and inode in inodes and int(remote.split(":")[1], 16) == port:
                found.append(int(local.split(":")[1], 16))
    return sorted(found)


def reuse(program, folder, port, context):
    process = subprocess.Popen([program], cwd=folder, stdin=subprocess.PIPE,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    process.stdin.write(b"\n\n")
    process.stdin.flush()
    read_until(process, b"Selection: ")
    rows = []
    for _ in range(2):
        begin = time.perf_counter()
        process.stdin.write(b"2\n" + context.encode() + b"\n")
        process.stdin.flush()
        read_until(process, b"Selection: ")
        rows.append(((time.perf_counter() - begin) * 1000, connections(process.pid, port)))
    process.stdin.write(b"0\n")
    process.stdin.close()
    process.stdout.read()
    process.wait()
    (first_ms, first), (second_ms, second) = rows
    print("%.0f %.0f %d %d %s" % (first_ms, second_ms, len(first), len(second),
                                  "yes" if first and first == second else "no"))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "startup":
        startup(sys.argv[2], int(sys.argv[3]))
    elif len(sys.argv) == 6 and sys.argv[1] == "reuse":
        reuse(sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5])
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
