#!/usr/bin/env python3
"""userserviced and the programs that use it, under faults and limits.

    faults.py GROUP DAEMON CONSOLE USERSERVICE [LDAP-SERVERS]

GROUP faults: a daemon killed in the middle of a listing, restarted on its
port, stopped (SIGSTOP); hostile clients (garbage, a request over the limit,
a thousand idle connections, clients that never read) while a normal one is
answered and the daemon's memory stays bounded.
GROUP limits: repeated wrong passwords, an explicit domain listing at a
server not allowed (LDAP-SERVERS: the ldap tests' servers), a listen address
other than loopback without TLS, TLS with the right and a wrong authority,
a client certificate required.
Loopback only; every wait is bounded."""
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time

GROUP = sys.argv[1]
DAEMON, CONSOLE, USERSERVICE = (os.path.abspath(path) for path in sys.argv[2:5])
WORK = tempfile.mkdtemp(prefix="ov-remote-%s." % GROUP)
USERS = 100000
BIG = "LDAP://localhost dc=bench,dc=test"
UNREACHABLE, TIMEOUT = " Error #%d\n" % 0x309701FA, " Error #%d\n" % 0x309701FB
failures = []
START = time.monotonic()
started = []


def check(ok, what, detail=""):
    print("%s %5.1f s  %s" % ("ok  " if ok else "FAIL", time.monotonic() - START, what) +
          ("" if ok else "\n" + detail[-3000:]))
    if not ok:
        failures.append(what)


def wait_for(predicate, seconds=60):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return predicate()


def write(path, text):
    with open(path, "w") as out:
        out.write(text)
    return path


def read(path):
    with open(path, errors="replace") as source:
        return source.read()


def big_ldif(users):
    lines = ["dn: dc=bench,dc=test\nobjectClass: domain\ndc: bench\n",
             "dn: ou=People,dc=bench,dc=test\nobjectClass: organizationalUnit\nou: People\n"]
    for i in range(users):
        lines.append("dn: cn=Bench User %07d,ou=People,dc=bench,dc=test\nobjectClass: "
                     "inetOrgPerson\ncn: Bench User %07d\nsn: User\nuid: user%07d\n" % (i, i, i))
    return write(os.path.join(WORK, "big.ldif"), "\n".join(lines))


class Daemon:
    def __init__(self, name, settings, listen="127.0.0.1:0"):
        self.folder = os.path.join(WORK, name)
        os.makedirs(self.folder, exist_ok=True)
        ini = write(os.path.join(self.folder, "daemon.ini"),
                    settings + "\n[Daemon]\nListen=%s\n" % listen)
        self.errors = os.path.join(self.folder, "daemon.err")
        with open(self.errors, "w") as err:
            self.process = subprocess.Popen([DAEMON, "--config", ini], cwd=self.folder,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=err)
        started.append(self.process)
        found = wait_for(lambda: self.process.poll() is not None or
                         re.findall(r"listening on 127\.0\.0\.1:(\d+)\)", read(self.errors)))
        self.port = int(found[-1]) if isinstance(found, list) else None

    def signal(self, number):
        self.process.send_signal(number)

    def rss(self):
        status = read("/proc/%d/status" % self.process.pid)
        return int(re.search(r"VmRSS:\s*(\d+)", status).group(1))

    def stop(self):
        self.process.send_signal(signal.SIGCONT)
        self.process.terminate()
        try:
            return self.process.wait(40)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()


def access(port, extra=""):
    """A program's parameter file: the services at the daemon on port."""
    return ("[PolicyServer]\nPolicyServerIP=127.0.0.1\nPolicyServerPort=55806\n"
            "PolicyServerWaitTime=5\nClientConnectionRetryTimes=1\n"
            "ClientConnectionRetrySleepTime=1\n%s\n[ServiceAccess]\nServices=remote\n"
            "Location=127.0.0.1:%d\n" % (extra, port))


