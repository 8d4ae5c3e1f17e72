"""The one command refuses a course whose archives, packed or given, would
fail on a learner's machine, naming the archive and the entry; and then the
files folder stays as it was, with no build tree and no program."""
import io
import os
import unittest
import zipfile

from course_author import WORK, build_course, description_text, fresh_folder, write_files

INSTALL_FOLDER = "ArchiveRules"
FIELDS = {
    "title": "Archive rules - setup",
    "tagline": "This installs nothing.",
    "install_folder": INSTALL_FOLDER,
    "user_agent": "ArchiveRulesSetup/1",
    "runtime_url": "https://rules.example/python.zip",
    "runtime_sha256": "file:runtime.zip",
    "runtime_label": "the runtime",
    "payload_base_url": "https://rules.example/files",
    "launcher_name": "start-rules.bat",
    "shortcut_name": "Rules.lnk",
    "course_url": "http://127.0.0.1:8793/",
}
# server.py comes with the second part only: the payload puts it in place
# together. The second name's letter case is Windows' own affair.
PARTS = ["runtime.zip", "app.zip", "extra.ZIP"]
# Windows' path limit of 260 counts the terminator; the install folder is
# counted as on a machine whose user name has 20 characters.
INSTALLED = "C:\\Users\\" + "u" * 20 + "\\AppData\\Local\\" + INSTALL_FOLDER + "\\"
LONGEST = "deep/" + "d" * 120 + "/" + "f" * (259 - len(INSTALLED) - len("deep/") - 120 - 1 - len(".html")) + ".html"
COURSE = {
    "runtime.zip": {"python.exe": "MZ\n"},
    "app.zip": {"pages/index.html": "<title>Rules</title>\n", LONGEST: "<p>deep</p>\n"},
    "extra.ZIP": {"server.py": "print('rules')\n"},
}


def zip_of(*names):
    """A zip archive's bytes, with an entry of each name, written as given."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as archive:
        for name in names:
            archive.writestr(name, "x\n")
    return data.getvalue()


def zip64_of(*names):
    """A zip archive as Python's zipfile writes one past 2 GiB, made of a few
    bytes by lowering the limit it writes Zip64 from: every entry's size and
    place left to its Zip64 field, then a Zip64 end record and locator."""
    limit = zipfile.ZIP64_LIMIT
    zipfile.ZIP64_LIMIT = 1
    try:
        return zip_of(*names)
    finally:
        zipfile.ZIP64_LIMIT = limit


def without_zip64_end(data):
    """The zip's bytes without the Zip64 end record (56 bytes) and locator
    (20) that stand before its end record (22), whose own fields still hold."""
    end = len(data) - 22
    return data[:end - 56 - 20] + data[end:]


def without_utf8_flag(data):
    """The zip's bytes with the UTF-8 flag of every name cleared, as an old
    packer leaves them: local headers (flags at 6) and central ones (at 8)."""
    data = bytearray(data)
    for signature, flags in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        at = data.find(signature)
        while at >= 0:
            data[at + flags + 1] &= ~0x08
            at = data.find(signature, at + 4)
    return bytes(data)


def moved(archive, old, new):
    """A fault: in ARCHIVE's folder, the file OLD becomes NEW."""
    def change(course):
        files = dict(course[archive])
        files[new] = files.pop(old)
        return dict(course, **{archive: files})
    return change


def added(archive, name):
    return lambda course: dict(course, **{archive: dict(course[archive], **{name: "x\n"})})


# What the embeddable Python for Windows holds beside python.exe.
EMBEDDABLE = {"python.exe": "MZ\n", "python312.dll": "MZ\n", "python312.zip": "PK\n", "python312._pth": ".\n"}


def packages_on_python311(course):
    """The course with packages, on the embeddable Python 3.11."""
    runtime = {name.replace("312", "311"): text for name, text in EMBEDDABLE.items()}
    return dict(added("app.zip", "packages/fast/__init__.py")(course), **{"runtime.zip": runtime})


