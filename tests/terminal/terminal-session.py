#!/usr/bin/env python3
"""Drives the program at a real terminal (a tmux pane) and checks what the
screen shows: line editing, history recall per kind of answer, the history
file, hidden passwords and completion from the directory.

    terminal-session.py BINARY DATA-DIR [SERVERS-ROOT]

Without SERVERS-ROOT the program answers from the test directory's LDIF
file; with it, from the slapd of SERVERS-ROOT/shared (the ldap test
fixture), and completion is also asked of servers that refuse or never
answer. Every wait is for text to appear, bounded; no step sleeps for a
fixed time to let the program catch up.
"""
import os
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
import time
from pathlib import Path

BINARY, DATA = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
SERVERS = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
WAIT = 20.0  # seconds: the bound of every wait for the screen
failures = []


class Pane:
    """One tmux server of its own (its own socket) with one pane."""

    count = 0

    def __init__(self, work, command, env):
        Pane.count += 1
        self.socket = os.path.join(work, f"tmux-{Pane.count}.sock")
        self.work = work
        environment = " ".join(f"{k}={shlex_quote(v)}" for k, v in env.items())
        # The shell outlives an interrupt of the program, to report on it.
        script = (f"trap '' INT; cd {shlex_quote(work)} && env -u LANG -u LC_ALL {environment} "
                  f"{command}; echo EXIT=$?; stty -a | tr ' ' '\\n' | grep -x -- '-\\?icanon'; "
                  f"sleep 600")
        self.tmux("-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "50", "sh", "-c", script)

    def tmux(self, *args):
        return subprocess.run(["tmux", "-S", self.socket, *args], check=True,
                              capture_output=True, text=True).stdout

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "0", *keys)

    def text(self, literal):
        self.tmux("send-keys", "-t", "0", "-l", literal)

    def screen(self):
        captured = self.tmux("capture-pane", "-p", "-J", "-S", "-2000", "-t", "0")
        return "\n".join(line.rstrip(" ") for line in captured.split("\n"))

    def last_line(self):
        lines = [l for l in self.screen().rstrip("\n").split("\n")]
        return lines[-1] if lines else ""

    def wait(self, predicate, what):
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            if predicate(self.screen()):
                return True
            time.sleep(0.05)
        # Every later step builds on this one: stop here.
        raise Stop(f"timed out waiting for {what}; screen ends:\n" + tail(self.screen()))

    def wait_for(self, text, count=1):
        return self.wait(lambda s: s.count(text) >= count, repr(text))

    def wait_last_line(self, text):
        return self.wait(lambda s: s.rstrip("\n").split("\n")[-1] == text,
                         f"last line {text!r}")

    def close(self):
        subprocess.run(["tmux", "-S", self.socket, "kill-server"], capture_output=True)


class Stop(Exception):
    pass


def shlex_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def tail(screen, n=15):
    return "\n".join(screen.rstrip("\n").split("\n")[-n:])


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def check(condition, message):
    if not condition:
        fail(message)


SELECTION = "\nSelection:"


def session(work, settings, home, extra_ini=""):
    # May hold the service account's password: readable by its owner only.
    path = os.path.join(work, "orvane.ini")
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
        f.write("[UserService]\n" + settings + "\n" + extra_ini)
    env = {"HOME": home, "XDG_STATE_HOME": os.path.join(home, "state"), "TERM": "xterm"}
    pane = Pane(work, shlex_quote(BINARY), env)
    pane.wait_for("PolicyServer ip or name")
    return pane


def start_menu(pane):
    pane.keys("Enter")
    pane.wait_for("PolicyServer port")
    pane.keys("Enter")
    pane.wait_for(SELECTION)


def select(pane, number, prompt_text, editor_prompt=":"):
    """Runs a command and waits until its first prompt reads: the editor has
    drawn the prompt's last line (keys typed before that would be echoed by
    the terminal as well as by the editor)."""
    before = pane.screen().count(prompt_text)
    pane.text(number)
    pane.keys("Enter")
    pane.wait_for(prompt_text, before + 1)
    pane.wait_last_line(editor_prompt)


def answer_and_wait_menu(pane):
    before = pane.screen().count(SELECTION)
    pane.keys("Enter")
    pane.wait_for(SELECTION, before + 1)


def history_file(home):
    return os.path.join(home, "state", "UserServiceCommand", "history")


