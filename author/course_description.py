"""The course description: its format, its checks and its pins, for every
tool that reads one (generate_stub.py, build-course, its checks and its try).

A course description is a UTF-8 text file of "key: value" lines ('#' starts
a comment line). Its fields are FIELD_TABLE below, which build-course --help
lists: every key but "part" appears at most once, and the required ones must.
A relative file: path is taken from the folder given with --files, or else
from the description's folder. Any fault is reported with the line and field
it concerns, and nothing is written.
"""

import difflib
import hashlib
import os
import re
import unicodedata


REQUIRED = "required"
PART = "part"
ICON = "icon"
UPDATES = "updates"
UPDATE_SEQUENCE = "update_sequence"
# The embeddable Python the installer's path file is written for and the
# course's packages are resolved for, and its official archive.
RUNTIME_PYTHON = "3.12.10"
OFFICIAL_RUNTIME_URL = f"https://www.python.org/ftp/python/{RUNTIME_PYTHON}/python-{RUNTIME_PYTHON}-embed-amd64.zip"
# The one table the format is defined by: each field's name, the installer's
# constant it becomes (None: none of its own), its default (REQUIRED, None
# for none, or another field's name for that field's value), what it means
# and an example.
FIELD_TABLE = (
    ("title", "APP_TITLE", REQUIRED, "the first line the setup prints", "Lantern field notes - setup"),
    ("tagline", "APP_TAGLINE", REQUIRED, "the second line the setup prints", "This installs the Lantern field notes."),
    ("install_folder", "APP_DIR_NAME", REQUIRED, "the folder under %LOCALAPPDATA% that the course installs into",
     "Lantern"),
    ("user_agent", "USER_AGENT", REQUIRED, "the HTTP user agent of the setup's downloads", "LanternSetup/1"),
    ("runtime_url", "PYTHON_URL", REQUIRED, "the https:// address of the embeddable Python runtime's archive",
     OFFICIAL_RUNTIME_URL),
    ("runtime_sha256", "PYTHON_SHA256", REQUIRED,
     "its pin: 64 lower-case hexadecimal digits, or file:NAME to compute it from NAME in the files folder",
     "file:" + OFFICIAL_RUNTIME_URL.rsplit("/", 1)[1]),
    ("runtime_label", "PYTHON_LABEL", REQUIRED, "how the setup's messages name the runtime", "the Python runtime"),
    ("payload_base_url", "PAYLOAD_BASE_URL", REQUIRED, "the https:// address the parts are served under, no / at "
     "its end", "https://files.example.org/lantern"),
    ("launcher_name", "LAUNCHER_NAME", REQUIRED, "the launcher script in the install folder, NAME.bat",
     "start-lantern.bat"),
    ("shortcut_name", "SHORTCUT_NAME", REQUIRED, "the shortcut on the desktop, NAME.lnk", "Lantern.lnk"),
    ("course_url", "COURSE_URL", REQUIRED, "the local http:// address server.py answers at, which the launcher "
     "opens", "http://127.0.0.1:8793/"),
    (PART, "PARTS", REQUIRED, "a payload archive: NAME.zip and its pin (as runtime_sha256's); at least one, in the "
     "order they unpack into the install folder", "lantern-app.zip file:lantern-app.zip"),
    ("version", None, "1.0.0", "the file and product version Windows shows: 1 to 4 numbers up to 65535", "1.2.0"),
    ("product_name", None, "install_folder", "the product name Windows shows", "Lantern field notes"),
    ("description", None, "title", "the file description Windows shows", "Lantern field notes setup"),
    ("publisher", None, None, "the company name Windows shows", "The Lantern Society"),
    (ICON, None, None, "a .ico file next to the description: the program's, the shortcut's and the apps list's "
     "icon", "lantern.ico"),
    (UPDATES, None, None, "the https:// address of the course's signed update document, which the installed course "
     "asks at most once a day (build-course --publish-update writes it); none: it never asks",
     "https://files.example.org/lantern/lantern-update.txt"),
    (UPDATE_SEQUENCE, None, "1", "this build's update number, above every one published before (1 to 2147483647)",
     "2"),
)
FIELD_NAMES = [name for name, _, _, _, _ in FIELD_TABLE]
# The required fields' constants, part's apart (a table of rows).
FIELDS = {name: constant for name, constant, default, _, _ in FIELD_TABLE if default == REQUIRED and name != PART}
# The version resource's fields, and the field each one defaults to (None: a
# fixed default, or left out of the resource).
VERSION_FIELDS = {name: default if default in FIELD_NAMES else None
                  for name, _, default, _, _ in FIELD_TABLE
                  if default != REQUIRED and name not in (ICON, UPDATES, UPDATE_SEQUENCE)}