# Each rule, a course that breaks it (a change to the folders packed, or an
# archive given in the files folder) and what the message must say.
FAULTS = [
    ("not a zip", None, {"app.zip": b"PK but not a zip\n"}, ["app.zip: not a readable zip archive"]),
    ("entry above its folder", None, {"app.zip": zip_of("pages/index.html", "../escape.html")},
     ["app.zip: ../escape.html: the entry would land outside its folder"]),
    ("name outside ASCII, not flagged UTF-8", None,
     {"app.zip": without_utf8_flag(zip_of("server.py", "le\u00e7on.html"))},
     ["app.zip: le\u251c\u00ba", "a name outside ASCII without the zip's UTF-8 flag"]),
    ("entry on a drive", None, {"app.zip": zip_of("C:escape.html")},
     ["app.zip: C:escape.html: the entry would land outside its folder"]),
    ("65,535 entries, the count full", None, {"app.zip": zip_of(*(f"pages/{i}.html" for i in range(65535)))},
     ["app.zip: Zip64 (65,535 entries or more), which the setup does not read; split the part into archives of at "
      "most 65,534 entries and under 2 GiB each"]),
    ("Zip64 end record", None, {"app.zip": zip64_of("pages/index.html")}, ["app.zip: Zip64 (a Zip64 end record)"]),
    ("an entry's size in Zip64", None, {"app.zip": without_zip64_end(zip64_of("pages/index.html"))},
     ["app.zip: Zip64 (the size or place of pages/index.html)"]),
    ("names differing in case", added("app.zip", "pages/Index.html"), {},
     ["app.zip: ", "pages/Index.html", "pages/index.html", "differ only in letter case"]),
    ("segment Windows will not hold", added("app.zip", "lessons/aux.html/notes.txt"), {},
     ["app.zip: lessons/aux.html/notes.txt: 'aux.html' is a device name Windows reserves"]),
    ("path one character too long", moved("app.zip", LONGEST, LONGEST.replace(".html", "s.html")), {},
     [f"app.zip: {LONGEST.replace('.html', 's.html')}: ", "would be 260 characters, 1 over"]),
    ("runtime folder packed", moved("runtime.zip", "python.exe", "python-3.12/python.exe"), {},
     ["runtime.zip: no python.exe at the top of the runtime folder; python-3.12/python.exe is further down"]),
    ("course folder packed", moved("extra.ZIP", "server.py", "extra/server.py"), {},
     ["part: no server.py at the top of the install folder from any payload archive, and the launcher runs "
      "server.py there; no .py file is at its top; extra/server.py in "]),
    ("server under another name", moved("extra.ZIP", "server.py", "main.py"),
     {"app.zip": zip_of("pages/index.html", "setup.py")},
     ["no server.py at the top", "the launcher runs server.py there; the .py files at its top are main.py, setup.py"]),
    ("packages for another Python", packages_on_python311, {},
     ["runtime.zip: the embeddable Python 3.11, but ", "app.zip brings the packages folder, whose packages "
      "--packages resolves for Python 3.12; pin https://www.python.org/ftp/python/3.12.10/"]),
]


