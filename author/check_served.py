"""Fetches every address a course's setup program will fetch, as it will
(HTTPS, the course's user agent, redirects only to https), and compares each
body's SHA-256 with the pin the build puts in the program, or with what an
update document gives: the course author's last check after uploading.
Trusts the certificate authorities of the SSL context it is given."""

import hashlib
import http.client
import time
import urllib.parse

REDIRECTS_FOLLOWED = 10
# A server that stops sending is given up on, as the program does; a whole
# fetch is bounded too, so that a server dripping bytes cannot hold the check.
READ_TIMEOUT_SECONDS = 120
FETCH_LIMIT_SECONDS = 30 * 60
BLOCK = 1 << 16
# WinINet's longest address (INTERNET_MAX_URL_LENGTH): the program cannot
# follow a longer one to its end.
LONGEST_ADDRESS = 2083


def addresses(values, parts):
    """(name, address, pin) in the order the program fetches them, each
    named as the program's messages name it."""
    rows = [(values["runtime_label"], values["runtime_url"], values["runtime_sha256"])]
    return rows + [(name, f"{values['payload_base_url']}/{name}", pin) for name, pin in parts]


def unfollowable(address):
    """Why the program could not fetch ADDRESS, or None."""
    if len(address) > LONGEST_ADDRESS:
        return f"the address is {len(address)} characters long, and the program follows at most {LONGEST_ADDRESS}"
    try:
        parts = urllib.parse.urlsplit(address)
        parts.port  # an invalid port only shows when asked for
    except ValueError as error:
        return f"malformed address {address}: {error}"
    if parts.scheme != "https":
        return f"redirected to {address}, which is not https"
    if not parts.hostname:
        return f"malformed address {address}: no host"
    return None


def read_body(sock, response, deadline, limit, keep):
    """(size, SHA-256, the body or, when KEEP is None, b""), or why it is not
    the body the server announced or is more than KEEP bytes. Reads what
    each receive brings, not whole blocks, so that a server dripping bytes
    meets the deadline."""
    encoding = response.getheader("Content-Encoding", "identity")
    if encoding.lower() != "identity":
        return (f"served with Content-Encoding {encoding}, which the program does not ask for or decode, "
                f"so the pin can never match")
    announced = response.getheader("Content-Length")
    announced = int(announced) if announced and announced.isdigit() else None
    digest, size, kept = hashlib.sha256(), 0, bytearray()
    try:
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                return f"still sending after {limit} seconds"
            sock.settimeout(min(READ_TIMEOUT_SECONDS, remaining))
            block = response.read1(BLOCK)
            if not block:
                break
            digest.update(block)
            size += len(block)
            if keep is not None:
                if size > keep:
                    return f"more than {keep} bytes"
                kept += block
    except (OSError, http.client.HTTPException):
        if time.monotonic() >= deadline:
            return f"still sending after {limit} seconds"
        if announced is None:
            raise
    if announced is not None and size < announced:
        return f"cut short: {size} bytes received of the {announced} announced"
    return size, digest.hexdigest(), bytes(kept)


def fetch(address, user_agent, context, limit=FETCH_LIMIT_SECONDS, keep=None):
    """What the server answers at ADDRESS after the redirects it asks for:
    (status, content type, size, SHA-256 of the body, the body when KEEP
    gives its most bytes, else b""), or the reason nothing whole was
    fetched."""
    deadline = time.monotonic() + limit
    for _ in range(REDIRECTS_FOLLOWED + 1):
        refused = unfollowable(address)
        if refused:
            return refused
        parts = urllib.parse.urlsplit(address)
        connection = http.client.HTTPSConnection(parts.hostname, parts.port, timeout=READ_TIMEOUT_SECONDS,
                                                 context=context)
        try:
            connection.request("GET", urllib.parse.urlunsplit(("", "", parts.path or "/", parts.query, "")),
                               headers={"User-Agent": user_agent, "Cache-Control": "no-cache", "Pragma": "no-cache"})
            sock = connection.sock  # the response keeps it, the connection lets go of it
            response = connection.getresponse()
            location = response.getheader("Location")
            if response.status in (301, 302, 303, 307, 308) and location:
                address = urllib.parse.urljoin(address, location)
                continue
            body = read_body(sock, response, deadline, limit, keep)
            if isinstance(body, str):
                return body
            return (response.status, response.getheader("Content-Type", "none given")) + body
        except (OSError, http.client.HTTPException, ValueError) as error:
            return f"not fetched: {error}"
        finally:
            connection.close()
    return f"more than {REDIRECTS_FOLLOWED} redirects"


def verdict(answer, pin, announced=None):
    """Whether the program would accept what was served, and the line's end:
    OK, or what differs. ANNOUNCED is the size an update document gives."""
    if isinstance(answer, str):
        return False, answer
    status, kind, size, digest, _ = answer
    if status == 200 and digest == pin and announced in (None, size):
        return True, f"{size} bytes, OK"
    wanted = f"the pin is {pin}" if announced is None else f"the update document gives {announced} bytes, SHA-256 {pin}"
    return False, (f"{size} bytes, served SHA-256 {digest} where {wanted} "
                   f"(HTTP status {status}, content type {kind})")


def check(rows, user_agent, context, answers):
    """One line per row, (name, address, SHA-256, size or None); whether
    every body matches. ANSWERS keeps what each address served, so that an
    address named twice is fetched once."""
    all_match = True
    for name, address, pin, announced in rows:
        if address not in answers:
            answers[address] = fetch(address, user_agent, context)
        matches, line = verdict(answers[address], pin, announced)
        all_match = all_match and matches
        print(f"{name}: {line}" if matches else f"{name}: {address}: {line}", flush=True)
    return all_match
