#!/usr/bin/env python3
"""Writes, from a course's description (its format: course_description.py),
the constants unit of its installer and the script of the program's
resources: its version resource and, when the course has one, its icon.

Usage: generate_stub.py DESCRIPTION [OUTPUT.cpp] [--files FOLDER]
           [--resource RESOURCES.rc --program NAME.exe] [--depfile FILE]
           [--update-key HEX [--update-key HEX]]

OUTPUT.cpp is the constants unit; RESOURCES.rc the resource script, NAME.exe
being the program's file name; the depfile lists
every file read, for the build to rerun when one changes. Each --update-key
is a public key the course's update documents may be signed with, given
exactly when the description names an updates address.
"""

import argparse
import os
import re
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from course_description import (FIELDS, FILE_NAME, ICON, UPDATES, DescriptionError, icon_file,  # noqa: E402
                                parse, pin_files, pinned, shown, update_sequence)
from course_rules import PACKAGES_FOLDER  # noqa: E402


def c_string(text):
    out = '"'
    for byte in text.encode("utf-8"):
        char = chr(byte)
        if char in '\\"':
            out += "\\" + char
        elif 32 <= byte < 127:
            out += char
        else:
            out += f'\\{byte:03o}'
    return out + '"'


def rc_string(text):
    # The resource compiler doubles a quote inside a string; the script
    # declares UTF-8, so other characters go as they are.
    return '"' + text.replace("\\", "\\\\").replace('"', '""') + '"'


# The version resource's values that the program itself needs too.
SHOWN_CONSTANTS = {"product_name": "APP_PRODUCT_NAME", "version": "APP_VERSION", "publisher": "APP_PUBLISHER"}


# The program holds this many update keys: the one that signs and a backup.
UPDATE_KEY_SLOTS = 2
UPDATE_KEY = re.compile(r"[0-9a-f]{128}")


def render(values, parts, source, update_keys=()):
    lines = [
        f"/* The constants of one course's installer, generated from {os.path.basename(source)}",
        " * by author/generate_stub.py: edit the description, not this file. */",
        '#include "common/manifest.h"',
        "",
    ]
    for key, name in FIELDS.items():
        lines.append(f"extern const char {name}[] = {c_string(values[key])};")
    version = shown(values)
    for key, name in SHOWN_CONSTANTS.items():
        lines.append(f"extern const char {name}[] = {c_string(version[key] or '')};")
    lines.append(f"extern const int COURSE_HAS_ICON = {int(ICON in values)};")
    lines.append(f"extern const char PACKAGES_FOLDER[] = {c_string(PACKAGES_FOLDER)};")
    lines.append(f"extern const char UPDATES_URL[] = {c_string(values.get(UPDATES, ''))};")
    lines.append(f"extern const unsigned long UPDATE_SEQUENCE = {update_sequence(values)};")
    slots = list(update_keys) + [""] * (UPDATE_KEY_SLOTS - len(update_keys))
    lines.append(f"extern const char UPDATE_KEYS[UPDATE_KEY_SLOTS][UPDATE_KEY_TEXT] = "
                 f"{{{', '.join(map(c_string, slots))}}};")
    lines += ["", "extern const payload_part PARTS[] = {"]
    lines += [f"    {{{c_string(name)}, {c_string(pin)}}}," for name, pin in parts]
    lines += ["};", "extern const size_t PARTS_COUNT = sizeof PARTS / sizeof PARTS[0];", ""]
    return "\n".join(lines)


