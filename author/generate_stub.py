#!/usr/bin/env python3
"""Writes, from a course's description (its format: course_description.py),
the constants unit of its installer and the script of the program's
resources: its version resource and, when the course has one, its icon.

Usage: generate_stub.py DESCRIPTION [OUTPUT.cpp] [--files FOLDER]
           [--resource RESOURCES.rc --program NAME.exe] [--depfile FILE]

OUTPUT.cpp is the constants unit; RESOURCES.rc the resource script, NAME.exe
being the program's file name; the depfile lists
every file read, for the build to rerun when one changes.
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from course_description import (FIELDS, FILE_NAME, ICON, DescriptionError, icon_file, parse,  # noqa: E402
                                pin_files, pinned, shown)
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


def render(values, parts, source):
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
    options = parser.parse_args(argv)
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
    except (DescriptionError, OSError) as error:
        print(f"generate_stub.py: {error}")
        return 1
    outputs = []
    if options.output:
        write_if_changed(options.output, render(values, parts, options.description))
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
