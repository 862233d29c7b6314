#!/usr/bin/env python3
"""A loopback HTTP(S) server for the url! tests.

Usage: http-test-server.py PORT-FILE [CERT KEY]

Listens on 127.0.0.1 on a free port, writes that port number to PORT-FILE
(through a temporary name, so a reader never sees half of it), and serves
until the process that started it ends, or for 120 seconds at most. With
CERT and KEY it speaks HTTPS.

Routes:
  /text          a text body with CR LF line ends
  /binary        the bytes 0..255
  /status/N      status N, body "status N"
  /echo          the request back as text: method, path, each header as
                 "name: value" (sorted by name, lower case), an empty line,
                 then the body
  /twice         two X-Twice headers
  /redirect/N    N redirects (302) ending at /text
  /see-other     a 303 to /echo
  /slow          sends nothing for 30 seconds
  /drip          a 40-byte body, one byte every half second
  /huge          declares a body of 10^12 bytes, then sends it slowly
  /endless       a chunked body that never ends (64 KiB chunks)
  /utf8          a text body beyond ASCII, with CR LF line ends
  /bytes/N       N bytes "x" with their Content-Length
  /chunks/N      N bytes "x" in a chunked body (no length given)
  /doc.json      a JSON document (application/json); also under /doc-json
  /script.kiv    a Kiv script that prints a line and gives 42
"""
import http.server
import os
import socketserver
import ssl
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if n else b""

    def route(self):
        path = self.path
        data = self.body()
        if path == "/text":
            return self.reply(200, b"one\r\ntwo\r\n", [("Content-Type", "text/plain; charset=utf-8")])
        if path in ("/doc.json", "/doc-json"):
            body = '{"name": "doc", "items": [1, 2.5, "\u00e9"]}'.encode()
            return self.reply(200, body, [("Content-Type", "application/json")])
        if path == "/script.kiv":
            body = b'Kiv [Title: "remote"]\nprint "remote ran"\n6 * 7\n'
            return self.reply(200, body, [("Content-Type", "text/plain")])
        if path == "/binary":
            return self.reply(200, bytes(range(256)), [("Content-Type", "application/octet-stream")])
        if path.startswith("/status/"):
            code = int(path[len("/status/"):])
            return self.reply(code, b"status %d" % code)
        if path == "/echo":
            lines = [self.command, self.path]
            for name in sorted(k.lower() for k in self.headers.keys()):
                lines.append("%s: %s" % (name, self.headers[name]))
            text = "\n".join(lines).encode() + b"\n\n" + data
            return self.reply(200, text, [("Content-Type", "text/plain")])
        if path == "/twice":
            return self.reply(200, b"ok", [("X-Twice", "first"), ("X-Twice", "second")])
        if path.startswith("/redirect/"):
            n = int(path[len("/redirect/"):])
            where = "/text" if n <= 1 else "/redirect/%d" % (n - 1)
            return self.reply(302, b"", [("Location", where)])
        if path == "/see-other":
            return self.reply(303, b"", [("Location", "/echo")])
        if path == "/slow":
            time.sleep(30)
            return self.reply(200, b"late")
        if path == "/utf8":
            return self.reply(200, "été\r\n€ 1\r\n".encode(), [("Content-Type", "text/plain; charset=utf-8")])
        if path in ("/drip", "/huge", "/endless"):
            return self.stream(path)
        if path.startswith("/bytes/") or path.startswith("/chunks/"):
            return self.sized(path.startswith("/chunks/"), int(path.split("/")[2]))
        return self.reply(404, b"not found")

    # The misbehaving bodies: the client is expected to give up on them, so
    # a closed connection ends them quietly.
    def stream(self, path):
        self.send_response(200)
        if path == "/endless":
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", "40" if path == "/drip" else str(10**12))
        self.end_headers()
        self.close_connection = True
        chunk = b"x" * 65536
        try:
            for _ in range(40 if path == "/drip" else 1000000):
                if path == "/endless":
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                else:
                    self.wfile.write(b"x")
                    self.wfile.flush()
                    time.sleep(0.5)
        except OSError:
            pass

    def sized(self, chunked, n):
        self.send_response(200)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(n))
        self.end_headers()
        chunk = b"x" * (1 << 20)
        try:
            while n > 0:
                part = chunk[:n]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part) if chunked else part)
                n -= len(part)
            if chunked:
                self.wfile.write(b"0\r\n\r\n")
        except OSError:
            pass

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = do_OPTIONS = route


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    port_file = sys.argv[1]
    server = Server(("127.0.0.1", 0), Handler)
    if len(sys.argv) > 3:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.rename(port_file + ".tmp", port_file)
    parent = os.getppid()
    start = time.time()
    while os.getppid() == parent and time.time() - start < 120:
        time.sleep(0.2)


if __name__ == "__main__":
    main()
