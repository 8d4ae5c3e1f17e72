#!/usr/bin/env python3
"""Publishes the end-to-end course's update on the tests' file server, as
its author would: version 2's setup and a document naming it and every
archive it fetches, signed with the test key (make_update_documents.py);
and beside it the documents an attacker would serve in its place: one with
a byte changed, version 1's replayed, and a true one whose setup's address
serves another release's.

Usage: publish_test_update.py SERVED VERSION_1.exe VERSION_2.exe ARCHIVE...
SERVED is the folder served at BASE below, where the documents and setups
go beside the archives; each ARCHIVE a file name there, the runtime first.
"""
import hashlib
import os
import shutil
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from make_update_documents import KEYS, YEAR, update_document  # noqa: E402

BASE = "https://localhost:48443/files"
COURSE = "E2ECourse"


def download(folder, address_folder, name):
    with open(os.path.join(folder, name), "rb") as data:
        body = data.read()
    return (f"{address_folder}/{name}", hashlib.sha256(body).hexdigest(), len(body))


def publish(updates, name, sequence, version, setup, archives):
    issued = update_document.now()
    body = update_document.render(COURSE, sequence, version, issued, issued + YEAR, setup, archives)
    whole = update_document.sign(body, KEYS["SIGNING"])
    with open(os.path.join(updates, name), "wb") as out:
        out.write(whole)
    return whole


def main(served, first, second, runtime, *parts):
    updates = served
    for program in (first, second):
        shutil.copyfile(program, os.path.join(updates, os.path.basename(program)))
    setups = [download(updates, BASE, os.path.basename(program)) for program in (first, second)]
    archives = [download(served, BASE, name) for name in (runtime,) + parts]
    publish(updates, "e2e-update-2.txt", 2, "2.6", setups[1], archives)
    publish(updates, "e2e-update-1.txt", 1, "2.5.1", setups[0], archives[:4])
    # Version 2's setup as its document names it, but version 1's bytes
    # served at its address.
    shutil.copyfile(first, os.path.join(updates, "e2e-mixed-setup.exe"))
    mixed_setup = (f"{BASE}/e2e-mixed-setup.exe",) + setups[1][1:]
    publish(updates, "e2e-update-mixed.txt", 3, "2.7", mixed_setup, archives)
    whole = publish(updates, "e2e-update-tampered.txt", 3, "2.7", setups[1], archives)
    at = whole.index(b"version: 2.7") + len("version: 2.")
    with open(os.path.join(updates, "e2e-update-tampered.txt"), "wb") as out:
        out.write(whole[:at] + b"8" + whole[at + 1:])


if __name__ == "__main__":
    main(*sys.argv[1:])
