#!/usr/bin/env python3
"""A deliberately broken LDAP server on a free loopback port, for the tests of
how the ldap backend copes with one. The first connection gets the broken
behaviour; every later one is relayed to a real server, so that a test can
check that the next request after the failure works.

    hostile-server.py MODE UPSTREAM_PORT

Prints "PORT PID" on a line once it listens, and ends when the process that
started it does (or after five minutes). MODE:
    close     closes each first connection at once
    garbage   answers the bind with bytes that are no LDAP message
    half      accepts the bind, then sends half of an entry and closes
    huge      accepts the bind, then announces a message of 2 GB and waits
    silent    accepts the bind, then never answers the search
    endless   accepts the bind, then sends entries until the client leaves
    trickle   accepts the bind, then sends an entry every 0.2 s for 30 s
    nocookie  accepts the bind, then sends one entry and a result whose
              paged-results control has no value
    undecodable  accepts the bind, then sends an entry whose inner lengths
              do not fit its outer one
    laterpage accepts the bind, answers the first page with one entry and a
              cookie, refuses the second page (adminLimitExceeded) with an
              empty cookie, and answers any search after that whole, with
              three entries
"""
import os
import socket
import sys
import threading
import time


# What a fuzzer found to leave libldap's record of the search in use (for
# message id 2), so that unbinding afterwards aborted the process.
UNDECODABLE_ENTRY = (
    "3038020102643b0400302f302d040e6e616d696e67436f6e7465787473311b04066f3d696e67"
    "436f6e7465787473311b0406652c64633d636f6d300c02010201650a040700000400")


def encode_length(n):
    if n < 0x80:
        return bytes([n])
    body = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([0x80 | len(body)]) + body


def tlv(tag, content):
    return bytes([tag]) + encode_length(len(content)) + content


def integer(n):
    body = n.to_bytes(max(1, (n.bit_length() + 8) // 8), "big", signed=True)
    return tlv(0x02, body)


def message(msgid, operation):
    return tlv(0x30, integer(msgid) + operation)


def bind_ok(msgid):
    return message(msgid, tlv(0x61, tlv(0x0A, b"\x00") + tlv(0x04, b"") + tlv(0x04, b"")))


def entry(msgid, number):
    dn = b"uid=flood%08d,ou=People,o=ldaptest" % number
    attributes = [(b"objectClass", [b"inetOrgPerson"]), (b"uid", [b"flood%08d" % number]),
                  (b"cn", [b"Flood %08d" % number]), (b"description", [b"x" * 2048])]
    encoded = b"".join(
        tlv(0x30, tlv(0x04, name) + tlv(0x31, b"".join(tlv(0x04, v) for v in values)))
        for name, values in attributes)
    return message(msgid, tlv(0x64, tlv(0x04, dn) + tlv(0x30, encoded)))


def paged_done(msgid, code, cookie):
    """A search result with the result code and a paged-results control."""
    value = tlv(0x30, integer(0) + tlv(0x04, cookie))
    control = tlv(0xA0, tlv(0x30, tlv(0x04, b"1.2.840.113556.1.4.319") + tlv(0x04, value)))
    result = tlv(0x0A, bytes([code])) + tlv(0x04, b"") + tlv(0x04, b"")
    return message(msgid, tlv(0x65, result) + control)


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        piece = sock.recv(count - len(data))
        if not piece:
            raise EOFError
        data += piece
    return data


def read_request(sock):
    """One LDAP message from the client; returns its message id."""
    tag = read_exactly(sock, 1)
    if tag != b"\x30":
        raise EOFError
    first = read_exactly(sock, 1)[0]
    if first & 0x80:
        length = int.from_bytes(read_exactly(sock, first & 0x7F), "big")
    else:
        length = first
    body = read_exactly(sock, length)
    # body: INTEGER messageID, then the operation
    id_length = body[1]
    return int.from_bytes(body[2:2 + id_length], "big", signed=True)


def wait_for_close(sock):
    try:
        while sock.recv(65536):
            pass
    except OSError:
        pass


def hostile(sock, mode):
    if mode == "close":
        return
    bind_id = read_request(sock)
    if mode == "garbage":
        sock.sendall(b"\xde\xad\xbe\xef" * 64)
        wait_for_close(sock)
        return
    sock.sendall(bind_ok(bind_id))
    search_id = read_request(sock)
    if mode == "half":
        whole = entry(search_id, 1)
        sock.sendall(whole[: len(whole) // 2])
    elif mode == "huge":
        # A SEQUENCE whose length field says 0x7fffffff bytes follow.
        sock.sendall(b"\x30\x84\x7f\xff\xff\xff" + integer(search_id))
        wait_for_close(sock)
    elif mode == "silent":
        wait_for_close(sock)
    elif mode == "nocookie":
        control = tlv(0xA0, tlv(0x30, tlv(0x04, b"1.2.840.113556.1.4.319")))
        done = message(search_id, tlv(0x65, tlv(0x0A, b"\x00") + tlv(0x04, b"") + tlv(0x04, b""))
                       + control)
        sock.sendall(entry(search_id, 1) + done)
        wait_for_close(sock)
    elif mode == "laterpage":
        sock.sendall(entry(search_id, 1) + paged_done(search_id, 0, b"next"))
        sock.sendall(paged_done(read_request(sock), 11, b""))
        again = read_request(sock)
        sock.sendall(b"".join(entry(again, n) for n in (1, 2, 3)) + paged_done(again, 0, b""))
        wait_for_close(sock)
    elif mode == "undecodable":
        sock.sendall(bytes.fromhex(UNDECODABLE_ENTRY))
        wait_for_close(sock)
    elif mode == "trickle":
        for number in range(150):
            sock.sendall(entry(search_id, number))
            time.sleep(0.2)
        wait_for_close(sock)
    elif mode == "endless":
        number = 0
        try:
            while True:
                batch = b"".join(entry(search_id, number + k) for k in range(64))
                sock.sendall(batch)
                number += 64
        except OSError:
            pass


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    for s in (source, target):
        try:
            s.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def relay(client, upstream_port):
    upstream = socket.create_connection(("127.0.0.1", upstream_port))
    threads = [threading.Thread(target=pump, args=(client, upstream), daemon=True),
               threading.Thread(target=pump, args=(upstream, client), daemon=True)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    upstream.close()


def serve(client, mode, upstream_port, first):
    try:
        if first:
            hostile(client, mode)
        else:
            relay(client, upstream_port)
    except (EOFError, OSError):
        pass
    finally:
        try:
            client.close()
        except OSError:
            pass


def watch_parent():
    parent = os.getppid()
    deadline = time.monotonic() + 300
    while os.getppid() == parent and time.monotonic() < deadline:
        time.sleep(0.5)
    os._exit(0)


def main():
    mode, upstream_port = sys.argv[1], int(sys.argv[2])
    threading.Thread(target=watch_parent, daemon=True).start()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], os.getpid(), flush=True)
    first = True
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, mode, upstream_port, first),
                         daemon=True).start()
        first = False


if __name__ == "__main__":
    main()