def render_resource(values, program, source, icon):
    version = shown(values)
    numbers = ",".join(str(int(number)) for number in (version["version"].split(".") + ["0"] * 3)[:4])
    strings = [
        ("CompanyName", version["publisher"]),
        ("FileDescription", version["description"]),
        ("FileVersion", version["version"]),
        ("InternalName", program[:-len(".exe")]),
        ("OriginalFilename", program),
        ("ProductName", version["product_name"]),
        ("ProductVersion", version["version"]),
    ]
    lines = [
        f"// The resources of {program}, generated from {os.path.basename(source)}",
        "// by author/generate_stub.py: what Windows shows of the file, its icon and",
        "// its properties.",
        "#pragma code_page(65001)",
        "#include <winver.h>",
        "",
    ]
    # The first icon in the file is the one Explorer shows for it.
    if icon:
        lines += [f"1 ICON {rc_string(icon)}", ""]
    lines += [
        "VS_VERSION_INFO VERSIONINFO",
        f"FILEVERSION {numbers}",
        f"PRODUCTVERSION {numbers}",
        "FILEFLAGSMASK VS_FFI_FILEFLAGSMASK",
        "FILEFLAGS 0",
        "FILEOS VOS_NT_WINDOWS32",
        "FILETYPE VFT_APP",
        "FILESUBTYPE VFT2_UNKNOWN",
        "BEGIN",
        '  BLOCK "StringFileInfo"',
        "  BEGIN",
        # US English in Unicode, as the Translation entry below says.
        '    BLOCK "040904B0"',
        "    BEGIN",
    ]
    lines += [f'      VALUE "{key}", {rc_string(value)}' for key, value in strings if value]
    lines += [
        "    END",
        "  END",
        '  BLOCK "VarFileInfo"',
        "  BEGIN",
        '    VALUE "Translation", 0x409, 1200',
        "  END",
        "END",
        "",
    ]
    return "\n".join(lines)


def depfile_path(path):
    return os.path.abspath(path).replace("$", "$$").replace("#", "\\#").replace(" ", "\\ ")


def write_if_changed(path, text):
    # Rewrite only on change, so an unchanged course does not relink.
    try:
        with open(path, encoding="utf-8") as existing:
            if existing.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="utf-8") as output:
        output.write(text)


def arguments(argv):
    parser = argparse.ArgumentParser(prog="generate_stub.py",
                                     description="A course description to its installer's constants.")
    parser.add_argument("description")
    parser.add_argument("output", nargs="?", help="the constants unit to write")
    parser.add_argument("--files", help="where file: pins are found (default: the description's folder)")
    parser.add_argument("--resource", help="the resource script to write: version resource and icon")
    parser.add_argument("--program", help="the program's file name, NAME.exe, for the version resource")
    parser.add_argument("--depfile", help="the dependency file to write")
    parser.add_argument("--update-key", action="append", default=[], metavar="HEX",
                        help="a public key the course's updates are signed with: X and Y of the P-256 point, "
                             "128 lower-case hexadecimal digits (at most two: the signing key, then its backup)")
    options = parser.parse_args(argv)
    if len(options.update_key) > UPDATE_KEY_SLOTS or not all(map(UPDATE_KEY.fullmatch, options.update_key)):
        parser.error(f"--update-key takes 128 lower-case hexadecimal digits, at most {UPDATE_KEY_SLOTS} times")
    if not options.output and not options.resource:
        parser.error("give OUTPUT.cpp, --resource VERSION.rc, or both")
    if bool(options.resource) != bool(options.program):
        parser.error("--resource and --program go together")
    if options.program and not (FILE_NAME.fullmatch(options.program) and options.program.endswith(".exe")):
        parser.error(f"--program takes a plain file name ending in .exe, not {options.program!r}")
    return options


def main(argv):
    options = arguments(argv)
    folder = options.files or os.path.dirname(os.path.abspath(options.description))
    try:
        described = parse(options.description)
        values, parts = pinned(*described, folder)
        if bool(options.update_key) != (UPDATES in values):
            raise DescriptionError(f"{options.description}: {UPDATES} and an update key go together: "
                                   "the course asks for documents it can check, and only then")
    except (DescriptionError, OSError) as error:
        print(f"generate_stub.py: {error}")
        return 1
    outputs = []
    if options.output:
        write_if_changed(options.output, render(values, parts, options.description, options.update_key))
        outputs.append(options.output)
    if options.resource:
        write_if_changed(options.resource, render_resource(values, options.program, options.description,
                                                           icon_file(options.description, values)))
        outputs.append(options.resource)
    if options.depfile:
        read = [options.description] + [path for path, _ in pin_files(*described, folder)]
        read += [icon_file(options.description, values)] if ICON in values else []
        write_if_changed(options.depfile, " ".join(map(depfile_path, outputs)) + ": "
                         + " ".join(map(depfile_path, read)) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