DEFAULT_VERSION = next(default for name, _, default, _, _ in FIELD_TABLE if name == "version")
DEFAULT_UPDATE_SEQUENCE = next(default for name, _, default, _, _ in FIELD_TABLE if name == UPDATE_SEQUENCE)
# The update number is a signed 32-bit count on the program's side.
LAST_UPDATE_SEQUENCE = 2 ** 31 - 1
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
BITMAP_HEADER_SIZE = 40
PIN = re.compile(r"[0-9a-f]{64}")
# ASCII digits only: Python's \d would let other scripts' digits through,
# which neither the resource compiler nor an address takes.
VERSION = re.compile(r"[0-9]{1,5}(\.[0-9]{1,5}){0,3}")
# Names end up in paths, addresses and between quotes in command lines; the
# folder and the shortcut, which the learner sees, may hold blanks and the
# letters of any script (the program runs in the UTF-8 code page), the
# others are in addresses too and stay ASCII.
FILE_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9._-]*")
SHOWN_PUNCTUATION = " ._-"
# Windows keeps these device names for itself, alone or before a dot.
RESERVED_NAME = re.compile(r"(CON|PRN|AUX|NUL|COM[0-9¹²³]|LPT[0-9¹²³])(\..*)?", re.IGNORECASE)
# A course address the launcher hands to cmd.exe's start: the characters of
# an address (RFC 3986) but the quotes, which cmd.exe takes as its own; the
# launcher escapes % and &, which it would otherwise expand and split at.
COURSE_URL = re.compile(r"http://(127\.0\.0\.1|localhost):([0-9]{1,5})/[A-Za-z0-9._~:/?#\[\]@!$&()*+,;=%-]*")
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


def icon_fault(data):
    """Why DATA is not an icon file Windows can show (its layout: an icon
    directory, then each image as PNG or as a bitmap), or None."""
    if len(data) < 6 or data[:4] != b"\0\0\1\0" or int.from_bytes(data[4:6], "little") == 0:
        return "no icon directory at its start"
    count = int.from_bytes(data[4:6], "little")
    images = 6 + 16 * count
    if len(data) < images:
        return f"its directory names {count} images but the file ends first"
    for index in range(count):
        entry = data[6 + 16 * index:22 + 16 * index]
        size, offset = int.from_bytes(entry[8:12], "little"), int.from_bytes(entry[12:16], "little")
        image = data[offset:offset + size]
        if offset < images or size == 0 or len(image) != size:
            return f"image {index + 1} lies outside the file"
        if not image.startswith(PNG_SIGNATURE) and int.from_bytes(image[:4], "little") != BITMAP_HEADER_SIZE:
            return f"image {index + 1} is neither PNG nor a bitmap"
    return None


def icon_file(path, values):
    """The icon's file, next to the description at PATH, or None."""
    return os.path.join(os.path.dirname(os.path.abspath(path)), values[ICON]) if ICON in values else None


def check_icon(path, values, where):
    name = values[ICON]
    if not FILE_NAME.fullmatch(name) or not name.lower().endswith(".ico"):
        raise DescriptionError(f"{where}: icon must be the plain name of a .ico file next to the description")
    try:
        with open(icon_file(path, values), "rb") as icon:
            fault = icon_fault(icon.read())
    except OSError as error:
        raise DescriptionError(f"{where}: icon: cannot read {icon_file(path, values)}: {error.strerror}")
    if fault:
        raise DescriptionError(f"{where}: icon: {name} is not a valid icon: {fault}")


