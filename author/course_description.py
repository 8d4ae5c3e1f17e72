"""The course description: its format, its checks and its pins, for every
tool that reads one (generate_stub.py, build-course, its checks and its try).

A course description is a text file of "key: value" lines ('#' starts a
comment line). Every key but "part" appears at most once; all but the last
four are required:

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
    version: 1.2.0                       file and product version: 1 to 4 numbers
                                         up to 65535 (default 1.0.0)
    product_name: Quillby                product name (default: install_folder)
    description: Quillby course setup    file description (default: title)
    publisher: Quillby                   company name (default: none given)

The last four are what Windows shows in the program's file properties.

A relative file: path is taken from the folder given with --files, or else
from the description's folder. Any fault is reported with the line and field
it concerns, and nothing is written.
"""

import hashlib
import os
import re
import unicodedata


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
# The version resource's fields, and the required field each one defaults to
# (None: a fixed default, or left out of the resource).
VERSION_FIELDS = {"version": None, "product_name": "install_folder", "description": "title", "publisher": None}
DEFAULT_VERSION = "1.0.0"
PIN = re.compile(r"[0-9a-f]{64}")
VERSION = re.compile(r"\d{1,5}(\.\d{1,5}){0,3}")
# Names end up in paths, addresses and between quotes in command lines; the
# folder and the shortcut, which the learner sees, may hold blanks and the
# letters of any script (the program runs in the UTF-8 code page), the
# others are in addresses too and stay ASCII.
FILE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*")
SHOWN_PUNCTUATION = " ._-"
# Windows keeps these device names for itself, alone or before a dot.
RESERVED_NAME = re.compile(r"(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\..*)?", re.IGNORECASE)
CHARACTERS_WINDOWS_REFUSES = '<>:"/\\|?*'
FILE_PIN = "file:"


class DescriptionError(Exception):
    pass


def check_pin(value, where, field):
    if not value.startswith(FILE_PIN) and not PIN.fullmatch(value):
        raise DescriptionError(f"{where}: {field}: a pin is 64 lower-case hexadecimal characters, not {value!r}")


def windows_name_fault(name):
    """Why Windows would not hold NAME as a file or folder name, or None."""
    if RESERVED_NAME.fullmatch(name):
        return f"{name!r} is a device name Windows reserves"
    for character in name:
        if character in CHARACTERS_WINDOWS_REFUSES or unicodedata.category(character) == "Cc":
            return f"{name!r} holds {character!r}, which Windows does not allow in a name"
    if name.endswith((".", " ")):
        return f"{name!r} ends in a dot or a blank, which Windows drops"
    return None


def is_shown_name(name):
    return name[:1].isalnum() and all(
        unicodedata.category(character)[0] in "LMN" or character in SHOWN_PUNCTUATION for character in name)


def check_name(name, where, field, plain):
    fault = windows_name_fault(name)
    if fault:
        raise DescriptionError(f"{where}: {field}: {fault}")
    if not plain(name):
        raise DescriptionError(f"{where}: {field} must be a plain file name")


def check(path, values, parts, where_of):
    for key in FIELDS:
        if key not in values:
            raise DescriptionError(f"{path}: missing field {key}")
    for key in ("runtime_url", "payload_base_url"):
        if not re.fullmatch(r"https://[^\s/'\"]+(/\S*)?", values[key]):
            raise DescriptionError(f"{where_of[key]}: {key} must be an https:// address")
    if values["payload_base_url"].endswith("/"):
        raise DescriptionError(f"{where_of['payload_base_url']}: payload_base_url must not end in /")
    if not re.fullmatch(r"http://(127\.0\.0\.1|localhost):\d+/\S*", values["course_url"]):
        raise DescriptionError(f"{where_of['course_url']}: course_url must be a local http:// address with a port")
    for key, plain in (("install_folder", is_shown_name), ("launcher_name", FILE_NAME.fullmatch),
                       ("shortcut_name", is_shown_name)):
        check_name(values[key], where_of[key], key, plain)
    if not values["launcher_name"].lower().endswith(".bat"):
        raise DescriptionError(f"{where_of['launcher_name']}: launcher_name must end in .bat")
    if not values["shortcut_name"].lower().endswith(".lnk"):
        raise DescriptionError(f"{where_of['shortcut_name']}: shortcut_name must end in .lnk")
    for name, _, where in parts:
        # Windows PowerShell's Expand-Archive unpacks nothing else.
        if not name.lower().endswith(".zip"):
            raise DescriptionError(f"{where}: part {name}: a part's name must end in .zip")
    check_pin(values["runtime_sha256"], where_of["runtime_sha256"], "runtime_sha256")
    if "version" in values:
        numbers = values["version"].split(".")
        if not VERSION.fullmatch(values["version"]) or any(int(number) > 65535 for number in numbers):
            raise DescriptionError(
                f"{where_of['version']}: version must be 1 to 4 numbers from 0 to 65535 joined by dots")
    for key in ("product_name", "description", "publisher"):
        if key in values and not values[key].isprintable():
            raise DescriptionError(f"{where_of[key]}: {key} must be printable text")
    if not parts:
        raise DescriptionError(f"{path}: missing field part: a course has at least one payload archive")
    names = [name for name, _, _ in parts]
    if len(set(names)) != len(names):
        raise DescriptionError(f"{path}: part: two parts have the same name")


def parse(path):
    """The description's values, the place ("path:line") of each, and its parts
    as (name, pin or file:PATH, place); every fault but an unreadable pin file
    is found here."""
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
                if len(fields) != 2:
                    raise DescriptionError(f"{where}: part takes a plain file name and a pin")
                check_name(fields[0], where, f"part {fields[0]}", FILE_NAME.fullmatch)
                check_pin(fields[1], where, f"part {fields[0]}")
                parts.append((fields[0], fields[1], where))
            elif key in FIELDS or key in VERSION_FIELDS:
                if key in values:
                    raise DescriptionError(f"{where}: {key} given twice")
                values[key] = value
                where_of[key] = where
            else:
                raise DescriptionError(f"{where}: unknown field {key}")
    check(path, values, parts, where_of)
    return values, where_of, parts


def pin_file(value, folder):
    """The file a file: pin is computed from, or None for a digest."""
    return os.path.join(folder, value[len(FILE_PIN):]) if value.startswith(FILE_PIN) else None


def pin_files(values, where_of, parts, folder):
    """Every file a pin is computed from, as (path, place), runtime first."""
    pins = [(values["runtime_sha256"], where_of["runtime_sha256"])] + [(pin, where) for _, pin, where in parts]
    return [(pin_file(pin, folder), where) for pin, where in pins if pin.startswith(FILE_PIN)]


def pin_of(value, folder, where):
    path = pin_file(value, folder)
    if not path:
        return value
    try:
        with open(path, "rb") as archive:
            return hashlib.file_digest(archive, "sha256").hexdigest()
    except OSError as error:
        raise DescriptionError(f"{where}: cannot read {path}: {error.strerror}")


def pinned(values, where_of, parts, folder):
    """The values with the runtime's pin, and the parts as (name, pin), every
    file: pin computed from its file."""
    runtime = pin_of(values["runtime_sha256"], folder, where_of["runtime_sha256"])
    return dict(values, runtime_sha256=runtime), [(name, pin_of(pin, folder, where)) for name, pin, where in parts]


def shown(values):
    """The version resource's values, defaults filled in."""
    result = {key: values.get(key, values.get(fallback)) for key, fallback in VERSION_FIELDS.items()}
    result["version"] = result["version"] or DEFAULT_VERSION
    return result
