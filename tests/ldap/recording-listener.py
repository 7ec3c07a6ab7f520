#!/usr/bin/env python3
"""A loopback listener that records what arrives and never answers.

    recording-listener.py PORT-FILE RECORD-FILE [CERT KEY]

Listens on a free loopback port (written to PORT-FILE once it listens),
accepts connections one after the other, and appends to RECORD-FILE every
byte each sends until it stays silent for half a second, then closes it.
With CERT and KEY it speaks TLS first, so what is recorded is what a client
sent inside TLS. Runs until it is killed."""
import os
import socket
import ssl
import sys


def main():
    port_file, record_file = sys.argv[1], sys.argv[2]
    context = None
    if len(sys.argv) > 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(8)
    with open(port_file + ".tmp", "w") as out:
        out.write("%d\n" % server.getsockname()[1])
    os.rename(port_file + ".tmp", port_file)
    while True:
        connection, _ = server.accept()
        try:
            connection.settimeout(5)
            if context is not None:
                connection = context.wrap_socket(connection, server_side=True)
            connection.settimeout(0.5)
            received = b""
            while len(received) < 1 << 20:
                try:
                    piece = connection.recv(65536)
                except socket.timeout:
                    break
                if not piece:
                    break
                received += piece
        except (OSError, ssl.SSLError):
            received = b""
        finally:
            connection.close()
        with open(record_file, "ab") as record:
            record.write(received)


if __name__ == "__main__":
    main()
