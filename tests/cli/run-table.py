#!/usr/bin/env python3
"""Runs userservice on every row of a table and compares what it did.

    run-table.py BINARY TABLE [--ldap SERVERS-ROOT | --samba SAMBA-STATE]

A row starts with "# purpose"; then "$ ARGS" (split as a shell would),
"< LINE" standard input, "> LINE" expected standard output, "! LINE" expected
standard error, "= PATH VALUE" a field of the JSON output (PATH dotted, list
indices as numbers or KEY=VALUE for the item whose KEY is VALUE; stdout is then checked by field only), "? N" the exit
status (default 0), "~ TEXT" a text standard output must hold (then
not compared whole), "+ FILE LINE" a line of a file under the row's home
folder (@HOME@ is that folder), "* NAME=VALUE" an environment variable, "@ldap" to run the row against slapd as
well, "@ldap-only" against slapd alone, "@samba" against the Samba DC alone
(over ldaps, its CA @CA@). Each row runs in a
fresh folder with HOME there and no orvane.ini: the built-in sample answers.
With --ldap, only @ldap rows run, in a folder whose orvane.ini names the
shared test slapd; @SERVER@ is the server as printed names carry it,
@LDAPS@ its ldaps listener. @TAB@ is a tab.
"""
import json
import os
import shlex
import subprocess
import sys
import tempfile


# The tags of a row and where it runs.
MODES = {"@ldap": {"sample", "ldap"}, "@ldap-only": {"ldap"}, "@samba": {"samba"}}


def read_rows(path):
    rows, row = [], None
    with open(path, encoding="utf-8") as table:
        for raw in table:
            line = raw.rstrip("\n")
            if line.startswith("# "):
                row = {"purpose": line[2:], "args": [], "stdin": [], "out": [], "err": [],
                       "json": [], "holds": [], "env": [], "modes": {"sample"}, "status": 0, "files": []}
                rows.append(row)
            elif not line.strip() or row is None:
                continue
            elif line in MODES:
                row["modes"] = MODES[line]
            else:
                kind, rest = line[0], line[2:]
                if kind == "$":
                    row["args"] = shlex.split(rest)
                elif kind == "<":
                    row["stdin"].append(rest)
                elif kind == ">":
                    row["out"].append(rest)
                elif kind == "!":
                    row["err"].append(rest)
                elif kind == "=":
                    row["json"].append(rest.split(" ", 1))
                elif kind == "~":
                    row["holds"].append(rest)
                elif kind == "?":
                    row["status"] = int(rest)
                elif kind == "*":
                    row["env"].append(rest.split("=", 1))
                elif kind == "+":
                    row["files"].append(rest.split(" ", 1))
                else:
                    raise SystemExit(f"{path}: unknown line: {line}")
    return rows


def field(document, path):
    for part in path.split("."):
        if isinstance(document, list) and "=" in part:
            key, value = part.split("=", 1)
            document = next(item for item in document if item.get(key) == value)
        elif isinstance(document, list):
            document = document[int(part)]
        else:
            document = document[part]
    return document if isinstance(document, str) else json.dumps(document)


def run(binary, row, server, settings, names):
    def sub(text):
        for name, value in names.items():
            text = text.replace(name, value)
        return text.replace("@SERVER@", server).replace("@TAB@", "\t")

    with tempfile.TemporaryDirectory(prefix="ov-cli.") as home:
        work = os.path.join(home, "run")
        os.mkdir(work)
        os.chmod(home, 0o700)
        if settings:
            with open(os.path.join(work, "orvane.ini"), "w", encoding="utf-8") as ini:
                ini.write("[UserService]\n" + settings + "\n")
        for name, line in row["files"]:
            path = os.path.join(home, sub(name))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "a", encoding="utf-8") as out:
                out.write(sub(line).replace("@HOME@", home) + "\n")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("LANG", "LC_", "XDG_"))}
        env["HOME"] = home
        env.update({name: value.replace("@HOME@", home) for name, value in row["env"]})
        stdin = "".join(sub(line) + "\n" for line in row["stdin"])
        args = [sub(a).replace("@HOME@", home) for a in row["args"]]
        done = subprocess.run([binary] + args, input=stdin.encode(), cwd=work, env=env,
                              capture_output=True, timeout=60)
        out = done.stdout.decode("utf-8", "replace").replace(home, "@HOME@")
        err = done.stderr.decode("utf-8", "replace").replace(home, "@HOME@")
    problems = []
    if row["json"]:
        try:
            document = json.loads(out)
            for path, value in row["json"]:
                got = field(document, path)
                if got != sub(value):
                    problems.append(f"{path}: {got!r}, expected {sub(value)!r}")
        except (ValueError, KeyError, IndexError, StopIteration) as error:
            problems.append(f"JSON output: {error}\n{out}")
    elif row["holds"]:
        problems += [f"standard output lacks {t!r}:\n{out}" for t in row["holds"] if sub(t) not in out]
    else:
        expected = "".join(sub(line) + "\n" for line in row["out"])
        if out != expected:
            problems.append(f"standard output:\n{out}--- expected:\n{expected}")
    expected_err = "".join(sub(line) + "\n" for line in row["err"])
    if err != expected_err:
        problems.append(f"standard error:\n{err}--- expected:\n{expected_err}")
    if done.returncode != row["status"]:
        problems.append(f"exit status {done.returncode}, expected {row['status']}")
    return problems


def main():
    # orvane.ini may hold the service account's password: kept from others.
    os.umask(0o077)
    binary, table = os.path.abspath(sys.argv[1]), sys.argv[2]
    server, settings, mode, names = "localhost", "", "sample", {}
    if len(sys.argv) > 3 and sys.argv[3] == "--ldap":
        root = sys.argv[4]
        with open(os.path.join(root, "shared", "port"), encoding="utf-8") as port:
            server = "127.0.0.1:" + port.read().strip()
        settings = (f"Directory=ldap://{server}\n"
                    "BindDN=cn=Administrator,cn=Users,dc=example,dc=com\n"
                    "BindPassword=Admin#2024")
        mode = "ldap"
        with open(os.path.join(root, "shared", "ldaps-port"), encoding="utf-8") as port:
            names["@LDAPS@"] = "127.0.0.1:" + port.read().strip()
    elif len(sys.argv) > 3 and sys.argv[3] == "--samba":
        server = "127.0.0.1"
        names["@CA@"] = os.path.join(sys.argv[4], "ca.pem")
        settings = ("Directory=ldaps://127.0.0.1\n"
                    "BindDN=CN=Administrator,CN=Users,DC=example,DC=com\n"
                    "BindPassword=Admin#2024\nTLSCACertFile=" + names["@CA@"])
        mode = "samba"
    failed = 0
    for row in read_rows(table):
        if mode not in row["modes"]:
            continue
        problems = run(binary, row, server, settings, names)
        if problems:
            failed += 1
            print(f"FAIL {row['purpose']}: userservice {shlex.join(row['args'])}")
            for problem in problems:
                print("  " + problem.replace("\n", "\n  "))
    print(f"{failed} row(s) failed" if failed else "all rows passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
