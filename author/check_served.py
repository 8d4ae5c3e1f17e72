"""Fetches every address a course's setup program will fetch, as it will
(HTTPS, the course's user agent, redirects only to https), and compares each
body's SHA-256 with the pin the build puts in the program: the course
author's last check after uploading. Trusts the system's certificate
authorities, or SSL_CERT_FILE when set, as OpenSSL does."""

import hashlib
import http.client
import ssl
import time
import urllib.parse

REDIRECTS_FOLLOWED = 10
# A server that stops sending is given up on, as the program does; a whole
# fetch is bounded too, so that a server dripping bytes cannot hold the check.
READ_TIMEOUT_SECONDS = 120
FETCH_LIMIT_SECONDS = 30 * 60
BLOCK = 1 << 16


def addresses(values, parts):
    """(name, address, pin) in the order the program fetches them, each
    named as the program's messages name it."""
    rows = [(values["runtime_label"], values["runtime_url"], values["runtime_sha256"])]
    return rows + [(name, f"{values['payload_base_url']}/{name}", pin) for name, pin in parts]


def fetch(address, user_agent, context):
    """What the server answers at ADDRESS after the redirects it asks for:
    (status, content type, size, SHA-256 of the body), or the reason
    nothing was fetched."""
    deadline = time.monotonic() + FETCH_LIMIT_SECONDS
    for _ in range(REDIRECTS_FOLLOWED + 1):
        parts = urllib.parse.urlsplit(address)
        if parts.scheme != "https":
            return f"redirected to {address}, which is not https"
        connection = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=READ_TIMEOUT_SECONDS,
                                                 context=context)
        try:
            connection.request("GET", urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, "")),
                               headers={"User-Agent": user_agent, "Cache-Control": "no-cache", "Pragma": "no-cache"})
            response = connection.getresponse()
            location = response.getheader("Location")
            if response.status in (301, 302, 303, 307, 308) and location:
                address = urllib.parse.urljoin(address, location)
                continue
            digest, size = hashlib.sha256(), 0
            while block := response.read(BLOCK):
                digest.update(block)
                size += len(block)
                if time.monotonic() > deadline:
                    return f"still sending after {FETCH_LIMIT_SECONDS} seconds"
            return response.status, response.getheader("Content-Type", "none given"), size, digest.hexdigest()
        except (OSError, http.client.HTTPException) as error:
            return f"not fetched: {error}"
        finally:
            connection.close()
    return f"more than {REDIRECTS_FOLLOWED} redirects"


def verdict(answer, pin):
    """Whether the program would accept what was served, and the line's end:
    OK, or what differs."""
    if isinstance(answer, str):
        return False, answer
    status, kind, size, digest = answer
    if status == 200 and digest == pin:
        return True, f"{size} bytes, OK"
    return False, (f"{size} bytes, served SHA-256 {digest} where the pin is {pin} "
                   f"(HTTP status {status}, content type {kind})")


def report(values, parts):
    """One line per address; 0 when every body matches its pin, else 1."""
    context = ssl.create_default_context()
    all_match = True
    for name, address, pin in addresses(values, parts):
        matches, line = verdict(fetch(address, values["user_agent"], context), pin)
        all_match = all_match and matches
        print(f"{name}: {line}", flush=True)
    return 0 if all_match else 1
