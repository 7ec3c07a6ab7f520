#!/usr/bin/env python3
"""userserviced and the programs that use it, under faults and at its limits.

    faults.py faults|limits DAEMON CONSOLE USERSERVICE [LDAP-SERVERS]

faults: the daemon killed in the middle of a listing, restarted on its port,
stopped (SIGSTOP); hostile clients while a normal one is answered.
limits: wrong passwords in a row, explicit listings at servers the daemon may
or may not reach (LDAP-SERVERS: the ldap tests' servers), a listen address
that needs TLS, TLS with the right and a wrong authority, client
certificates. Loopback only; every wait is bounded."""
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

GROUP = sys.argv[1]
DAEMON, CONSOLE, USERSERVICE = (os.path.abspath(path) for path in sys.argv[2:5])
WORK = tempfile.mkdtemp(prefix="ov-remote-%s." % GROUP)
USERS = 100000  # names: more than the sockets' buffers hold
BIG = "LDAP://localhost dc=bench,dc=test"
START = time.monotonic()
failures, started = [], []


def report(code):
    return " Error #%d\n" % code


def check(ok, what, detail=""):
    print("%s %5.1f s  %s" % ("ok  " if ok else "FAIL", time.monotonic() - START, what) +
          ("" if ok else "\n" + detail[-3000:]))
    if not ok:
        failures.append(what)


def wait_for(predicate, seconds=60):
    end = time.monotonic() + seconds
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


def write(path, text):
    with open(path, "w") as out:
        out.write(text)
    return path


def read(path):
    with open(path, errors="replace") as source:
        return source.read()