class Console:
    def __init__(self, name, ini):
        self.folder = os.path.join(WORK, name)
        os.makedirs(self.folder, exist_ok=True)
        write(os.path.join(self.folder, "orvane.ini"), ini)
        self.out = os.path.join(self.folder, "out")
        with open(self.out, "w") as out:
            self.process = subprocess.Popen([CONSOLE], cwd=self.folder, stdin=subprocess.PIPE,
                                            stdout=out, stderr=subprocess.STDOUT)
        started.append(self.process)
        self.send("\n\n")

    def send(self, text):
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()

    def output(self):
        return read(self.out)

    def answer(self, command, seconds=60):
        """What command prints, up to the menu's prompt after it."""
        before = self.output().count("Selection: ")
        self.send(command)
        wait_for(lambda: self.output().count("Selection: ") > before or
                 self.process.poll() is not None, seconds)
        return self.output().split("Selection: ")[before]

    def end(self):
        self.process.stdin.close()
        try:
            return self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return "hung"


def userservice(ini, *args, stdin=""):
    config = write(os.path.join(WORK, "userservice.ini"), ini)
    try:
        done = subprocess.run([USERSERVICE, "--config", config] + list(args), input=stdin.encode(),
                              capture_output=True, timeout=60)
        return done.returncode, done.stdout.decode(errors="replace")
    except subprocess.TimeoutExpired:
        return "hung", ""


def queued(port, local, column=1):
    """Bytes waiting to be read (column 0: to be sent) on the loopback sockets
    whose local (or else remote) port is port."""
    total = 0
    for line in (read("/proc/net/tcp") + read("/proc/net/tcp6")).splitlines():
        if ":" not in line.split()[1]:
            continue
        fields = line.split()
        ends = (fields[1], fields[2]) if local else (fields[2], fields[1])
        if int(ends[0].split(":")[1], 16) == port:
            total += int(fields[4].split(":")[column], 16)
    return total


def sending(port):
    return queued(port, True, 0)


# HTTP/2 by hand, for clients no library would be.
def frame(kind, flags, stream, payload):
    return struct.pack(">I", len(payload))[1:] + bytes([kind, flags]) + struct.pack(
        ">I", stream) + payload


def literal(name, value):
    return b"\x00" + bytes([len(name)]) + name + bytes([len(value)]) + value


def list_call(port, subject, window=65535):
    """A connection that asks for a listing of subject and reads nothing."""
    request = b"\x12" + encode_length(len(subject)) + subject
    headers = b"".join(literal(n, v) for n, v in [
        (b":method", b"POST"), (b":scheme", b"http"), (b":path", b"/ovremote.UserServices/List"),
        (b":authority", b"127.0.0.1"), (b"content-type", b"application/grpc"), (b"te", b"trailers")])
    connection = socket.create_connection(("127.0.0.1", port), timeout=10)
    connection.sendall(b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" +
                       frame(4, 0, 0, struct.pack(">HI", 4, window)) +
                       frame(8, 0, 0, struct.pack(">I", max(window - 65535, 1))) +
                       frame(1, 4, 1, headers) +
                       frame(0, 1, 1, b"\x00" + struct.pack(">I", len(request)) + request))
    return connection


def encode_length(value):
    out = b""
    while value >= 0x80:
        out += bytes([value & 0x7F | 0x80])
        value >>= 7
    return out + bytes([value])


def data_on_stream_one(connection, seconds=10):
    """Whether the server sent a DATA frame with payload on stream 1 before it
    ended the stream or the connection."""
    connection.settimeout(seconds)
    buffer = b""
    try:
        while True:
            chunk = connection.recv(65536)
            if not chunk:
                return False
            buffer += chunk
            while len(buffer) >= 9:
                length = int.from_bytes(buffer[:3], "big")
                kind, flags, stream = buffer[3], buffer[4], int.from_bytes(buffer[5:9], "big")
                if len(buffer) < 9 + length:
                    break
                if stream == 1 and kind == 0 and length > 0:
                    return True
                if stream == 1 and (kind == 3 or flags & 1) or kind == 7:
                    return False
                buffer = buffer[9 + length:]
    except socket.timeout:
        return False


def listed(text, count):
    return text.count("\tLDAP://localhost ") == count and "Users:" in text