def run_embedded(work, server):
    settings = f"Directory={DATA}/directory.ldif"
    home = os.path.join(work, "home")
    os.makedirs(home)

    # Editing at the start-up prompts: the keys edit, and the answer is the edited line.
    pane = session(work, settings, home)
    pane.keys("Up")  # nothing earlier: nothing shown, no "^[[A"
    pane.text("zz 127.0.0.x")
    pane.keys("BSpace")
    pane.text("1")
    pane.keys("Home", "Delete", "Delete", "Delete", "End")
    pane.wait_last_line("PolicyServer ip or name (127.0.0.1): 127.0.0.1")
    check("^[" not in pane.screen(), "a cursor key printed an escape sequence")
    pane.keys("Enter")
    pane.wait_for("PolicyServer port")
    pane.text("1 2 3")
    pane.keys("C-w", "C-w")  # "1 "
    pane.keys("C-a", "C-k")  # ""
    pane.text("99")
    pane.keys("C-u")
    pane.text("55806x")
    pane.keys("Left", "C-k", "C-e")
    pane.keys("Enter")
    pane.wait_for("Using PolicyServer location 127.0.0.1:55806")
    pane.wait_for(SELECTION)

    # Completion: the type, the containers, the entries of a container.
    select(pane, "2", "Context: DSType://")
    pane.text("ld")
    pane.keys("Tab")
    pane.wait_last_line(": LDAP://")
    pane.text(f"{server} ou=Sa")
    pane.keys("Tab")
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com")
    pane.text("/")
    pane.keys("Tab")
    pane.keys("Tab")  # two Tabs list the choices
    pane.wait_for("John Smith     Jürgen Müller  Mary Jones")
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com/")
    pane.text("J")
    pane.keys("Tab")  # John and Jürgen share only "J": nothing to add
    pane.text("ü")
    pane.keys("Tab")  # what is typed is replaced character by character, not byte by byte
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com/Jürgen Müller")
    pane.keys(*["BSpace"] * 12)  # one key, one character
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com/J")
    pane.text("o")
    pane.keys("Tab")
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com/John Smith")
    # Nothing in the directory begins with it: nothing added, nothing shown.
    pane.keys("C-u")
    pane.text(f"LDAP://{server} ou=Nowhere")
    pane.keys("Tab", "Tab")
    pane.text("!")
    pane.wait_last_line(f": LDAP://{server} ou=Nowhere!")
    pane.keys("C-u")
    pane.text(f"LDAP://{server} ou=Sales,dc=example,dc=com")
    answer_and_wait_menu(pane)
    pane.wait_for(f"Call with LDAP://{server} ou=Sales,dc=example,dc=com\nUsers:")

    # History per kind: Up at a context prompt recalls the context, at the
    # menu the selection, at a user prompt the user.
    select(pane, "8", "User: default://")
    pane.keys("Up")
    pane.text("default://EXAMPLE\\jsmith")
    answer_and_wait_menu(pane)
    pane.wait_for("Qualified Name: ")
    pane.keys("Up")
    pane.wait_last_line("Selection: 8")
    pane.keys("Up")
    pane.wait_last_line("Selection: 2")
    pane.keys("C-u")
    select(pane, "3", "Example: LDAP://127.0.0.1 ou=Sales")
    pane.keys("Up")
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com")
    answer_and_wait_menu(pane)
    pane.wait_for(f"Call with LDAP://{server} ou=Sales,dc=example,dc=com\nGroups:")
    # Ctrl-R finds an earlier answer of the kind by what it contains.
    select(pane, "5", "Context: DSType://<server><user fqdn>")
    pane.keys("C-r")
    pane.text("Sales,")
    pane.wait_for(f"LDAP://{server} ou=Sales,dc=example,dc=com\nbck:Sales,")
    pane.keys("Enter")
    pane.wait_for(f"Call with LDAP://{server} ou=Sales,dc=example,dc=com\n")

    # The password is neither shown nor kept; Up at the next user prompt
    # recalls the user, never the password.
    pane.wait_for(SELECTION)
    select(pane, "9", "Username <username", "Username <username or domain\\username>:")
    pane.keys("Up")
    pane.wait_last_line("Username <username or domain\\username>: default://EXAMPLE\\jsmith")
    pane.keys("C-u")
    pane.text("jsmith")
    pane.keys("Enter")
    pane.wait_for("Password <domain password -hidden>")
    pane.text("Secret123")
    pane.keys("Enter")
    pane.wait_for("Was authenticated.")
    check("Secret123" not in pane.screen(), "the password was shown")
    select(pane, "9", "Username <username", "Username <username or domain\\username>:")
    pane.keys("Up")
    pane.wait_last_line("Username <username or domain\\username>: jsmith")
    pane.keys("Enter")
    pane.wait_for("Password <domain password -hidden>", 2)
    pane.keys("Up")  # not recalled: the password prompt has no history
    pane.text("wrong")
    pane.keys("Enter")
    pane.wait_for("Was not authenticated.")
    check("Secret123" not in pane.screen(), "a password was recalled")
    pane.wait_for(SELECTION)
    pane.text("0")
    pane.keys("Enter")
    pane.wait_for("EXIT=0")
    pane.wait_for("\nicanon")
    pane.close()

    path = history_file(home)
    check(os.path.isfile(path), "no history file")
    if os.path.isfile(path):
        mode = stat.S_IMODE(os.stat(path).st_mode)
        check(mode == 0o600, f"history file mode {mode:o}")
        with open(path, encoding="utf-8") as f:
            kept = f.read()
        check("Secret123" not in kept and "wrong" not in kept, "a password is in the history file")
        check(f"context\tLDAP://{server} ou=Sales,dc=example,dc=com\n" in kept,
              "the context is not in the history file")
        check("user\tjsmith\n" in kept, "the user is not in the history file")

    # The next session recalls what the last one kept.
    pane = session(work, settings, home)
    start_menu(pane)
    select(pane, "2", "Context: DSType://")
    pane.keys("Up")
    pane.wait_last_line(f": LDAP://{server} ou=Sales,dc=example,dc=com")
    # Ctrl-C ends the program with status 1, the terminal as it was.
    pane.keys("C-c")
    pane.wait_for("EXIT=1")
    pane.wait_for("\nicanon")
    pane.close()

    # The setting turns the file off: the session remembers, the file does not.
    size = os.path.getsize(path)
    pane = session(work, settings, home, "[UserServiceCommand]\nHistoryFile=no\n")
    start_menu(pane)
    select(pane, "4", "Directory Service Type")
    pane.text("LDAP")
    answer_and_wait_menu(pane)
    select(pane, "4", "Directory Service Type")
    pane.keys("Up")
    pane.wait_last_line(": LDAP")
    pane.keys("Enter")
    pane.wait_for(SELECTION, 3)
    pane.text("0")
    pane.keys("Enter")
    pane.wait_for("EXIT=0")
    pane.close()
    check(os.path.getsize(path) == size, "the history file grew with HistoryFile=no")

    # An editor settings file that is a FIFO is passed over: the program
    # starts without waiting for a writer.
    fifo_home = os.path.join(work, "fifo-home")
    os.makedirs(fifo_home)
    os.mkfifo(os.path.join(fifo_home, ".editrc"))
    pane = session(work, settings, fifo_home)
    start_menu(pane)
    pane.text("0")
    pane.keys("Enter")
    pane.wait_for("EXIT=0")
    pane.close()