class ArchiveRules(unittest.TestCase):
    def setUp(self):
        self.work = fresh_folder(os.path.join(WORK, "archive-rules"))
        self.description = os.path.join(self.work, "rules.course")
        with open(self.description, "w", encoding="utf-8") as out:
            out.write(description_text(FIELDS, [(name, f"file:{name}") for name in PARTS[1:]]))
        self.output = os.path.join(self.work, "out", "rules-setup.exe")
        self.tree = os.path.join(self.work, "tree")

    def run_with(self, course, given, *extra):
        """The one command on COURSE's folders, packing each archive that is
        not GIVEN in the files folder; the files folder's contents before."""
        files = fresh_folder(os.path.join(self.work, "files"))
        packs = []
        for name, contents in course.items():
            folder = os.path.join(self.work, "course", name)
            write_files(fresh_folder(folder), contents)
            if name in given:
                with open(os.path.join(files, name), "wb") as out:
                    out.write(given[name])
            else:
                packs += ["--pack", f"{name}={folder}"]
        before = self.contents(files)
        return build_course(self.description, self.output, "--files", files, "--build-dir", self.tree, *packs,
                            *extra), before

    def contents(self, files):
        found = {}
        for name in os.listdir(files):
            with open(os.path.join(files, name), "rb") as data:
                found[name] = data.read()
        return found

    def test_a_course_that_keeps_every_rule_passes(self):
        run, _ = self.run_with(COURSE, {}, "--check")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(sorted(self.contents(os.path.join(self.work, "files"))), sorted(PARTS))

    def test_as_many_entries_as_the_setup_reads_pass(self):
        run, _ = self.run_with(COURSE, {"app.zip": zip_of(*(f"pages/{i}.html" for i in range(65534)))}, "--check")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)

    def test_a_runtime_that_is_not_the_embeddable_python_is_taken_with_a_warning(self):
        warning = ("Warning: runtime.zip is not the embeddable Python for Windows: learners' Windows cannot run it; "
                   "publish the official archive.\n")
        apart = {("python311.zip" if name == "python312.zip" else name): text for name, text in EMBEDDABLE.items()}
        for kind, runtime, warned in [("stand-in", COURSE["runtime.zip"], True), ("embeddable", EMBEDDABLE, False),
                                      ("versions apart", apart, True)]:
            with self.subTest(kind):
                run, _ = self.run_with(dict(COURSE, **{"runtime.zip": runtime}), {}, "--check")
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(warning in run.stdout, warned, run.stdout)

    def test_each_rule_broken_is_refused_naming_archive_and_entry(self):
        for kind, change, given, fragments in FAULTS:
            with self.subTest(kind):
                run, before = self.run_with(change(COURSE) if change else COURSE, given)
                self.assertNotEqual(run.returncode, 0, run.stdout)
                self.assertTrue(run.stderr.startswith("build-course: "), run.stderr)
                for fragment in fragments:
                    self.assertIn(fragment, run.stderr)
                self.assertEqual(self.contents(os.path.join(self.work, "files")), before)
                self.assertFalse(os.path.exists(os.path.dirname(self.output)))
                self.assertFalse(os.path.exists(self.tree))


class PackedFolders(unittest.TestCase):
    """What --pack does with what an author's folder may hold besides files."""

    def setUp(self):
        self.work = fresh_folder(os.path.join(WORK, "packed-folders"))
        self.description = os.path.join(self.work, "rules.course")
        with open(self.description, "w", encoding="utf-8") as out:
            out.write(description_text(dict(FIELDS, runtime_sha256="0" * 64), [("app.zip", "file:app.zip")]))
        self.course = os.path.join(self.work, "course")
        write_files(fresh_folder(self.course), {"server.py": "print('rules')\n"})
        self.private = os.path.join(self.work, "private")
        write_files(fresh_folder(self.private), {"grades.txt": "secret\n"})
        self.files = fresh_folder(os.path.join(self.work, "files"))

    def pack(self):
        return build_course(self.description, "--files", self.files, "--pack", f"app.zip={self.course}", "--check")

    def test_links_out_of_the_folder_or_to_folders_or_broken_are_refused_by_name(self):
        for kind, target, name, fragment in [
                ("file outside", os.path.join(self.private, "grades.txt"), "notes.txt",
                 f"a link to {self.private}/grades.txt, outside the folder packed"),
                ("folder", self.private, "more", "a link to a folder"),
                ("broken", os.path.join(self.work, "gone.txt"), "gone.txt", "a broken link")]:
            with self.subTest(kind):
                link = os.path.join(self.course, name)
                os.symlink(target, link)
                run = self.pack()
                os.remove(link)
                self.assertNotEqual(run.returncode, 0, run.stdout)
                self.assertIn(f"build-course: {link}: {fragment}", run.stderr)
                self.assertEqual(os.listdir(self.files), [])

    def test_empty_folders_are_kept_and_a_link_inside_packs_its_file(self):
        os.makedirs(os.path.join(self.course, "progress", "saved"))
        os.symlink("server.py", os.path.join(self.course, "main.py"))
        run = self.pack()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with zipfile.ZipFile(os.path.join(self.files, "app.zip")) as archive:
            self.assertEqual(archive.namelist(), ["main.py", "progress/saved/", "server.py"])
            self.assertTrue(archive.getinfo("progress/saved/").is_dir())
            self.assertEqual(archive.read("main.py"), b"print('rules')\n")


if __name__ == "__main__":
    unittest.main()
