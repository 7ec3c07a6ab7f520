#!/usr/bin/env python3
"""The program against a server that answers as Active Directory does
(emulator/server.js): a group of 5,000 members answered in ranges, pages of
at most 1,000 entries, continuation references from the domain's root.

    emulator-check.py BINARY EMULATOR-DIR

EMULATOR-DIR holds server.js and its node_modules. Each check runs the
program on piped standard input, one command a run, and compares the whole
list that it prints with the list the emulator's data gives."""
import os
import subprocess
import sys
import tempfile
import time

BINARY, EMULATOR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
DOMAIN = "DC=example,DC=com"


def user(i):
    return "User %04d" % i


def wait_for_port(path, process):
    for _ in range(200):
        if process.poll() is not None:
            sys.exit("emulator-check: the emulator ended before it listened:\n" +
                     open(os.path.join(os.path.dirname(path), "emulator.log")).read()[-2000:])
        if os.path.exists(path) and open(path).read().strip():
            return int(open(path).read())
        time.sleep(0.05)
    sys.exit("emulator-check: the emulator did not listen")


def output(work, command, *answers, record=None):
    """Runs one command and gives what it printed; standard error must be
    empty, or the one error record that holds the text record."""
    script = "\n\n%s\n%s\n0\n" % (command, "\n".join(answers))
    done = subprocess.run([BINARY], cwd=work, input=script.encode(), capture_output=True,
                          timeout=300)
    errors = done.stderr.decode(errors="replace")
    expected = record is not None and errors.count("\n") == 1 and record in errors
    if done.returncode != 0 or (done.stderr and not expected):
        sys.exit("emulator-check: command %s %s: status %d, %s" %
                 (command, answers, done.returncode, done.stderr.decode(errors="replace")))
    return done.stdout.decode("utf-8", "replace")


def run(work, server, command, *answers):
    """Runs one command and gives the list it printed."""
    out = output(work, command, *answers)
    lines = out.split("\n")
    for heading in ("Users:", "Groups:"):
        if heading in lines:
            start = lines.index(heading) + 1
            listed = []
            for line in lines[start:]:
                if not line.startswith("\t"):
                    break
                listed.append(line[1:])
            return listed
    sys.exit("emulator-check: command %s %s printed no list:\n%s" %
             (command, answers, out[out.find("Selection: \n") :][:2000]))


def main():
    failures = []
    with tempfile.TemporaryDirectory(prefix="ov-ad-emulator.") as work:
        port_file = os.path.join(work, "port")
        log = open(os.path.join(work, "emulator.log"), "w")
        emulator = subprocess.Popen(["node", os.path.join(EMULATOR, "server.js"), port_file],
                                    cwd=EMULATOR, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT)
        try:
            port = wait_for_port(port_file, emulator)
            server = "127.0.0.1:%d" % port
            # Holds the service account's password: readable by its owner only.
            with open(os.open(os.path.join(work, "orvane.ini"), os.O_WRONLY | os.O_CREAT, 0o600),
                      "w") as ini:
                ini.write("[PolicyServer]\nPolicyServerIP=127.0.0.1\nPolicyServerPort=55900\n"
                          "PolicyServerWaitTime=5\n\n[UserService]\nDirectory=ldap://%s\n"
                          "BindDN=CN=Administrator,CN=Users,%s\nBindPassword=Admin#2024\n" %
                          (server, DOMAIN))
            staff = "LDAP://%s OU=Staff,%s" % (server, DOMAIN)
            groups = "LDAP://%s OU=Groups,%s" % (server, DOMAIN)

            def users(numbers):
                return sorted("%s/%s" % (staff, user(i)) for i in numbers)

            def check(what, got, expected):
                if got != expected:
                    missing = sorted(set(expected) - set(got))
                    extra = sorted(set(got) - set(expected))
                    failures.append("%s: %d listed, %d expected; missing %s; extra %s" %
                                    (what, len(got), len(expected), missing[:5], extra[:5]))

            # Members in ranges: 0-1499, 1500-2999, 3000-4499, 4500-*.
            for group, numbers in (("Everyone", range(5000)), ("Exactly 1500", range(1500)),
                                   ("One Past 1500", range(3499, 5000)),
                                   ("Nested", range(5000))):
                check("command 6 on " + group, run(work, server, 6, "%s/%s" % (groups, group)),
                      users(numbers))
            # A server whose ranges do not go on is an error, not a loop.
            out = output(work, 6, "%s/Stuck" % groups, record="do not go on where they ended")
            if "\nThe directory server refused the request\n Error #815923207\n" not in out:
                failures.append("command 6 on a group whose ranges do not go on: %s" %
                                out[out.find("Call with"):][:300])
            # Pages of at most 1,000 entries, whatever size is asked for.
            check("command 2 on OU=Staff", run(work, server, 2, staff), users(range(5000)))
            # References to the DNS and configuration partitions are passed over.
            check("command 3 on the domain", run(work, server, 3, "LDAP://%s %s" % (server, DOMAIN)),
                  ["%s/%s" % (groups, g) for g in
                   ("Everyone", "Exactly 1500", "Nested", "One Past 1500", "Small", "Stuck")])
            # Every member finds the large group, whichever range holds it.
            for i, expected in ((0, ["Everyone", "Exactly 1500", "Stuck"]),
                                (1499, ["Everyone", "Exactly 1500", "Stuck"]),
                                (1500, ["Everyone", "Stuck"]), (2999, ["Everyone", "Stuck"]),
                                (3000, ["Everyone"]),
                                (3499, ["Everyone", "One Past 1500"]),
                                (4500, ["Everyone", "One Past 1500"]),
                                (4999, ["Everyone", "One Past 1500", "Small"])):
                check("command 5 on %s" % user(i), run(work, server, 5, "%s/%s" % (staff, user(i))),
                      ["%s/%s" % (groups, g) for g in expected])
        finally:
            emulator.terminate()
            try:
                emulator.wait(timeout=10)
            except subprocess.TimeoutExpired:
                emulator.kill()
            log.close()
            if failures:
                print(open(os.path.join(work, "emulator.log")).read()[-2000:])
    for failure in failures:
        print("emulator-check: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
