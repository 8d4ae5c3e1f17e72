#!/usr/bin/env python3
"""Writes the update documents the in-process tests judge, signed by the
course author's own tool (author/update_document.py), as a C header: a
document and its keys for each refusal, made afresh when the tool changes.

Usage: make_update_documents.py OUTPUT.h
       make_update_documents.py --public-key    (the signing key's public half)
"""
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "author"))

from cryptography.hazmat.primitives.asymmetric import ec  # noqa: E402

import update_document  # noqa: E402

COURSE = "UpdateCourse"
# Fixed keys, so the header changes only when the tool does.
KEYS = {name: ec.derive_private_key(secret, update_document.CURVE)
        for name, secret in (("SIGNING", 0x5157), ("BACKUP", 0xBAC0), ("STRANGER", 0x0DD), ("NEXT", 0x4E58))}
ISSUED = 1_800_000_000
YEAR = 365 * 24 * 60 * 60
SETUP = ("https://files.example/course/setup.exe", "ab" * 32, 120_000)
ARCHIVES = [("https://files.example/course/python.zip", "cd" * 32, 11_000_000),
            ("https://files.example/course/lessons.zip", "ef" * 32, 4_000)]


def document(key="SIGNING", course=COURSE, sequence=5, expires=ISSUED + YEAR, setup=SETUP, archives=ARCHIVES,
             next_key=None):
    body = update_document.render(course, sequence, "2.0", ISSUED, expires, setup, archives, next_key=next_key,
                                  notes="Lesson 3 fixed.")
    return update_document.sign(body, KEYS[key])


def changed_byte(whole):
    at = whole.index(b"version: 2.0") + len("version: 2.")
    return whole[:at] + b"1" + whole[at + 1:]


def lines_out_of_order():
    body = update_document.render(COURSE, 5, "2.0", ISSUED, ISSUED + YEAR, SETUP, ARCHIVES)
    lines = body.splitlines(keepends=True)
    lines[1], lines[2] = lines[2], lines[1]
    return update_document.sign(b"".join(lines), KEYS["SIGNING"])


DOCUMENTS = {
    "GOOD": document(),
    "CHANGED_BYTE": changed_byte(document()),
    "BY_STRANGER": document(key="STRANGER"),
    "BY_BACKUP": document(key="BACKUP"),
    "OTHER_COURSE": document(course="OtherCourse"),
    "OLDER": document(sequence=3),
    "EXPIRED": document(expires=ISSUED + 60),
    "HUGE_SETUP": document(setup=(SETUP[0], SETUP[1], 16 * 1024 * 1024 + 1)),
    "OUT_OF_ORDER": lines_out_of_order(),
    "NAMES_NEXT_KEY": document(sequence=6, next_key=update_document.public_hex(KEYS["NEXT"])),
    "BY_NEXT": document(key="NEXT", sequence=7),
}


def c_bytes(data):
    return '"' + "".join(chr(byte) if 32 <= byte < 127 and chr(byte) not in '\\"' else f"\\{byte:03o}"
                         for byte in data) + '"'


def main(output):
    lines = ["/* Made by make_update_documents.py: update documents and their keys. */", "#pragma once", "",
             f"static const char UPDATE_TEST_COURSE[] = {c_bytes(COURSE.encode())};",
             f"static const long long UPDATE_TEST_ISSUED = {ISSUED};"]
    lines += [f"static const char {name}_KEY[] = \"{update_document.public_hex(key)}\";" for name, key in KEYS.items()]
    lines += [f"static const char {name}_DOCUMENT[] = {c_bytes(data)};" for name, data in DOCUMENTS.items()]
    text = "\n".join(lines) + "\n"
    with open(output, "w", encoding="ascii") as out:
        out.write(text)


if __name__ == "__main__":
    if sys.argv[1] == "--public-key":
        print(update_document.public_hex(KEYS["SIGNING"]))
    else:
        main(sys.argv[1])
