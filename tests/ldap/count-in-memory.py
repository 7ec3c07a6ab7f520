#!/usr/bin/env python3
"""Counts how often texts occur in the memory of a running process.

    count-in-memory.py PID TEXT...

Reads every writable mapping of /proc/PID/maps (heap, stacks, data; the
texts that the program's files carry are not what it holds) through /proc/PID/mem (root
may read a process that made itself non-dumpable) and prints, for each TEXT,
one line "COUNT TEXT": its occurrences as UTF-8 bytes plus those as 32-bit
wide characters, the form of the program's wide strings."""
import sys


def regions(pid):
    with open("/proc/%d/maps" % pid) as maps:
        for line in maps:
            fields = line.split()
            start, end = (int(x, 16) for x in fields[0].split("-"))
            name = fields[5] if len(fields) > 5 else ""
            writable = "r" in fields[1] and "w" in fields[1]
            if not writable or name in ("[vvar]", "[vsyscall]", "[vvar_vclock]"):
                continue
            yield start, end


def main():
    pid = int(sys.argv[1])
    texts = sys.argv[2:]
    patterns = [(t, [t.encode(), t.encode("utf-32-le")]) for t in texts]
    counts = {t: 0 for t in texts}
    with open("/proc/%d/mem" % pid, "rb", buffering=0) as mem:
        for start, end in regions(pid):
            try:
                mem.seek(start)
                data = mem.read(end - start)
            except (OSError, ValueError, OverflowError):
                continue
            for text, forms in patterns:
                counts[text] += sum(data.count(form) for form in forms)
    for text in texts:
        print(counts[text], text)


if __name__ == "__main__":
    main()