def check(path, values, parts, where_of):
    for key in FIELDS:
        if key not in values:
            raise DescriptionError(f"{path}: missing field {key}")
    for key in ("runtime_url", "payload_base_url"):
        if not re.fullmatch(r"https://[^\s/'\"]+(/\S*)?", values[key]):
            raise DescriptionError(f"{where_of[key]}: {key} must be an https:// address")
    if values["payload_base_url"].endswith("/"):
        raise DescriptionError(f"{where_of['payload_base_url']}: payload_base_url must not end in /")
    course_url = COURSE_URL.fullmatch(values["course_url"])
    if not course_url or not 1 <= int(course_url.group(2)) <= 65535:
        raise DescriptionError(f"{where_of['course_url']}: course_url must be a local http:// address with a port "
                               "from 1 to 65535, in the characters of an address (no blank, quote or < > \\ ^ ` { | })")
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
    if UPDATES in values:
        address = re.fullmatch(r"https://[^\s/'\"]+/(\S*/)?([^/\s]+)", values[UPDATES])
        if not address or not FILE_NAME.fullmatch(address.group(2)):
            raise DescriptionError(f"{where_of[UPDATES]}: {UPDATES} must be an https:// address whose last segment "
                                   "is a plain file name (the document's name in the files folder)")
    if UPDATE_SEQUENCE in values:
        sequence = values[UPDATE_SEQUENCE]
        if not re.fullmatch(r"[1-9][0-9]{0,9}", sequence) or int(sequence) > LAST_UPDATE_SEQUENCE:
            raise DescriptionError(f"{where_of[UPDATE_SEQUENCE]}: {UPDATE_SEQUENCE} must be a whole number from 1 "
                                   f"to {LAST_UPDATE_SEQUENCE}")
    for key in ("product_name", "description", "publisher"):
        if key in values and not values[key].isprintable():
            raise DescriptionError(f"{where_of[key]}: {key} must be printable text")
    if ICON in values:
        check_icon(path, values, where_of[ICON])
    if not parts:
        raise DescriptionError(f"{path}: missing field part: a course has at least one payload archive")
    names = [name for name, _, _ in parts]
    if len(set(names)) != len(names):
        raise DescriptionError(f"{path}: part: two parts have the same name")


def near_field(key):
    """ " (did you mean NAME?)" for the field KEY is likely a slip for, or "". """
    near = difflib.get_close_matches(key.lower(), FIELD_NAMES, n=1, cutoff=0.75)
    return f" (did you mean {near[0]}?)" if near else ""


def field_help():
    """Every field of a description, as build-course --help lists them."""
    lines = []
    for name, _, default, meaning, example in FIELD_TABLE:
        if default == REQUIRED:
            given = "required" + (", one line per archive" if name == PART else "")
        else:
            given = "optional, default: " + (f"the value of {default}" if default in FIELD_NAMES else default or "none")
        lines += [f"  {name} ({given})", f"      {meaning}", f"      e.g. {name}: {example}"]
    return "\n".join(lines)


def parse(path):
    """The description's values, the place ("path:line") of each, and its parts
    as (name, pin or file:PATH, place); every fault but an unreadable pin file
    is found here."""
    values, where_of, parts = {}, {}, []
    with open(path, "rb") as description:
        data = description.read()
    # Windows Notepad saves UTF-8 with a byte-order mark and CR LF lines.
    try:
        text = data.decode("utf-8-sig")
    except UnicodeDecodeError as error:
        line = data[:error.start].count(b"\n") + 1
        raise DescriptionError(f"{path}:{line}: not UTF-8 text: save the description as UTF-8")
    for number, line in enumerate(text.split("\n"), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        where = f"{path}:{number}"
        key, colon, value = line.partition(":")
        key, value = key.strip(), value.strip()
        if not colon or not value:
            raise DescriptionError(f"{where}: expected 'key: value'")
        if key == PART:
            fields = value.split()
            if len(fields) != 2:
                raise DescriptionError(f"{where}: part takes a plain file name and a pin")
            check_name(fields[0], where, f"part {fields[0]}", FILE_NAME.fullmatch)
            check_pin(fields[1], where, f"part {fields[0]}")
            parts.append((fields[0], fields[1], where))
        elif key in FIELD_NAMES:
            if key in values:
                raise DescriptionError(f"{where}: {key} given twice")
            values[key] = value
            where_of[key] = where
        else:
            raise DescriptionError(f"{where}: unknown field {key}{near_field(key)}")
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


def update_sequence(values):
    return int(values.get(UPDATE_SEQUENCE, DEFAULT_UPDATE_SEQUENCE))


def shown(values):
    """The version resource's values, defaults filled in."""
    result = {key: values.get(key, values.get(fallback)) for key, fallback in VERSION_FIELDS.items()}
    result["version"] = result["version"] or DEFAULT_VERSION
    return result
