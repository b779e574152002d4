#!/usr/bin/env python3
"""A plain HTTP/1.1 server on 127.0.0.1 for the Windows transport tests.

Prints "port=N" once it listens, then serves until its standard input
closes. The path of a request chooses the answer:
  /echo            200 text/xml; the body is "connection=N\\n" and the
                   request's bytes as they came (head and body)
  /notfound        404 Not Found, text/html
  /fault           500, text/xml, a SOAP fault
  /html            200, text/html
  /html-charset    200, text/html; charset=utf-8
  /no-content-type 200 without a Content-Type header
  /huge            200, text/xml, a body of 16 MiB and one byte
Connections are kept alive and numbered from 1 in the order they come.
"""
import socket
import sys
import threading

ANSWERS = {
    "/notfound": (404, "Not Found", "text/html", b"<html><body>no</body></html>"),
    "/fault": (500, "Internal Server Error", "text/xml; charset=utf-8",
               b'<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/'
               b'envelope/"><s:Body><s:Fault><faultcode>s:Server</faultcode><faultstring>'
               b"broken</faultstring></s:Fault></s:Body></s:Envelope>"),
    "/html": (200, "OK", "text/html", b"<html></html>"),
    "/html-charset": (200, "OK", "text/html; charset=utf-8", b"<ok/>"),
    "/no-content-type": (200, "OK", None, b"<ok/>"),
    "/huge": (200, "OK", "text/xml", b"x" * (16 * 1024 * 1024 + 1)),
}

counter_lock = threading.Lock()
connections = 0


def read_request(conn, pending):
    while b"\r\n\r\n" not in pending:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        pending += chunk
    head, rest = pending.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(rest) < length:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        rest += chunk
    return head + b"\r\n\r\n" + rest[:length], rest[length:]


def serve(conn, number):
    pending = b""
    with conn:
        while True:
            raw, pending = read_request(conn, pending)
            if raw is None:
                return
            path = raw.split(b" ", 2)[1].decode("latin-1")
            if path in ANSWERS:
                status, reason, ctype, body = ANSWERS[path]
            else:
                status, reason, ctype = 200, "OK", "text/xml; charset=utf-8"
                body = b"connection=%d\n" % number + raw
            head = "HTTP/1.1 %d %s\r\nContent-Length: %d\r\n" % (status, reason, len(body))
            if ctype:
                head += "Content-Type: %s\r\n" % ctype
            conn.sendall(head.encode("latin-1") + b"\r\n" + body)


def main():
    global connections
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("port=%d" % listener.getsockname()[1], flush=True)

    def accept():
        global connections
        while True:
            conn, _ = listener.accept()
            with counter_lock:
                connections += 1
                number = connections
            threading.Thread(target=serve, args=(conn, number), daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
