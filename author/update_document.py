"""The signed update document an installed course asks for, and the keys it
is signed with: the one format both build-course and the program hold to.

A document is UTF-8 text of "key: value" lines, each ending in LF, in the
order of LINES below; its last line is the signature, ECDSA on P-256 with
SHA-256 over every byte before that line, as r and s (32 bytes each,
big-endian) in lower-case hexadecimal. A public key is the point's X and Y
the same way. A private key is a PEM file (PKCS #8), under a password when
one is given, the first line of a password file.
"""

import datetime
import os
import re
import time

from cryptography.exceptions import InvalidSignature
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, utils

from course_description import LAST_UPDATE_SEQUENCE, VERSION

FORMAT_VERSION = "1"
COURSE = "course"
SEQUENCE = "sequence"
ISSUED = "issued"
EXPIRES = "expires"
SETUP = "setup"
ARCHIVE = "archive"
NOTES = "notes"
SIGNATURE = "signature"
# The program reads no more than this; what it downloads is held to these.
LONGEST_DOCUMENT = 16384
MOST_ARCHIVES = 32
TIME_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
FILE_LINE = r"(https://[^\s/]+/\S*) ([0-9a-f]{64}) (0|[1-9][0-9]{0,9})"
# A P-256 number's bytes; a key, X and Y, and a signature, r and s, are two.
NUMBER_BYTES = 32
KEY = rf"[0-9a-f]{{{4 * NUMBER_BYTES}}}"
TEXT = r"\S(.*\S)?"
TIME = r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z"
# Each line's key, in the document's order: its form, and how few and how
# many times it stands.
LINES = (
    ("quillby_update", FORMAT_VERSION, 1, 1),
    (COURSE, TEXT, 1, 1),
    (SEQUENCE, r"[1-9][0-9]{0,9}", 1, 1),
    ("version", VERSION.pattern, 1, 1),
    (ISSUED, TIME, 1, 1),
    (EXPIRES, TIME, 1, 1),
    (SETUP, FILE_LINE, 1, 1),
    (ARCHIVE, FILE_LINE, 1, MOST_ARCHIVES),
    ("next_key", KEY, 0, 1),
    (NOTES, TEXT, 0, 1),
    (SIGNATURE, KEY, 1, 1),
)
FORMS = {key: form for key, form, _, _ in LINES}
# The largest number a line may give: the update's, or a download's size.
LARGEST = {SEQUENCE: LAST_UPDATE_SEQUENCE, SETUP: 16 * 1024 * 1024, ARCHIVE: 2 * 1024 * 1024 * 1024}
SIGNATURE_LINE = len(f"{SIGNATURE}: ") + 4 * NUMBER_BYTES + 1
CURVE = ec.SECP256R1()
SIGNING = ec.ECDSA(hashes.SHA256())
POINT_PREFIX = b"\x04"  # SEC 1's mark of an uncompressed point


def now():
    """The time a document is issued at: SOURCE_DATE_EPOCH's, when set, so
    that a build can be repeated byte for byte."""
    return int(os.environ.get("SOURCE_DATE_EPOCH", time.time()))


def utc(seconds):
    return datetime.datetime.fromtimestamp(seconds, datetime.timezone.utc).strftime(TIME_FORMAT)


def seconds_of(text):
    return datetime.datetime.strptime(text, TIME_FORMAT).replace(tzinfo=datetime.timezone.utc).timestamp()


def line_value(key, text):
    """KEY's value as its line gives it as TEXT: a number, an (address,
    SHA-256, size) for a download, text otherwise; ValueError says why TEXT
    is not one."""
    match = re.fullmatch(FORMS[key], text)
    if not match or not text.isprintable():
        raise ValueError(f"{key}: {text!r} is not of the form {FORMS[key]}")
    if key in (ISSUED, EXPIRES):
        try:
            seconds_of(text)
        except ValueError:
            raise ValueError(f"{key}: {text} is no time there is") from None
    if key not in LARGEST:
        return text
    number = int(match.group(3) if key in (SETUP, ARCHIVE) else text)
    if number > LARGEST[key]:
        raise ValueError(f"{key}: {number} is more than the {LARGEST[key]} it may be")
    return (match.group(1), match.group(2), number) if key in (SETUP, ARCHIVE) else number


def read(document):
    """The fields of DOCUMENT's lines (archive's a list, the others one value
    each) and None; or those read before a fault, and the fault."""
    if len(document) > LONGEST_DOCUMENT:
        return {}, f"{len(document)} bytes, more than the {LONGEST_DOCUMENT} a document may be"
    try:
        text = document.decode("utf-8")
    except UnicodeDecodeError:
        return {}, "not UTF-8 text"
    if not text.endswith("\n"):
        return {}, "its last line does not end in LF"
    lines, fields, number = text[:-1].split("\n"), {}, 0
    for key, _, fewest, most in LINES:
        values = []
        while number < len(lines) and len(values) < most and lines[number].startswith(f"{key}: "):
            try:
                values.append(line_value(key, lines[number][len(key) + 2:]))
            except ValueError as error:
                return fields, f"line {number + 1}: {error}"
            number += 1
        if len(values) < fewest:
            return fields, f"line {number + 1}: expected {key}:"
        if values:
            fields[key] = values if most > 1 else values[0]
    if number < len(lines):
        return fields, f"line {number + 1}: not a line the document may have there"
    return fields, None