def faults():
    ldif = big_ldif(USERS)
    settings = "[UserService]\nDirectory=%s\n" % ldif
    daemon = Daemon("cut", settings)
    console = Console("console", access(daemon.port, "StatusCheckFrequency=1\n"
                                        "StatusCheckTimeout=1000"))
    console.answer("")
    # Killed mid-listing: the daemon stopped, the request sent, the console
    # stopped, the daemon let go until the console's socket holds part of
    # the answer, then killed.
    before = console.output().count("Selection: ")
    daemon.signal(signal.SIGSTOP)
    console.send("2\n%s\n" % BIG)
    wait_for(lambda: queued(daemon.port, True) > 100, 10)
    console.process.send_signal(signal.SIGSTOP)
    daemon.signal(signal.SIGCONT)
    # The answer is larger than the sockets' buffers can hold: the daemon is
    # still sending when it is killed.
    part = wait_for(lambda: queued(daemon.port, False) > 65536 and sending(daemon.port) > 1 << 20,
                    30)
    daemon.process.kill()
    daemon.process.wait()
    console.process.send_signal(signal.SIGCONT)
    wait_for(lambda: console.output().count("Selection: ") > before)
    text = console.output().split("Selection: ")[before]
    check(part and UNREACHABLE in text and "\tLDAP" not in text and "Users:" not in text,
          "a listing cut by the daemon's death is an error report, no part of a list",
          "part of the answer held: %s\n%s" % (part, text))

    again = Daemon("cut", settings, "127.0.0.1:%d" % daemon.port)
    text = console.answer("2\n%s\n" % BIG)
    check(listed(text, USERS), "the daemon restarted on its port: the next listing is whole",
          text[:2000])

    again.signal(signal.SIGSTOP)
    text = console.answer("2\n%s\n" % BIG, 120)
    print("  the stopped daemon's call ended with" + (UNREACHABLE if UNREACHABLE in text else
                                                      TIMEOUT if TIMEOUT in text else " nothing\n"), end="")
    check(UNREACHABLE in text or TIMEOUT in text,
          "a daemon that stops answering: the call ends in an error report", text)
    again.signal(signal.SIGCONT)
    text = console.answer("2\n%s\n" % BIG)
    check(listed(text, USERS), "answered again once it goes on", text[:2000])
    check(console.end() == 0 and again.stop() == 0,
          "the console and the daemon end normally afterwards", console.output()[-2000:])

    hostile = Daemon("hostile", settings)
    ini = access(hostile.port)
    print("daemon VmRSS at start: %d kB" % hostile.rss())
    held = []
    for i in range(20):
        garbage = socket.create_connection(("127.0.0.1", hostile.port))
        garbage.sendall(os.urandom(1 << 16) if i % 2 else b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" +
                        os.urandom(1 << 16))
        held.append(garbage)
    large = list_call(hostile.port, BIG.encode() + b" " * (80 << 10))
    check(not data_on_stream_one(large), "a request over 64 KiB is refused unanswered")
    for _ in range(1000):
        held.append(socket.create_connection(("127.0.0.1", hostile.port)))
        held[-1].sendall(b"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n" + frame(4, 0, 0, b""))
    for _ in range(8):
        held.append(list_call(hostile.port, BIG.encode(), 0x7FFFFFFF))
    wait_for(lambda: queued(hostile.port, False) > 8 * 65536, 20)
    status, out = userservice(ini, "users", BIG)
    check(status == 0 and out.count("\n") == USERS,
          "garbage, 1,000 idle connections, 8 that never read: a normal client is answered",
          "status %s\n%s" % (status, out[-500:]))
    rss = hostile.rss()
    print("daemon VmRSS with the hostile clients: %d kB" % rss)
    check(rss < 1 << 20, "the daemon's memory stays under 1 GiB")
    for connection in held + [large]:
        connection.close()
    check(hostile.process.poll() is None and hostile.stop() == 0,
          "the daemon stops normally after them", read(hostile.errors)[-2000:])


def faults_main():
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


def certificates():
    """A CA, a server certificate for 127.0.0.1 signed by it, a client
    certificate signed by it, and another CA."""
    folder = os.path.join(WORK, "pki")
    os.makedirs(folder)

    def openssl(*args):
        subprocess.run(["openssl"] + list(args), cwd=folder, check=True, capture_output=True)

    for ca in ("ca", "other"):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Test %s" % ca, "-keyout", ca + ".key", "-out", ca + ".pem", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign")
    for name, usage in (("server", "serverAuth"), ("client", "clientAuth")):
        write(os.path.join(folder, name + ".ext"), "basicConstraints=CA:FALSE\nextendedKeyUsage="
              "%s\nsubjectAltName=IP:127.0.0.1,DNS:localhost\n" % usage)
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                name + ".key", "-out", name + ".csr")
        openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", name + ".ext", "-out", name + ".pem")
    return lambda name: os.path.join(folder, name)


