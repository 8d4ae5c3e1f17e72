#!/usr/bin/env python3
"""Local HTTPS test server for the Quillby setup tests.

Serves fixed, reproducible bodies and deliberately misbehaving responses on
127.0.0.1 so the downloader can be exercised under Wine without any network.
Everything it makes (certificates, keys, port file, logs) lives in --state.

Listeners (same paths on each):
  trusted     TLS, certificate for DNS:localhost signed by the throwaway CA
  wrong_name  TLS, certificate for DNS:wrong.example signed by the same CA
  untrusted   TLS, self-signed certificate for DNS:localhost
  plain       plain HTTP, target of the https -> http redirect

Each request is logged to STATE/requests.log as one tab-separated line:
listener, method, path with query, User-Agent ("-" if none), and the Range
and If-Range headers when they were sent.

A body named NAME of N bytes is the first N bytes of
SHA-256("NAME:0") || SHA-256("NAME:1") || ..., so every run serves the same
bytes. /flaky/NAME serves the file NAME as /files/NAME does, but a request
without Range is cut inside the body (at a multiple of 16384 bytes, where
Wine's reads end) and one with Range gets the rest as a 206; with
?validator=etag or ?validator=date both name the file by that field of
VALIDATORS. /big?mb=N repeats the 1 MiB body named BIG N times; its digest
is the digest of that repetition.
"""

import argparse
import gzip
import hashlib
import http.server
import os
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

# The throwaway CA is made the way build-course --try makes its own.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import throwaway_ca  # noqa: E402

CA_SUBJECT = "/CN=Quillby test CA"
MIB = 1 << 20
# A client that stops reading (or never sends a request) must not pin a
# handler thread for the whole lifetime.
IO_TIMEOUT = 60


def body(name, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{name}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


FIXED = {
    "NORMAL": body("NORMAL", 300000),
    "EMPTY": b"",
    "ERROR": b"not found\n",
    "CUT": body("CUT", 1000000),
    "DRIP": body("DRIP", 20000),
    "SHORT_FIRST": body("SHORT_FIRST", 50000),
    "EXACT512K": body("EXACT512K", 524288),
}
CUT_SENT = 400000
# What a misconfigured file server sends in place of a missing archive.
ERROR_PAGE = b"<html><body><h1>Sorry, that page is gone.</h1></body></html>\n"
# What /flaky/NAME?validator=KEY names its file by: a strong entity tag, or a
# Last-Modified long before any Date the server sends.
VALIDATORS = {"etag": ("ETag", '"flaky-1"'), "date": ("Last-Modified", "Sat, 01 Jun 2024 12:00:00 GMT")}
BIG_BLOCK = body("BIG", MIB)
SLOW_DRIP = body("SLOW_DRIP", 1000)


def make_certificates(state):
    throwaway_ca.make_ca(state, CA_SUBJECT)
    make = throwaway_ca.make_certificate
    return {
        "trusted": make(state, "trusted", "/CN=localhost", ["localhost"]),
        "wrong_name": make(state, "wrong_name", "/CN=wrong.example", ["wrong.example"]),
        # Its own subject, so a chain builder can never mistake it for the CA.
        "untrusted": make(state, "untrusted", "/CN=Quillby untrusted localhost", ["localhost"], signed_by_ca=False),
    }


class Log:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)
        self.lock = threading.Lock()

    def line(self, text):
        with self.lock:
            self.file.write(text + "\n")


class Server(http.server.ThreadingHTTPServer):
    def __init__(self, name, context, handler, port=0):
        self.name = name
        self.context = context
        self.scheme = "https" if context else "http"
        super().__init__(("127.0.0.1", port), handler)

    def server_bind(self):
        # HTTPServer.server_bind would resolve the host name; nothing needs it.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address

    def finish_request(self, request, client_address):
        # Small writes must leave as written, so clients really see short reads.
        request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        request.settimeout(IO_TIMEOUT)
        if not self.context:
            super().finish_request(request, client_address)
            return
        # Handshake here, in the connection's own thread, so a stuck client
        # cannot block accept() for the other connections.
        with self.context.wrap_socket(request, server_side=True) as tls:
            super().finish_request(tls, client_address)

    def handle_error(self, request, client_address):
        # Rejected certificates and vanished clients are the point of most
        # tests; one line is enough.
        print(f"{self.name}: {sys.exc_info()[1]!r}", file=sys.stderr, flush=True)