def render(course, sequence, version, issued, expires, setup, archives, next_key=None, notes=None):
    """The document up to its signature, its values in LINES' order: the
    times as seconds since the epoch, each download as (address, SHA-256,
    size), None for an optional line left out."""
    given = (FORMAT_VERSION, course, sequence, version, utc(issued), utc(expires), setup, archives, next_key, notes)
    lines = []
    for (key, _, _, most), value in zip(LINES, given):
        lines += [f"{key}: {' '.join(map(str, one)) if isinstance(one, tuple) else one}\n"
                  for one in (value if most > 1 else [value]) if one is not None]
    return "".join(lines).encode("utf-8")


def sign(body, key):
    """The whole document: BODY and its signature by the private KEY."""
    r, s = utils.decode_dss_signature(key.sign(body, SIGNING))
    return body + f"{SIGNATURE}: {(r.to_bytes(NUMBER_BYTES, 'big') + s.to_bytes(NUMBER_BYTES, 'big')).hex()}\n".encode()


def verify(document, public_hexes):
    """Whether DOCUMENT is well formed and signed by one of the keys."""
    fields, fault = read(document)
    if fault:
        return False
    signature = bytes.fromhex(fields[SIGNATURE])
    der = utils.encode_dss_signature(int.from_bytes(signature[:NUMBER_BYTES], "big"),
                                     int.from_bytes(signature[NUMBER_BYTES:], "big"))
    for public in map(public_key_of, public_hexes):
        try:
            public.verify(der, document[:-SIGNATURE_LINE], SIGNING)
            return True
        except InvalidSignature:
            pass
    return False


def fault(document, public_hexes, course, sequence):
    """Why DOCUMENT is not the update SEQUENCE of the course installed in the
    folder COURSE, signed with one of the keys and still valid; or None."""
    fields, unread = read(document)
    if unread:
        return f"not a well formed update document: {unread}"
    if not verify(document, public_hexes):
        return f"not signed with the update key{'s' if len(public_hexes) > 1 else ''} given"
    if fields[COURSE] != course:
        return f"the update of the course {fields[COURSE]!r}, not of {course!r}"
    if fields[SEQUENCE] != sequence:
        return f"the update {fields[SEQUENCE]}, where the description's is {sequence}"
    if seconds_of(fields[EXPIRES]) <= time.time():
        return f"expired at {fields[EXPIRES]}"
    return None


def public_key_of(public_hex):
    return ec.EllipticCurvePublicKey.from_encoded_point(CURVE, POINT_PREFIX + bytes.fromhex(public_hex))


def public_hex(key):
    """The hexadecimal X and Y of the public KEY, or of a private key's."""
    public = key.public_key() if isinstance(key, ec.EllipticCurvePrivateKey) else key
    return public.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)[1:].hex()


def password(password_file):
    with open(password_file, "rb") as given:
        first = given.read().split(b"\n", 1)[0].rstrip(b"\r")
    if not first:
        raise ValueError(f"{password_file}: its first line, the password, is empty")
    return first


def new_key(path, password_file=None):
    """Makes a private key at PATH, which must not exist yet, readable by its
    owner alone; its public key's hexadecimal."""
    key = ec.generate_private_key(CURVE)
    protection = (serialization.BestAvailableEncryption(password(password_file)) if password_file
                  else serialization.NoEncryption())
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, protection)
    with os.fdopen(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "wb") as out:
        out.write(pem)
    return public_hex(key)


def load_key(path, password_file=None):
    """The private P-256 key in the PEM file PATH; ValueError says why not."""
    with open(path, "rb") as pem:
        data = pem.read()
    try:
        key = serialization.load_pem_private_key(data, password(password_file) if password_file else None)
    except TypeError:
        raise ValueError(f"{path}: the key is under a password and none was given, or under none and one was") from None
    except ValueError:
        raise ValueError(f"{path}: not a private key in PEM, or not under that password") from None
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != CURVE.name:
        raise ValueError(f"{path}: not a P-256 key")
    return key


def load_public(path):
    """The public P-256 key in the PEM file PATH; ValueError says why not."""
    with open(path, "rb") as pem:
        data = pem.read()
    try:
        key = serialization.load_pem_public_key(data)
    except ValueError:
        raise ValueError(f"{path}: not a public key in PEM") from None
    if not isinstance(key, ec.EllipticCurvePublicKey) or key.curve.name != CURVE.name:
        raise ValueError(f"{path}: not a P-256 public key")
    return key