def run_terminal_text(work):
    """Values that would act on a terminal, listed and completed; a history
    folder linked to one others may write to; the editor's settings file."""
    home, shared = Path(work, "text-home"), Path(work, "shared")
    (home / "state").mkdir(parents=True)
    shared.mkdir(mode=0o777)
    shared.chmod(0o777)
    (home / "state" / "UserServiceCommand").symlink_to(shared)
    planted = "context\tLDAP://localhost ou=Planted,dc=example,dc=com\n"
    (shared / "history").write_text(planted)
    (home / ".editrc").write_text("bind ^T em-kill-line\n")
    pane = session(work, f"Directory={DATA}/../transcripts/data/terminal-text.ldif", str(home))
    pane.text("abc")
    pane.keys("C-t")  # bound by the settings file: the line goes
    pane.wait_last_line("PolicyServer ip or name (127.0.0.1):")
    start_menu(pane)
    container = "LDAP://localhost ou=Odd,dc=example,dc=com"
    for name, shown in (("M", "Mallory\\1b[2J\\7f"),
                        ("E", "\\1b]0;owned\\07\\1b[2J\\c2\\9b31mEve\\0d\\0aforged line")):
        select(pane, "7", "User: DSType://", "Example: LDAP://127.0.0.1 ou=Sales,dc=example,dc=com"
               "/John Smith:")
        pane.keys(*(["Up"] if name == "M" else []))  # the planted context is not recalled
        pane.text(container + "/")
        pane.keys("Tab", "Tab")
        pane.wait_for("Eve" + " " * 19 + "Mallory\\1b[2J\\7f      Nul\\00\\ff\\c0\\afBytes")
        pane.text(name)
        pane.keys("Tab", "Enter")  # pasted back as shown
        pane.wait_for("Full Username: " + shown)
    select(pane, "2", "Context: DSType://")
    pane.text(container)
    answer_and_wait_menu(pane)
    pane.wait_for("ou=Odd,dc=example,dc=com/Mallory\\1b[2J\\7f\n")
    check("Planted" not in pane.screen(), "a context planted in a shared folder was recalled")
    check(pane.screen().count("Code=0x20a10001") == 1, "the shared folder was not warned of once")
    pane.close()
    check((shared / "history").read_text() == planted, "a shared history file was written")


