"""The one command refuses a faulty description with a message that names the
field and, where there is one, the line; and then it writes nothing: no
program, no build tree, no archive packed."""
import os
import re
import subprocess
import sys
import unittest

from course_author import (SOURCE, WORK, build_course, description_text, fresh_folder, icon_file_bytes, png_square,
                           sha256_of, write_files)

sys.path.insert(0, os.path.join(SOURCE, "author"))
import course_description  # noqa: E402 (in the source tree)

PIN = sha256_of(__file__)
FIELDS = {
    "title": "Refusal course - setup",
    "tagline": "This installs nothing.",
    "install_folder": "RefusalCourse",
    "user_agent": "RefusalSetup/1",
    "runtime_url": "https://refusal.example/python.zip",
    "runtime_sha256": PIN,
    "runtime_label": "the runtime",
    "payload_base_url": "https://refusal.example/files",
    "launcher_name": "start-refusal.bat",
    "shortcut_name": "Refusal.lnk",
    "course_url": "http://127.0.0.1:8793/",
    "version": "3.1",
}
PARTS = [("refusal-1.zip", "file:refusal-1.zip"), ("refusal-2.zip", PIN)]


def set_field(key, line):
    """A fault: the line of KEY becomes LINE (None: every such line goes)."""
    def change(lines):
        found = [index for index, text in enumerate(lines) if text.startswith(f"{key}:")]
        if line is None:
            return [text for index, text in enumerate(lines) if index not in found], None
        return lines[:found[0]] + [line] + lines[found[0] + 1:], found[0] + 1
    return change


def added(line):
    """A fault: LINE added at the end."""
    return lambda lines: (lines + [line], len(lines) + 1)


# Each kind of fault, and what the message must say about it.
FAULTS = [
    ("upper-case pin", set_field("runtime_sha256", f"runtime_sha256: {PIN.upper()}"),
     "runtime_sha256: a pin is 64 lower-case hexadecimal characters"),
    ("short pin", set_field("part", f"part: refusal-1.zip {PIN[:63]}"),
     "part refusal-1.zip: a pin is 64 lower-case hexadecimal characters"),
    ("http runtime", set_field("runtime_url", "runtime_url: http://refusal.example/python.zip"),
     "runtime_url must be an https:// address"),
    ("http payload base", set_field("payload_base_url", "payload_base_url: http://refusal.example/files"),
     "payload_base_url must be an https:// address"),
    ("course elsewhere", set_field("course_url", "course_url: http://refusal.example:80/"),
     "course_url must be a local http:// address"),
    ("missing field", set_field("tagline", None), "missing field tagline"),
    ("no part rows", set_field("part", None), "missing field part"),
    ("part without pin", added("part: refusal-3.zip"), "part takes a plain file name and a pin"),
    ("pin file absent", added("part: refusal-3.zip file:refusal-3.zip"),
     "no file FILES/refusal-3.zip to compute the pin from; make it with --pack refusal-3.zip=FOLDER"),
    ("runtime file absent", set_field("runtime_sha256", "runtime_sha256: file:python-3.12.10-embed-amd64.zip"),
     "no file FILES/python-3.12.10-embed-amd64.zip to compute the pin from; download the embeddable Python's "
     "official archive there from https://www.python.org/ftp/python/3.12.10/python-3.12.10-embed-amd64.zip"),
    ("unknown field", added("colour: blue"), "unknown field colour\n"),
    ("field name with a slip", added("instal_folder: RefusalCourse"),
     "unknown field instal_folder (did you mean install_folder?)"),
    ("field name in capitals", added("Publisher: Refusal"), "unknown field Publisher (did you mean publisher?)"),
    ("field twice", added("title: Another title"), "title given twice"),
    ("not a field", added("just some words"), "expected 'key: value'"),
    ("version not numbers", set_field("version", "version: 3.1-beta"), "version must be 1 to 4 numbers"),
    ("version too large", set_field("version", "version: 3.65536"), "version must be 1 to 4 numbers"),
    ("version too long", set_field("version", "version: 1.2.3.4.5"), "version must be 1 to 4 numbers"),
    ("part not a zip", added(f"part: lecons.pack {PIN}"), "part lecons.pack: a part's name must end in .zip"),
    ("reserved folder name", set_field("install_folder", "install_folder: CON"),
     "install_folder: 'CON' is a device name Windows reserves"),
    ("reserved name before a dot", added(f"part: lpt3.zip {PIN}"),
     "part lpt3.zip: 'lpt3.zip' is a device name Windows reserves"),
    ("character Windows refuses", set_field("shortcut_name", "shortcut_name: Refusal?.lnk"),
     "shortcut_name: 'Refusal?.lnk' holds '?', which Windows does not allow"),
    ("trailing dot", set_field("install_folder", "install_folder: RefusalCourse."),
     "install_folder: 'RefusalCourse.' ends in a dot or a blank"),
    ("device name with a superscript digit", set_field("install_folder", "install_folder: COM\u00b9"),
     "install_folder: 'COM\u00b9' is a device name Windows reserves"),
    ("version in Arabic-Indic digits", set_field("version", "version: \u0663.\u0661"),
     "version must be 1 to 4 numbers"),
    ("port in Arabic-Indic digits", set_field("course_url", "course_url: http://127.0.0.1:\u0668\u0667\u0669\u0663/"),
     "course_url must be a local http:// address with a port from 1 to 65535"),
    ("port out of range", set_field("course_url", "course_url: http://127.0.0.1:87930/"),
     "course_url must be a local http:// address with a port from 1 to 65535"),
    ("icon that is not one", added("icon: broken.ico"),
     "icon: broken.ico is not a valid icon: no icon directory at its start"),
    ("icon whose image is cut short", added("icon: cut.ico"),
     "icon: cut.ico is not a valid icon: image 1 lies outside"),
    ("quote in the course address", set_field("course_url", 'course_url: http://127.0.0.1:8793/?"x'),
     "in the characters of an address"),
]


