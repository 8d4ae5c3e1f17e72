"""The course's file server as a learner's program meets it, for
build-course --try: serves each address a setup program fetches from the file
of the files folder it was pinned from, over HTTPS on 127.0.0.1 at the
address's own port, and answers 404 to any other path. It runs inside the
try's network namespace, where the addresses' host names mean 127.0.0.1."""

import http.server
import os
import ssl
import threading
import urllib.parse

CHUNK = 1 << 20
# A client that stops reading must not hold a handler thread for long.
IO_TIMEOUT = 60


def port_of(address):
    return urllib.parse.urlsplit(address).port or 443


def make_handler(files_by_path, log):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        timeout = IO_TIMEOUT

        def do_GET(self):
            path = urllib.parse.urlsplit(self.path).path
            file = files_by_path.get((self.server.server_port, path))
            try:
                if file is None or not os.path.isfile(file):
                    # Not an address the program fetches, or a part pinned by
                    # its digest whose file is not in the files folder.
                    self.answer(404, b"no such file\n", "text/plain")
                else:
                    with open(file, "rb") as body:
                        self.answer(200, body.read(), "application/zip")
            except OSError as error:
                log.append(f"{self.command} {self.path}: {error}")
            self.close_connection = True

        def answer(self, status, body, kind):
            log.append(f"{self.command} {self.path} {status} {len(body)} bytes")
            self.send_response(status)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            for offset in range(0, len(body), CHUNK):
                self.wfile.write(body[offset:offset + CHUNK])

        def log_message(self, format, *arguments):
            pass  # answer() keeps the log

    return Handler


def serve(addresses, certificate, key):
    """Serves each (address, file) until the process ends; the request log,
    a list that grows one line per request."""
    log = []
    files_by_path = {(port_of(address), urllib.parse.urlsplit(address).path): file for address, file in addresses}
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    handler = make_handler(files_by_path, log)
    for port in sorted({port for port, _ in files_by_path}):
        server = http.server.ThreadingHTTPServer(("127.0.0.1", port), handler)
        server.daemon_threads = True
        # The handshake waits for the handler's first read, in the
        # connection's own thread, so a stuck client cannot block accept().
        server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
        threading.Thread(target=server.serve_forever, daemon=True).start()
    return log