def make_handler(files_dir, log, ports):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        timeout = IO_TIMEOUT

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            asked = [self.headers.get(name) for name in ("Range", "If-Range")]
            log.line(f"{self.server.name}\t{self.command}\t{self.path}\t"
                     f"{self.headers.get('User-Agent', '-')}" + "".join(f"\t{value}" for value in asked if value))
            try:
                self.route(url.path, urllib.parse.parse_qs(url.query))
            except OSError:
                pass  # the client went away; nothing left to tell it
            self.close_connection = True

        def start(self, code, length=None, extra=(), kind="application/octet-stream"):
            self.send_response(code)
            self.send_header("Content-Type", kind)
            if length is not None:
                self.send_header("Content-Length", str(length))
            for key, value in extra:
                self.send_header(key, value)
            self.send_header("Connection", "close")
            self.end_headers()

        def send(self, code, data, extra=()):
            self.start(code, len(data), extra)
            self.wfile.write(data)

        def text(self, code, message):
            self.start(code, len(message), kind="text/plain")
            self.wfile.write(message)

        def redirect(self, location):
            self.send(302, b"", [("Location", location)])

        def route(self, path, query):
            fixed = {"/normal": "NORMAL", "/empty": "EMPTY", "/exact512k": "EXACT512K"}
            if path in fixed:
                self.send(200, FIXED[fixed[path]])
            elif path.startswith("/files/"):
                self.serve_file(urllib.parse.unquote(path[len("/files/"):]))
            elif path.startswith("/flaky/"):
                self.serve_file(urllib.parse.unquote(path[len("/flaky/"):]), flaky=True,
                                named=VALIDATORS.get(query.get("validator", [""])[0]))
            elif path == "/cut":
                self.start(200, len(FIXED["CUT"]))
                self.wfile.write(FIXED["CUT"][:CUT_SENT])
                # TCP FIN without TLS close_notify, mid-body.
                self.connection.shutdown(socket.SHUT_RDWR)
            elif path == "/drip":
                self.paced(FIXED["DRIP"], 100, 0.005)
            elif path == "/short-first":
                data = FIXED["SHORT_FIRST"]
                self.start(200, len(data))
                self.wfile.write(data[:500])
                time.sleep(0.3)
                self.wfile.write(data[500:])
            elif path == "/error-page":
                self.start(200, len(ERROR_PAGE), kind="text/html")
                self.wfile.write(ERROR_PAGE)
            elif path == "/redirect":
                self.redirect(f"{self.server.scheme}://localhost:{self.server.server_port}/normal")
            elif path == "/redirect-to":
                self.redirect(query.get("location", [""])[0])
            elif path == "/redirect-long":
                self.redirect(f"{self.server.scheme}://localhost:{self.server.server_port}/normal?{'a' * 2100}")
            elif path == "/gzip":
                data = gzip.compress(FIXED["NORMAL"], mtime=0)
                self.send(200, data, [("Content-Encoding", "gzip")])
            elif path == "/to-plain":
                self.redirect(f"http://localhost:{ports['PLAIN_PORT']}/normal")
            elif path == "/big":
                self.big(query)
            elif path == "/stall":
                self.start(200, 100000)
                self.wait_for_disconnect()
            elif path == "/slow-drip":
                self.paced(SLOW_DRIP, 1, 3)
            elif path == "/endless":
                self.start(200)
                chunk = BIG_BLOCK[:16384]
                while True:
                    self.wfile.write(chunk)
            else:
                self.text(404, FIXED["ERROR"])  # /error and every unknown path

        def serve_file(self, name, flaky=False, named=None):
            if not name or "/" in name or "\\" in name or ".." in name:
                self.text(400, b"bad file name\n")
                return
            try:
                f = open(os.path.join(files_dir, name), "rb")
            except (OSError, ValueError):  # ValueError: a NUL in the name
                self.text(404, b"no such file\n")
                return
            with f:
                size = os.fstat(f.fileno()).st_size
                if not flaky:
                    self.start(200, size)
                    while chunk := f.read(MIB):
                        self.wfile.write(chunk)
                    return
                validators = [named] if named else []
                start = self.range_start()
                if start is None:
                    self.start(200, size, validators)
                    self.wfile.write(f.read(size // 2 // 16384 * 16384))
                    # TCP FIN without TLS close_notify, mid-body.
                    self.connection.shutdown(socket.SHUT_RDWR)
                    return
                if start >= size:
                    self.text(416, b"range not satisfiable\n")
                    return
                f.seek(start)
                self.start(206, size - start, [("Content-Range", f"bytes {start}-{size - 1}/{size}")] + validators)
                self.wfile.write(f.read())

        def range_start(self):
            """The N of "Range: bytes=N-", or None."""
            asked = self.headers.get("Range", "")
            if asked.startswith("bytes=") and asked.endswith("-") and asked[6:-1].isdigit():
                return int(asked[6:-1])
            return None

        def paced(self, data, step, pause):
            self.start(200, len(data))
            for i in range(0, len(data), step):
                self.wfile.write(data[i:i + step])
                time.sleep(pause)

        def big(self, query):
            try:
                mb = int(query["mb"][0])
            except (KeyError, ValueError):
                mb = -1
            if not 0 <= mb <= 1024:
                self.text(400, b"mb must be 0..1024\n")
                return
            self.start(200, mb * MIB)
            for _ in range(mb):
                self.wfile.write(BIG_BLOCK)

        def wait_for_disconnect(self):
            # Nothing is sent, so only a read notices the client leaving.
            self.connection.settimeout(1)
            while True:
                try:
                    if not self.connection.recv(4096):
                        return
                except TimeoutError:
                    continue

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True)
    parser.add_argument("--files", required=True)
    parser.add_argument("--lifetime", type=float, default=900)
    # An installer built for a test course has its addresses, port included,
    # built in, so the trusted listener can be asked for a fixed port.
    parser.add_argument("--trusted-port", type=int, default=0)
    args = parser.parse_args()
    deadline = time.monotonic() + args.lifetime

    os.makedirs(args.state, exist_ok=True)
    certs = make_certificates(args.state)
    log = Log(os.path.join(args.state, "requests.log"))
    ports = {}
    handler = make_handler(os.path.abspath(args.files), log, ports)

    servers = []
    for name in ("trusted", "wrong_name", "untrusted"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*certs[name])
        servers.append(Server(name, context, handler, args.trusted_port if name == "trusted" else 0))
    servers.append(Server("plain", None, handler))
    for server in servers:
        ports[server.name.upper() + "_PORT"] = server.server_port
        threading.Thread(target=server.serve_forever, daemon=True).start()

    lines = [f"{key}={value}" for key, value in ports.items()]
    digests = dict(FIXED, CUT_PART=FIXED["CUT"][:CUT_SENT])
    for name, data in digests.items():
        lines.append(f"SHA256_{name}={hashlib.sha256(data).hexdigest()}")
        lines.append(f"SIZE_{name}={len(data)}")
    info = os.path.join(args.state, "server.txt")
    with open(info + ".tmp", "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(info + ".tmp", info)
    print(f"listening: {ports}", file=sys.stderr, flush=True)

    time.sleep(max(0.0, deadline - time.monotonic()))
    print("lifetime over", file=sys.stderr, flush=True)
    # Handler threads may be stalled on purpose; end them all at once.
    os._exit(0)


if __name__ == "__main__":
    main()