def no_proxy(text):
    """The command's answer says the services could not be reached through
    the framework (a report, or the exception's record), and lists nothing."""
    return "\tLDAP://" not in text and (" Error #%d\n" % 0x309701F9 in text or
                                        "Code=0x309701f9" in text)


def console_answer(name, ini, command):
    console = Console(name, ini)
    console.answer("")
    text = console.answer(command)
    return text, console.end()


def explicit_listings(port):
    """Command 20 through a daemon whose directory is an LDAP server: to its
    own server, to one of AllowedServers (nothing listens there: a status
    says it was tried), to any other (refused before it connects)."""
    directory = ("[UserService]\nDirectory=ldap://127.0.0.1:%d\nBindDN=cn=Administrator,cn=Users,"
                 "dc=example,dc=com\nBindPassword=Admin#2024\n" % port)
    account = "cn=Administrator,cn=Users,dc=example,dc=com\nAdmin#2024\nADS\n0\n"
    refused = " Error #%d\n" % 0x30A20047
    for allowed, server, gone in (("", "127.0.0.1:%d " % port, False),
                                  ("", "127.0.0.2:%d " % port, True),
                                  ("", "127.0.0.2:%d\t" % port, True),
                                  ("AllowedServers=127.0.0.2\n", "127.0.0.2:%d " % port, False)):
        daemon = Daemon("explicit", directory + "[Daemon]\n" + allowed)
        text, _ = console_answer("explicit", access(daemon.port),
                                 "20\nLDAP://%sdc=example,dc=com\n%s" % (server, account))
        check(refused in text if gone else "Status:\t" in text, "command 20 at %r%s: %s" % (
            server, " allowed" if allowed else "", "refused" if gone else "let through"), text)
        daemon.stop()


def limits():
    sample = "[UserService]\nDirectory=%s\n" % os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "data", "directory.ldif")
    users = "2\nLDAP://localhost cn=Users,dc=example,dc=com\n"
    daemon = Daemon("guesses", sample)
    console = Console("guesses", access(daemon.port))
    console.answer("")
    texts = "".join(console.answer("9\njsmith\nwrong\n") for _ in range(8))
    check(" Error #%d\n" % 0x30A20046 in texts and console.end() == 0,
          "eight wrong passwords in a row: the daemon stops testing them", texts)
    daemon.stop()

    refused = Daemon("open", sample, "0.0.0.0:0")
    check(refused.process.wait(30) == 2 and refused.port is None,
          "a listen address other than loopback without TLS is refused (exit 2)",
          read(refused.errors))

    if len(sys.argv) > 5:
        explicit_listings(int(read(os.path.join(sys.argv[5], "shared", "port"))))

    pki = certificates()
    tls = "[Daemon]\nCertificateFile=%s\nKeyFile=%s\n" % (pki("server.pem"), pki("server.key"))
    daemon = Daemon("tls", tls + sample)
    secure = "SecureSocketLayer=true\n"
    for ca, answered in (("ca.pem", True), ("other.pem", False)):
        ini = access(daemon.port, secure) + "CAFile=%s\n" % pki(ca)
        text, status = console_answer("tls-" + ca, ini, users)
        check("\tLDAP://" in text if answered else no_proxy(text),
              "TLS, the daemon's certificate checked with %s: %s" %
              (ca, "answered" if answered else "not answered"), text)
    daemon.stop()
    daemon = Daemon("mutual", tls.replace("KeyFile", "ClientCAFile=%s\nKeyFile" % pki("ca.pem"))
                    + sample)
    for client, answered in (("", False), ("client", True)):
        ini = access(daemon.port, secure) + "CAFile=%s\n" % pki("ca.pem")
        if client:
            ini += "CertificateFile=%s\nKeyFile=%s\n" % (pki("client.pem"), pki("client.key"))
        text, status = console_answer("mutual-" + client, ini, users)
        check("\tLDAP://" in text if answered else no_proxy(text),
              "a client certificate asked for, %s: %s" %
              ("shown" if client else "none", "answered" if answered else "not answered"), text)
    daemon.stop()


if __name__ == "__main__":
    faults_main()
