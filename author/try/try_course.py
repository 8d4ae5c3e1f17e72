#!/usr/bin/env python3
"""Installs a course's setup program under Wine as a learner would, and
passes only when the installed course answers at its course_url: what
build-course --try does with the program it has just written, and what the
demo does with the sample course's.

usage: try_course.py DESCRIPTION PROGRAM --helpers WINDOWS_BUILD_DIR [--files FOLDER]

The program runs as it is, byte for byte, in a throwaway Wine prefix inside
a private network, mount and process namespace: there the description's host
names mean 127.0.0.1, a local HTTPS server answers at the description's own
addresses with the files pinned from the files folder (--files, default: the
description's folder), under a throwaway CA that only that prefix trusts.
WINDOWS_BUILD_DIR is a Windows build tree holding the stand-ins for
PowerShell and trust_ca.exe (HELPER_TARGETS). Everything the
try starts ends with the namespace, and the folder that held the prefix is
removed, on success, on failure and on Ctrl-C. Exit status 0 when the course
answered with HTTP 200, 130 when interrupted, 1 otherwise.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.dont_write_bytecode = True
TRY = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(TRY))

import check_served  # noqa: E402 (beside this folder)
import course_description  # noqa: E402

INSIDE = os.path.join(TRY, "install_in_namespace.py")
HELPER_TARGETS = ["standin_powershell", "trust_ca"]
# Once the namespace has ended nothing holds the folder; a few tries cover
# the moment its processes take to go.
REMOVAL_ATTEMPTS = 20
INTERRUPTED = 130  # the status a shell gives a command ended by Ctrl-C


def namespaces():
    """The unshare options of the try's namespaces: network, mount and
    process ones, in a user namespace of its own for a user other than root,
    who is root in there and nowhere else."""
    own_user = ["--user", "--map-root-user"] if os.geteuid() != 0 else []
    return own_user + ["--net", "--mount", "--pid", "--fork", "--kill-child", "--mount-proc"]


def served_files(values, parts, files):
    """Each address the program fetches, in order, with the file it is served
    from: the very file its pin is computed from, or for a pin given as a
    digest the one of the files folder named by the address's last segment.
    VALUES and PARTS are as described, pins as written."""
    rows = check_served.addresses(values, [(name, pin) for name, pin, _ in parts])
    return [(address, course_description.pin_file(pin, files)
             or os.path.join(files, urllib.parse.urlsplit(address).path.rsplit("/", 1)[-1]))
            for _, address, pin in rows]


def remove(folder):
    for _ in range(REMOVAL_ATTEMPTS):
        shutil.rmtree(folder, ignore_errors=True)
        if not os.path.exists(folder):
            return
        time.sleep(0.25)
    print(f"try: could not remove {folder}", flush=True)


def try_program(program, values, parts, files, helpers):
    """Installs PROGRAM under Wine and waits for its course; the exit status.
    VALUES and PARTS are as described, pins as written."""
    work = tempfile.mkdtemp(prefix="quillby-try-")
    command = ["unshare"] + namespaces() + [
        sys.executable, INSIDE, "--work", work, "--program", os.path.abspath(program),
        "--helpers", os.path.abspath(helpers), "--course-url", values["course_url"]]
    for address, file in served_files(values, parts, files):
        command += ["--serve", address, file]
    print(f"Trying {program} under Wine, as a learner would install it", flush=True)
    started = time.monotonic()
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL)
        try:
            status = process.wait()
        except KeyboardInterrupt:
            # The namespace's first process was interrupted too and stops what
            # it started; should it not end, ending it ends the namespace.
            try:
                process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
            status = INTERRUPTED
    finally:
        remove(work)
    if status == INTERRUPTED:
        print("The try was interrupted; it left nothing running.", flush=True)
        return INTERRUPTED
    print(f"The try took {time.monotonic() - started:.1f} s", flush=True)
    return 0 if status == 0 else 1


def main(argv):
    parser = argparse.ArgumentParser(prog="try_course.py", description="Installs a course's program under Wine.")
    parser.add_argument("description")
    parser.add_argument("program")
    parser.add_argument("--helpers", required=True, help="the Windows build tree with the stand-ins and trust_ca")
    parser.add_argument("--files", help="the folder the pins come from (default: the description's folder)")
    options = parser.parse_args(argv)
    files = os.path.abspath(options.files or os.path.dirname(os.path.abspath(options.description)))
    try:
        values, _, parts = course_description.parse(options.description)
    except (course_description.DescriptionError, OSError) as error:
        print(f"try_course.py: {error}")
        return 1
    return try_program(options.program, values, parts, files, options.helpers)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