class BadDescriptions(unittest.TestCase):
    def setUp(self):
        self.work = fresh_folder(os.path.join(WORK, "bad-descriptions"))
        self.course = os.path.join(self.work, "course")
        write_files(self.course, {"server.py": "print('refusal')\n"})
        self.description = os.path.join(self.work, "refusal.course")
        self.files = fresh_folder(os.path.join(self.work, "files"))
        self.output = os.path.join(self.work, "out", "refusal-setup.exe")
        self.tree = os.path.join(self.work, "tree")
        self.lines = description_text(FIELDS, PARTS).splitlines()
        with open(os.path.join(self.work, "broken.ico"), "wb") as out:
            out.write(b"GIF89a, not an icon")
        with open(os.path.join(self.work, "cut.ico"), "wb") as out:
            out.write(icon_file_bytes(png_square(32, (0, 0, 0, 255)))[:-1])

    def run_with(self, lines, *extra):
        with open(self.description, "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")
        return build_course(self.description, self.output, "--files", self.files, "--build-dir", self.tree,
                            "--pack", f"refusal-1.zip={self.course}", *extra)

    def assert_refused(self, run, *fragments):
        self.assertNotEqual(run.returncode, 0, run.stdout)
        for fragment in fragments:
            self.assertIn(fragment, run.stderr)
        self.assertFalse(os.path.exists(self.output))
        self.assertFalse(os.path.exists(os.path.dirname(self.output)))
        self.assertFalse(os.path.exists(self.tree))
        self.assertEqual(os.listdir(self.files), [])

    def test_the_faultless_description_passes_the_checks(self):
        run = self.run_with(self.lines, "--check")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn(f"Pinned payload part refusal-1.zip: {sha256_of(os.path.join(self.files, 'refusal-1.zip'))}",
                      run.stdout)

    def test_names_in_any_script_reach_the_constants_as_utf8(self):
        names = {"install_folder": "Cours de fran\u00e7ais", "shortcut_name": "\u8bfe\u7a0b \u7b14\u8bb0.lnk"}
        lines = [next((f"{key}: {names[key]}" for key in names if text.startswith(f"{key}:")), text)
                 for text in self.lines]
        run = self.run_with(lines, "--check")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        unit = os.path.join(self.work, "constants.cpp")
        generated = subprocess.run([sys.executable, os.path.join(SOURCE, "author", "generate_stub.py"),
                                    self.description, unit, "--files", self.files], capture_output=True, text=True)
        self.assertEqual(generated.returncode, 0, generated.stdout)
        with open(unit, encoding="ascii") as constants:
            text = constants.read()
        self.assertIn(r'APP_DIR_NAME[] = "Cours de fran\303\247ais";', text)
        # The installed apps list's name: the folder's, when the course gives none.
        self.assertIn(r'APP_PRODUCT_NAME[] = "Cours de fran\303\247ais";', text)
        self.assertIn(r'SHORTCUT_NAME[] = "\350\257\276\347\250\213 \347\254\224\350\256\260.lnk";', text)

    def test_each_fault_is_refused_naming_field_and_line(self):
        for kind, fault, message in FAULTS:
            with self.subTest(kind):
                lines, line = fault(self.lines)
                place = f"{self.description}:{line}: " if line else f"{self.description}: "
                self.assert_refused(self.run_with(lines), "build-course: " + place,
                                    message.replace("FILES", self.files))

    def test_a_description_saved_by_notepad_passes_the_checks(self):
        with open(self.description, "wb") as out:
            out.write(b"\xef\xbb\xbf" + "\r\n".join(self.lines).encode("utf-8") + b"\r\n")
        run = build_course(self.description, self.output, "--files", self.files, "--pack",
                           f"refusal-1.zip={self.course}", "--check")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("Pinned payload part refusal-1.zip: ", run.stdout)

    def test_a_description_not_in_utf8_is_refused(self):
        with open(self.description, "wb") as out:
            out.write("\n".join(self.lines).replace("Refusal course", "Cours refus\u00e9").encode("latin-1"))
        self.assert_refused(build_course(self.description, self.output, "--files", self.files),
                            f"build-course: {self.description}:1: not UTF-8 text")

    def test_help_lists_every_field_and_where_each_folder_written_is(self):
        run = build_course("--help")
        self.assertEqual(run.returncode, 0, run.stderr)
        listed = run.stdout.split("The fields of a description")[1]
        for name, _, default, _, _ in course_description.FIELD_TABLE:
            given = "required" if default == course_description.REQUIRED else "optional, default: "
            self.assertIn(f"  {name} ({given}", listed)
        # A description of the examples alone (but the icon, a file to make)
        # is whole and passes the checks.
        with open(self.description, "w", encoding="utf-8") as out:
            examples = re.findall(r"e\.g\. (.*)", listed)
            out.write("".join(line + "\n" for line in examples if not line.startswith("icon")))
        course_description.parse(self.description)
        self.assertIn("optional, default: the value of install_folder", listed)
        self.assertIn(f"(default: {os.path.join(SOURCE, 'build', 'courses')}/<description's name>", listed)
        self.assertIn("a relative path being taken from the current folder", listed)

    def test_packing_an_archive_the_description_does_not_pin(self):
        run = self.run_with(self.lines, "--pack", f"other.zip={self.course}")
        self.assert_refused(run, "--pack other.zip=", "the description pins no file:other.zip")

    def test_a_program_name_that_is_not_an_exe(self):
        self.output = os.path.join(self.work, "out", "refusal-setup.bat")
        self.assert_refused(self.run_with(self.lines), "OUTPUT must be a plain file name ending in .exe")


if __name__ == "__main__":
    unittest.main()