class Daemon:
    def __init__(self, name, settings, listen="127.0.0.1:0"):
        folder = os.path.join(WORK, name)
        os.makedirs(folder, exist_ok=True)
        ini = write(os.path.join(folder, "daemon.ini"), "%s\n[Daemon]\nListen=%s\n" % (settings,
                                                                                       listen))
        self.errors = os.path.join(folder, "daemon.err")
        with open(self.errors, "w") as err:
            self.process = subprocess.Popen([DAEMON, "--config", ini], cwd=folder, stderr=err,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        started.append(self.process)
        found = lambda: re.findall(r"listening on 127\.0\.0\.1:(\d+)\)", read(self.errors))
        wait_for(lambda: self.process.poll() is not None or found())
        self.port = int(found()[0]) if found() else None

    def signal(self, number):
        self.process.send_signal(number)

    def rss(self):
        return int(re.search(r"VmRSS:\s*(\d+)", read("/proc/%d/status" % self.process.pid))[1])

    def stop(self):
        self.signal(signal.SIGCONT)
        self.process.terminate()
        return self.process.wait(60)


def access(port, extra=""):
    """A program's parameter file: the services at the daemon on port."""
    return ("[PolicyServer]\nPolicyServerIP=127.0.0.1\nPolicyServerPort=55806\n"
            "PolicyServerWaitTime=5\nClientConnectionRetryTimes=1\nClientConnectionRetrySleepTime=1\n"
            "%s\n[ServiceAccess]\nServices=remote\nLocation=127.0.0.1:%d\n" % (extra, port))


class Console:
    def __init__(self, name, ini):
        folder = os.path.join(WORK, name)
        os.makedirs(folder, exist_ok=True)
        write(os.path.join(folder, "orvane.ini"), ini)
        self.out = os.path.join(folder, "out")
        with open(self.out, "w") as out:
            self.process = subprocess.Popen([CONSOLE], cwd=folder, stdin=subprocess.PIPE,
                                            stdout=out, stderr=subprocess.STDOUT)
        started.append(self.process)
        self.answer("\n\n")

    def send(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def answer(self, command, before=None):
        """What command prints, up to the menu's prompt after it."""
        count = lambda: read(self.out).count("Selection: ")
        before = count() if before is None else before
        self.send(command)
        wait_for(lambda: count() > before or self.process.poll() is not None, 120)
        return read(self.out).split("Selection: ")[before]

    def end(self):
        self.process.stdin.close()
        return self.process.wait(30)


def once(name, ini, command):
    console = Console(name, ini)
    return console.answer(command), console.end()


def queued(port, local, column=1):
    """Bytes to be read (column 0: sent) on the sockets whose local (or else
    remote) port is port."""
    total = 0
    for line in (read("/proc/net/tcp") + read("/proc/net/tcp6")).splitlines():
        fields = line.split()
        ends = fields[1:3] if local else fields[2:0:-1]
        if ":" in ends[0] and int(ends[0].split(":")[1], 16) == port:
            total += int(fields[4].split(":")[column], 16)
    return total


# HTTP/2 by hand, for clients no library would be.
def frame(kind, flags, payload, stream=1):
    return struct.pack(">I", len(payload))[1:] + bytes([kind, flags]) + struct.pack(
        ">I", stream) + payload


def list_call(port, subject, window=65535):
    """A connection that asks for a listing of subject and reads nothing."""
    size, length = len(subject), b""
    while size >= 0x80:
        length, size = length + bytes([size & 0x7F | 0x80]), size >> 7
    request = b"\x12" + length + bytes([size]) + subject
    headers = b"".join(b"\x00" + bytes([len(n)]) + n + bytes([len(v)]) + v for n, v in [
        (b":method", b"POST"), (b":scheme", b"http"), (b":path", b"/ovremote.UserServices/List"),
        (b":authority", b"127.0.0.1"), (b"content-type", b"application/grpc"), (b"te", b"trailers")])
    connection = socket.create_connection(("127.0.0.1", port), timeout=10)
    connection.sendall(b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" +
                       frame(4, 0, struct.pack(">HI", 4, window), 0) +
                       frame(8, 0, struct.pack(">I", max(window - 65535, 1)), 0) +
                       frame(1, 4, headers) + frame(0, 1, struct.pack(">BI", 0, len(request)) + request))
    return connection


def answered_with_data(connection):
    """Whether stream 1 got a DATA frame before it or the connection ended."""
    buffer = b""
    try:
        while True:
            while len(buffer) >= 9 and len(buffer) >= 9 + int.from_bytes(buffer[:3], "big"):
                length, kind, flags = int.from_bytes(buffer[:3], "big"), buffer[3], buffer[4]
                stream = int.from_bytes(buffer[5:9], "big")
                if stream == 1 and kind == 0 and length > 0:
                    return True
                if stream == 1 and (kind == 3 or flags & 1) or kind == 7:
                    return False
                buffer = buffer[9 + length:]
            chunk = connection.recv(65536)
            if not chunk:
                return False
            buffer += chunk
    except socket.timeout:
        return False


def listed(text):
    return text.count("\tLDAP://localhost ") == USERS and "Users:" in text


def faults():
    entries = ["dn: cn=Bench User %07d,ou=People,dc=bench,dc=test\nobjectClass: inetOrgPerson\n"
               "cn: Bench User %07d\nsn: User\n" % (i, i) for i in range(USERS)]
    settings = "[UserService]\nDirectory=%s\n" % write(os.path.join(WORK, "big.ldif"), "\n".join(
        ["dn: dc=bench,dc=test\nobjectClass: domain\ndc: bench\n", "dn: ou=People,"
         "dc=bench,dc=test\nobjectClass: organizationalUnit\nou: People\n"] + entries))
    daemon = Daemon("cut", settings)
    console = Console("cut", access(daemon.port, "StatusCheckFrequency=1\nStatusCheckTimeout=1000"))
    # The request reaches the stopped daemon; the console is stopped, the
    # daemon goes on until it is blocked sending, and is killed.
    before = read(console.out).count("Selection: ")
    daemon.signal(signal.SIGSTOP)
    console.send("2\n%s\n" % BIG)
    wait_for(lambda: queued(daemon.port, True) > 100, 10)
    console.process.send_signal(signal.SIGSTOP)
    daemon.signal(signal.SIGCONT)
    part = wait_for(lambda: queued(daemon.port, False) > 65536 and
                    queued(daemon.port, True, 0) > 1 << 20, 30)
    daemon.process.kill()
    daemon.process.wait()
    console.process.send_signal(signal.SIGCONT)
    text = console.answer("", before)
    check(part and report(0x309701FA) in text and "\tLDAP" not in text and "Users:" not in text,
          "a listing cut by the daemon's death: the error report, no part of a list", text)

    again = Daemon("cut", settings, "127.0.0.1:%d" % daemon.port)
    text = console.answer("2\n%s\n" % BIG)
    check(listed(text), "the daemon restarted on its port: the next listing is whole", text[:2000])
    again.signal(signal.SIGSTOP)
    text = console.answer("2\n%s\n" % BIG)
    ended = [code for code in (0x309701FA, 0x309701FB) if report(code) in text]
    print("  the call to the stopped daemon ended with %s" % ended)
    check(ended, "a daemon that stops answering: the call ends in an error report", text)
    again.signal(signal.SIGCONT)
    check(listed(console.answer("2\n%s\n" % BIG)) and console.end() == 0 and again.stop() == 0,
          "it goes on: answered again; the console and the daemon end normally")

    # A server that takes the connection and never answers a call: the
    # method time-out of the file ends it.
    silent, kept = socket.create_server(("127.0.0.1", 0)), []
    threading.Thread(target=lambda: [kept.append(c) or c.sendall(frame(4, 0, b"", 0) + frame(
        4, 1, b"", 0)) for c, _ in iter(silent.accept, None)], daemon=True).start()
    done = subprocess.run([USERSERVICE, "--config", write(os.path.join(WORK, "us.ini"), access(
        silent.getsockname()[1], "MethodTimeout=2")), "users", BIG], capture_output=True,
                          text=True, timeout=120)
    check(done.returncode == 3 and "0x309701fb" in done.stderr,
          "a call never answered ends by the method time-out", done.stderr)

    hostile = Daemon("hostile", settings)
    print("  daemon VmRSS at start: %d kB" % hostile.rss())
    held = [socket.create_connection(("127.0.0.1", hostile.port)) for _ in range(1020)]
    for i, connection in enumerate(held):
        connection.sendall(os.urandom(1 << 16) if i < 10 else b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n"
                           + (os.urandom(1 << 16) if i < 20 else frame(4, 0, b"", 0)))
    large = list_call(hostile.port, BIG.encode() + b" " * (80 << 10))
    check(not answered_with_data(large), "a request over 64 KiB is refused unanswered")
    # More listings that never read than the daemon's memory for answers
    # holds: they must not keep others' listings out.
    held += [list_call(hostile.port, BIG.encode(), 0x7FFFFFFF) for _ in range(40)]
    wait_for(lambda: queued(hostile.port, False) > 40 * 65536 or "busy" in read(hostile.errors))
    done = subprocess.run([USERSERVICE, "--config", write(os.path.join(WORK, "us.ini"), access(
        hostile.port)), "users", BIG], capture_output=True, text=True, timeout=120)
    check(done.returncode == 0 and done.stdout.count("\n") == USERS,
          "garbage, 1,000 idle connections, 40 that never read: a normal client is answered",
          done.stderr)
    rss = hostile.rss()
    print("  daemon VmRSS with them: %d kB" % rss)
    check(rss < 2 << 20, "the daemon's memory stays under 2 GiB")
    for connection in held + [large]:
        connection.close()
    check(hostile.process.poll() is None and hostile.stop() == 0, "the daemon stops normally",
          read(hostile.errors))


def certificates():
    """ca.pem and other.pem; server and client certificates for 127.0.0.1
    signed by ca."""
    pki = lambda name: os.path.join(WORK, name)
    openssl = lambda *args: subprocess.run(["openssl"] + list(args), cwd=WORK, check=True,
                                           capture_output=True)
    for ca in ("ca", "other"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Test " + ca, "-keyout", ca + ".key", "-out", ca + ".pem", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    for name, usage in (("server", "serverAuth"), ("client", "clientAuth")):
        write(pki(name + ".ext"), "basicConstraints=CA:FALSE\nextendedKeyUsage=%s\n"
              "subjectAltName=IP:127.0.0.1,DNS:localhost\n" % usage)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                name + ".key", "-out", name + ".csr")
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem")
    return pki


def explicit_listings(port):
    """Command 20 through a daemon whose directory is an LDAP server: at its
    own server, at an allowed one (nothing listens there: the status says it
    was tried), at any other (refused before it connects)."""
    directory = ("[UserService]\nDirectory=ldap://127.0.0.1:%d\nBindDN=cn=Administrator,cn=Users,"
                 "dc=example,dc=com\nBindPassword=Admin#2024\n[Daemon]\n" % port)
    account = "cn=Administrator,cn=Users,dc=example,dc=com\nAdmin#2024\nADS\n0\n"
    for allowed, server, refused in (("", "127.0.0.1:%d " % port, False),
                                     ("", "127.0.0.2:%d " % port, True),
                                     ("", "127.0.0.2:%d\t" % port, True),
                                     ("AllowedServers=127.0.0.2\n", "127.0.0.2:%d " % port, False)):
        daemon = Daemon("explicit", directory + allowed)
        text, _ = once("explicit", access(daemon.port),
                       "20\nLDAP://%sdc=example,dc=com\n%s" % (server, account))
        check(report(0x30A20047) in text if refused else "Status:\t" in text,
              "command 20 at %r%s: %s" % (server, " allowed" if allowed else "",
                                          "refused" if refused else "let through"), text)
        daemon.stop()


def limits():
    sample = "[UserService]\nDirectory=%s/../data/directory.ldif\n" % os.path.dirname(
        os.path.abspath(__file__))
    daemon = Daemon("guesses", sample)
    console = Console("guesses", access(daemon.port))
    texts = "".join(console.answer("9\njsmith\nWr0ng.Guess\n") for _ in range(8))
    check(report(0x30A20046) in texts and console.end() == 0 and daemon.stop() == 0 and
          "Wr0ng" not in read(daemon.errors) + texts,
          "eight wrong passwords in a row: the daemon stops testing them, shows none", texts)
    refused = Daemon("open", sample, "0.0.0.0:0")
    check(refused.process.wait(30) == 2 and refused.port is None,
          "a listen address other than loopback without TLS is refused (exit 2)",
          read(refused.errors))
    if len(sys.argv) > 5:
        explicit_listings(int(read(os.path.join(sys.argv[5], "shared", "port"))))

    pki = certificates()
    tls = "[Daemon]\nCertificateFile=%s\nKeyFile=%s\n" % (pki("server.pem"), pki("server.key"))
    mine = "CertificateFile=%s\nKeyFile=%s\n" % (pki("client.pem"), pki("client.key"))
    for what, server, ca, client, answered in (
            ("the daemon's certificate verified", "", "ca.pem", "", True),
            ("the daemon's certificate from another authority", "", "other.pem", "", False),
            ("a client certificate asked for, none shown", "ClientCAFile=ca.pem\n", "ca.pem", "",
             False),
            ("a client certificate asked for and shown", "ClientCAFile=ca.pem\n", "ca.pem", mine,
             True)):
        daemon = Daemon("tls", sample + tls + server.replace("=", "=" + WORK + "/"))
        text, _ = once("tls", access(daemon.port, "SecureSocketLayer=true\n") + "CAFile=%s\n%s" % (
            pki(ca), client), "2\nLDAP://localhost cn=Users,dc=example,dc=com\n")
        # Not answered: the command reports that no proxy could be made.
        check("\tLDAP://" in text if answered else
              "\tLDAP://" not in text and report(0x309701F9) in text, "TLS, %s: %s" % (what, "answered" if answered else "not answered"), text)
        daemon.stop()


if __name__ == "__main__":
    try:
        {"faults": faults, "limits": limits}[GROUP]()
    finally:
        for process in started:
            if process.poll() is None:
                process.send_signal(signal.SIGCONT)
                process.kill()
                process.wait()
        shutil.rmtree(WORK, ignore_errors=True)
    print("%d failed: %s" % (len(failures), ", ".join(failures)) if failures else "all passed")
    sys.exit(1 if failures else 0)
