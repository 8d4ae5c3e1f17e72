#!/usr/bin/env python3
"""Writes the constants unit of a course's installer from its description.

A course description is a text file of "key: value" lines ('#' starts a
comment line). Every key but "part" appears exactly once:

    title: Quillby - setup               first banner line
    tagline: This installs ...           second banner line
    install_folder: Quillby              folder under %LOCALAPPDATA%
    user_agent: QuillbySetup/0.1         HTTP user agent
    runtime_url: https://...zip          embeddable Python runtime archive
    runtime_sha256: <64 hex> | file:PATH pin, or the file to compute it from
    runtime_label: the Python runtime    how messages name the runtime
    payload_base_url: https://host/files where the parts are, no trailing /
    launcher_name: start-course.bat      launcher script in the install folder
    shortcut_name: Course.lnk            shortcut on the desktop
    course_url: http://127.0.0.1:8793/   what the launcher opens
    part: NAME <64 hex> | file:PATH      one per payload archive, in order

A relative file: path is taken from the folder given with --files, or else
from the description's folder. Any fault is reported with the line and field
it concerns, and nothing is written.

Usage: generate_stub.py DESCRIPTION OUTPUT.cpp [--files FOLDER]
"""

import hashlib
import os
import re
import sys

FIELDS = {
    "title": "APP_TITLE",
    "tagline": "APP_TAGLINE",
    "install_folder": "APP_DIR_NAME",
    "user_agent": "USER_AGENT",
    "runtime_url": "PYTHON_URL",
    "runtime_sha256": "PYTHON_SHA256",
    "runtime_label": "PYTHON_LABEL",
    "payload_base_url": "PAYLOAD_BASE_URL",
    "launcher_name": "LAUNCHER_NAME",
    "shortcut_name": "SHORTCUT_NAME",
    "course_url": "COURSE_URL",
}
PIN = re.compile(r"[0-9a-f]{64}")
# Names end up in paths, addresses and between quotes in command lines; the
# folder and the shortcut, which the learner sees, may hold blanks.
FILE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*")
SHOWN_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9 ._-]*(?<! )")


class DescriptionError(Exception):
    pass


def pin_of(value, folder, where):
    if value.startswith("file:"):
        path = os.path.join(folder, value[len("file:"):])
        try:
            with open(path, "rb") as archive:
                return hashlib.file_digest(archive, "sha256").hexdigest()
        except OSError as error:
            raise DescriptionError(f"{where}: cannot read {path}: {error.strerror}")
    if not PIN.fullmatch(value):
        raise DescriptionError(f"{where}: a pin is 64 lower-case hexadecimal characters, not {value!r}")
    return value


def check(values, parts, where_of):
    for key in FIELDS:
        if key not in values:
            raise DescriptionError(f"missing field {key}")
    for key in ("runtime_url", "payload_base_url"):
        if not re.fullmatch(r"https://[^\s/'\"]+(/\S*)?", values[key]):
            raise DescriptionError(f"{where_of[key]}: {key} must be an https:// address")
    if values["payload_base_url"].endswith("/"):
        raise DescriptionError(f"{where_of['payload_base_url']}: payload_base_url must not end in /")
    if not re.fullmatch(r"http://(127\.0\.0\.1|localhost):\d+/\S*", values["course_url"]):
        raise DescriptionError(f"{where_of['course_url']}: course_url must be a local http:// address with a port")
    for key, form in (("install_folder", SHOWN_NAME), ("launcher_name", FILE_NAME), ("shortcut_name", SHOWN_NAME)):
        if not form.fullmatch(values[key]):
            raise DescriptionError(f"{where_of[key]}: {key} must be a plain file name")
    if not values["launcher_name"].lower().endswith(".bat"):
        raise DescriptionError(f"{where_of['launcher_name']}: launcher_name must end in .bat")
    if not values["shortcut_name"].lower().endswith(".lnk"):
        raise DescriptionError(f"{where_of['shortcut_name']}: shortcut_name must end in .lnk")
    if not parts:
        raise DescriptionError("missing field part: a course has at least one payload archive")
    names = [name for name, _ in parts]
    if len(set(names)) != len(names):
        raise DescriptionError("part: two parts have the same name")


def parse(path, folder):
    values, where_of, parts = {}, {}, []
    with open(path, encoding="utf-8") as description:
        for number, line in enumerate(description, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            where = f"{path}:{number}"
            key, colon, value = line.partition(":")
            key, value = key.strip(), value.strip()
            if not colon or not value:
                raise DescriptionError(f"{where}: expected 'key: value'")
            if key == "part":
                fields = value.split()
                if len(fields) != 2 or not FILE_NAME.fullmatch(fields[0]):
                    raise DescriptionError(f"{where}: part takes a plain file name and a pin")
                parts.append((fields[0], pin_of(fields[1], folder, where)))
            elif key in FIELDS:
                if key in values:
                    raise DescriptionError(f"{where}: {key} given twice")
                values[key] = value
                where_of[key] = where
            else:
                raise DescriptionError(f"{where}: unknown field {key}")
    check(values, parts, where_of)
    values["runtime_sha256"] = pin_of(values["runtime_sha256"], folder, where_of["runtime_sha256"])
    return values, parts


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


def render(values, parts, source):
    lines = [
        f"/* The constants of one course's installer, generated from {os.path.basename(source)}",
        " * by tools/generate_stub.py: edit the description, not this file. */",
        '#include "manifest.h"',
        "",
    ]
    for key, name in FIELDS.items():
        lines.append(f"extern const char {name}[] = {c_string(values[key])};")
    lines += ["", "extern const payload_part PARTS[] = {"]
    lines += [f"    {{{c_string(name)}, {c_string(pin)}}}," for name, pin in parts]
    lines += ["};", "extern const size_t PARTS_COUNT = sizeof PARTS / sizeof PARTS[0];", ""]
    return "\n".join(lines)


def main(argv):
    if len(argv) == 5 and argv[3] == "--files":
        folder = argv[4]
    elif len(argv) == 3:
        folder = os.path.dirname(os.path.abspath(argv[1]))
    else:
        print("usage: generate_stub.py DESCRIPTION OUTPUT.cpp [--files FOLDER]")
        return 2
    try:
        values, parts = parse(argv[1], folder)
    except (DescriptionError, OSError) as error:
        print(f"generate_stub.py: {error}")
        return 1
    text = render(values, parts, argv[1])
    # Rewrite only on change, so an unchanged course does not relink.
    try:
        with open(argv[2], encoding="utf-8") as existing:
            if existing.read() == text:
                return 0
    except OSError:
        pass
    with open(argv[2], "w", encoding="utf-8") as output:
        output.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