def silent_server():
    """A loopback port that takes connections and never answers."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    return listener


def closed_port():
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return f"127.0.0.1:{port}"


def run_ldap(work):
    with open(os.path.join(SERVERS, "shared", "port")) as f:
        server = "127.0.0.1:" + f.read().strip()
    settings = (f"Directory=ldap://{server}\nBindDN=cn=Administrator,cn=Users,dc=example,dc=com\n"
                "BindPassword=Admin#2024")
    home = os.path.join(work, "home")
    os.makedirs(home)
    pane = session(work, settings, home)
    start_menu(pane)
    select(pane, "6", "Context: DSType://<server> <group fqdn>")
    pane.text(f"LDAP://{server} cn=U")
    pane.keys("Tab")
    pane.wait_last_line(f": LDAP://{server} cn=Users,dc=example,dc=com")
    pane.text("/Sales")
    pane.keys("Tab", "Tab")  # the first adds the blank both names share, the second lists
    pane.wait_for("Sales Managers  Sales Team")
    pane.wait_last_line(f": LDAP://{server} cn=Users,dc=example,dc=com/Sales")
    pane.text("T")
    pane.keys("Tab")
    pane.wait_last_line(f": LDAP://{server} cn=Users,dc=example,dc=com/Sales Team")
    answer_and_wait_menu(pane)
    pane.wait_for(f"Call with LDAP://{server} cn=Users,dc=example,dc=com/Sales Team\nUsers:\n")
    pane.wait_for(f"LDAP://{server} ou=Sales,dc=example,dc=com/John Smith")

    # A server that refuses, and one that never answers: Tab completes
    # nothing and shows nothing, and the one that never answers is given up
    # after the completion's short time-out.
    silent = silent_server()
    quiet = "127.0.0.1:%d" % silent.getsockname()[1]
    # And one that sends entries without end (the ldap tests' hostile
    # server): the next key is echoed once completion's limits are reached.
    flooding = subprocess.Popen(["python3", os.path.join(os.path.dirname(__file__), "..", "ldap",
                                 "hostile-server.py"), "endless", server.split(":")[1]],
                                stdout=subprocess.PIPE, text=True)
    endless = "127.0.0.1:" + flooding.stdout.readline().split()[0]
    for target, rest, bound in ((closed_port(), "ou=Sa", 10), (quiet, "ou=Sa", 10),
                                (endless, "ou=Sales,dc=example,dc=com/J", 20)):
        select(pane, "2", "Context: DSType://<server> <fqdn>")
        typed = f"LDAP://{target} {rest}"
        pane.text(typed)
        started = time.monotonic()
        pane.keys("Tab")
        pane.text("#")  # shown once the Tab is done with
        pane.wait_last_line(f": {typed}#")
        elapsed = time.monotonic() - started
        print(f"completion against {target}: given up after {elapsed:.1f} s")
        check(elapsed < bound, f"completion against {target} took {elapsed:.1f} s")
        pane.keys("C-u")
        pane.text(f"LDAP://{server} ou=Sales,dc=example,dc=com")
        answer_and_wait_menu(pane)
    silent.close()
    flooding.kill()
    pane.text("0")
    pane.keys("Enter")
    pane.wait_for("EXIT=0")
    pane.close()


def main():
    if shutil.which("tmux") is None:
        print("terminal-session: tmux is not installed (Debian: apt-get install tmux)")
        return 1
    work = tempfile.mkdtemp(prefix="ov-terminal.")
    try:
        if SERVERS:
            run_ldap(work)
        else:
            run_embedded(work, "localhost")
            run_terminal_text(work)
    except Stop as stop:
        fail(str(stop))
    finally:
        for number in range(1, Pane.count + 1):
            subprocess.run(["tmux", "-S", os.path.join(work, f"tmux-{number}.sock"), "kill-server"],
                           capture_output=True)
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
