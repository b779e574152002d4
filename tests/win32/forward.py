#!/usr/bin/env python3
"""Forwards TCP connections from 127.0.0.1:LISTEN to 127.0.0.1:TARGET.

Prints "listening=LISTEN" once it listens and forwards until its standard
input closes. Used to put the mock registry service behind the fixed
endpoint's port 443 inside the end-to-end test's network namespace."""
import socket
import sys
import threading


def pump(src, dst):
    try:
        while True:
            data = src.recv(65536)
            if not data:
                break
            dst.sendall(data)
    except OSError:
        pass
    finally:
        for s in (src, dst):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def main():
    listen, target = int(sys.argv[1]), int(sys.argv[2])
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", listen))
    listener.listen(16)
    print("listening=%d" % listen, flush=True)

    def accept():
        while True:
            client, _ = listener.accept()
            server = socket.create_connection(("127.0.0.1", target))
            threading.Thread(target=pump, args=(client, server), daemon=True).start()
            threading.Thread(target=pump, args=(server, client), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
