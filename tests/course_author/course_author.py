"""Shared by the course-author tests: where the trees are, the one command,
and the second course the tests make (three payload archives, names of its
own, file properties that need escaping and UTF-8)."""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import zlib

SOURCE = os.environ["QUILLBY_SOURCE_DIR"]
BUILD = os.environ["QUILLBY_BUILD_DIR"]  # the windows tree
WINEPREFIX = os.environ["QUILLBY_WINEPREFIX"]
WORK = os.environ["QUILLBY_WORK_DIR"]
BUILD_COURSE = os.path.join(SOURCE, "author", "build-course")

SECOND = os.path.join(WORK, "second")
SECOND_DESCRIPTION = os.path.join(SECOND, "lantern.course")
SECOND_UPLOAD = os.path.join(SECOND, "upload")
# One build tree for every course these tests build: from one course to the
# next only the course's own unit and the link are done again.
TREE = os.path.join(WORK, "tree")
SECOND_PROGRAM = os.path.join(SECOND_UPLOAD, "lantern-setup.exe")
# Any 64 hex digits will do for a runtime that no test downloads.
SECOND_RUNTIME_PIN = hashlib.sha256(b"the lantern runtime").hexdigest()
SECOND_FIELDS = {
    "title": "Lantern field notes - setup",
    "tagline": "This installs the Lantern field notes.",
    "install_folder": "LanternNotes",
    "user_agent": "LanternSetup/2",
    "runtime_url": "https://lantern.example/runtime/python.zip",
    "runtime_sha256": SECOND_RUNTIME_PIN,
    "runtime_label": "the Lantern runtime",
    "payload_base_url": "https://lantern.example/files",
    "launcher_name": "start-lantern.bat",
    "shortcut_name": "Lantern Notes.lnk",
    "course_url": "http://127.0.0.1:8793/",
    "version": "2.5.1.7",
    "product_name": "Lantern field notes \u2013 \u00e9dition",
    "publisher": 'The "Lantern" Society \\ Notes',
    "icon": "lantern.ico",
}
# Each payload archive and the folder of the course it is packed from.
SECOND_PARTS = [
    ("lantern-app.zip", {"server.py": "print('lantern')\n", "pages/index.html": "<title>Lantern</title>\n"}),
    ("lantern-lessons.zip", {"lesson-1.html": "<p>One</p>\n", "lesson-2.html": "<p>Two</p>\n"}),
    ("lantern-media.zip", {"media/style.css": "body { margin: 0 }\n"}),
]


def build_course(*arguments, environment=None):
    """Runs the one command, with ENVIRONMENT's variables added; its exit
    status, output and errors."""
    return subprocess.run([sys.executable, BUILD_COURSE, *arguments], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, env=dict(os.environ, **(environment or {})))


def build_second_course(output, *arguments, environment=None):
    """The one command on the second course, in the shared build tree."""
    return build_course(SECOND_DESCRIPTION, output, "--files", SECOND_UPLOAD, "--build-dir", TREE, *arguments,
                        environment=environment)


def fresh_folder(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def sha256_of(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def write_files(folder, files):
    for name, text in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)


def description_text(fields, parts):
    """A description: the fields in order, then a part line per (name, pin)."""
    lines = [f"{key}: {value}" for key, value in fields.items()]
    return "\n".join(lines + [f"part: {name} {pin}" for name, pin in parts]) + "\n"


def png_square(side, rgba):
    """A PNG image of SIDE by SIDE pixels, all of colour RGBA."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\0" + bytes(rgba) * side for _ in range(side))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def icon_file_bytes(image):
    """An icon file holding one 32x32 PNG image."""
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, len(image), 22) + image


LANTERN_IMAGE = png_square(32, (230, 160, 20, 255))


def second_course_folder(name):
    return os.path.join(SECOND, "course", name[:-len(".zip")])


def second_course_sources():
    """Writes the second course's folders and description; the --pack
    arguments that make its archives."""
    packs = []
    for name, files in SECOND_PARTS:
        folder = second_course_folder(name)
        write_files(folder, files)
        packs += ["--pack", f"{name}={folder}"]
    with open(SECOND_DESCRIPTION, "w", encoding="utf-8") as out:
        out.write(description_text(SECOND_FIELDS, [(name, f"file:{name}") for name, _ in SECOND_PARTS]))
    with open(os.path.join(SECOND, SECOND_FIELDS["icon"]), "wb") as out:
        out.write(icon_file_bytes(LANTERN_IMAGE))
    return packs
