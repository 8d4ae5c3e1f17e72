"""build-course --try on a French course (its install folder and shortcut
named in French, its server importing a module of its own and a package
that needs another on Windows only): the program just built installs under
Wine, on the runtime as it really starts, and its course answers; the same
course with a server.py that dies at start fails with status 1 and shows
the launcher's page that says why, with what the server said. Neither run
leaves a process or a prefix behind. The try needs no root: the sample
course's tries as the user nobody too."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from course_author import BUILD, SOURCE, TREE, WORK, build_course, description_text, fresh_folder, write_files
from wheels import make_wheel

sys.path.insert(0, os.path.join(SOURCE, "author"))
sys.path.insert(0, os.path.join(SOURCE, "author", "try"))
import try_course  # noqa: E402

TRY = os.path.join(WORK, "try")
FIELDS = {
    "title": "Cours de français - installation",
    "tagline": "Ceci installe le cours sur cet ordinateur et l'ouvre.",
    "install_folder": "Cours de français",
    "user_agent": "CoursSetup/1",
    # Two host names, and the default port: each must mean the try's server.
    "runtime_url": "https://python.cours.example/ftp/python-runtime.zip",
    "runtime_sha256": "file:python-runtime.zip",
    "runtime_label": "the Python runtime",
    "payload_base_url": "https://fichiers.cours.example/files",
    "launcher_name": "start-cours.bat",
    "shortcut_name": "Cours de français.lnk",
    "course_url": "http://127.0.0.1:8793/",
}
ANSWERING_SERVER = """import functools, http.server, os
import cahier, lecons
pages = os.path.join(os.path.dirname(os.path.abspath(__file__)), lecons.PAGES)
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=pages)
http.server.ThreadingHTTPServer(("127.0.0.1", 8793), handler).serve_forever()
"""
DYING_SERVER = "import sys\nsys.exit('server.py: the lessons folder is missing')\n"
# The package's own dependency is declared for Windows alone.
PACKAGES = [("cahier", "1.0", {"cahier/__init__.py": "import fenetres\n"},
             ['fenetres==2.0; platform_system == "Windows"']),
            ("fenetres", "2.0", {"fenetres/__init__.py": "SYSTEME = 'Windows'\n"}, [])]
PAGE = "<html><head><title>Leçon 1 : les accents</title></head><body>Bonjour</body></html>\n"


def processes_of(folder):
    """Every process started in FOLDER or running Wine in a prefix there."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cwd = os.readlink(f"/proc/{pid}/cwd")
            with open(f"/proc/{pid}/environ", "rb") as environ:
                prefix = [v for v in environ.read().split(b"\0") if v.startswith(b"WINEPREFIX=")]
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                command = cmdline.read().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue  # gone already, or not ours to read
        if cwd.startswith(folder) or any(folder.encode() in value for value in prefix):
            found.append(f"{pid} {command}")
    return found


class TryFrenchCourse(unittest.TestCase):
    def try_course(self, server):
        """Builds and tries the course with this server.py; the run, and the
        try's temporary folder, which must be left empty."""
        course = fresh_folder(os.path.join(TRY, "course"))
        upload = fresh_folder(os.path.join(TRY, "upload"))
        temporary = fresh_folder(os.path.join(TRY, "tmp"))
        write_files(course, {"server.py": server, "lecons.py": "PAGES = 'pages'\n", "pages/index.html": PAGE})
        wheels = fresh_folder(os.path.join(TRY, "wheels"))
        for name, version, files, requires in PACKAGES:
            make_wheel(wheels, name, version, files=files, requires=requires)
        write_files(TRY, {"requirements.txt": "cahier==1.0\n"})
        shutil.copyfile(os.path.join(BUILD, "sample-course-files", "python-runtime.zip"),
                        os.path.join(upload, "python-runtime.zip"))
        description = os.path.join(TRY, "cours.course")
        with open(description, "w", encoding="utf-8") as out:
            out.write(description_text(FIELDS, [("cours.zip", "file:cours.zip"),
                                                ("paquets.zip", "file:paquets.zip")]))
        run = build_course(description, os.path.join(upload, "cours-setup.exe"), "--files", upload,
                           "--pack", f"cours.zip={course}", "--build-dir", TREE, "--try",
                           "--packages", f"paquets.zip={os.path.join(TRY, 'requirements.txt')}", "--wheels", wheels,
                           environment={"TMPDIR": temporary})
        self.assertEqual(processes_of(temporary), [], "processes of the try are left running")
        self.assertEqual(os.listdir(temporary), [], "the try left its prefix behind")
        return run

    def test_course_that_answers_passes(self):
        run = self.try_course(ANSWERING_SERVER)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("Checksum verified for paquets.zip.\nInstall complete. Opening the course...\n", run.stdout)
        # The stand-in runtime, which only Wine runs, is not offered for learners.
        self.assertIn("Warning: python-runtime.zip is not the embeddable Python for Windows", run.stdout)
        self.assertIn("at https://fichiers.cours.example/files/; the runtime is for tries under Wine only", run.stdout)
        self.assertIn("http://127.0.0.1:8793/ answers: Leçon 1 : les accents\n", run.stdout)

    def test_server_dying_at_start_fails(self):
        run = self.try_course(DYING_SERVER)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("Install complete. Opening the course...\n", run.stdout)
        self.assertIn("The course did not start; the launcher sent the browser to its failure page:\n"
                      "Cours de français could not start\n"
                      "Its server stopped before it answered at http://127.0.0.1:8793/.\n", run.stdout)
        self.assertIn("\nserver.py: the lessons folder is missing\n", run.stdout)


NOBODY = 65534  # the user and group nobody
SYSTEM_PYTHON = "/usr/bin/python3"  # Debian's, which any user may run


class TryAsAnotherUser(unittest.TestCase):
    @unittest.skipUnless(os.geteuid() == 0, "only root can become another user here")
    def test_the_sample_course_tries_as_nobody(self):
        # The user's own copy of what the try reads, in a folder that user
        # owns: a checkout in root's home folder is not theirs to read.
        with tempfile.TemporaryDirectory() as theirs:
            for folder in ("author", "winekit", "sample-course"):
                shutil.copytree(os.path.join(SOURCE, folder), os.path.join(theirs, folder))
            helpers = os.path.join(theirs, "build")
            # The blank prefix's drives are links (z: to /), copied as links.
            shutil.copytree(os.path.join(BUILD, "winekit"), os.path.join(helpers, "winekit"), symlinks=True,
                            ignore=shutil.ignore_patterns("wineserver", "*.lock", "CMakeFiles"))
            shutil.copytree(os.path.join(BUILD, "sample-course-files"), os.path.join(theirs, "files"))
            program = shutil.copy(os.path.join(BUILD, "quillby-sample-setup.exe"), theirs)
            for folder, names, files in os.walk(theirs):
                for path in [folder] + [os.path.join(folder, name) for name in names + files]:
                    os.chown(path, NOBODY, NOBODY, follow_symlinks=False)
            run = subprocess.run(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                                  "env", f"HOME={theirs}", f"TMPDIR={theirs}", SYSTEM_PYTHON,
                                  os.path.join(theirs, "author", "try", "try_course.py"),
                                  os.path.join(theirs, "sample-course", "sample.course"), program,
                                  "--files", os.path.join(theirs, "files"), "--helpers", helpers],
                                 cwd=theirs, capture_output=True, text=True, stdin=subprocess.DEVNULL)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            self.assertIn("Install complete. Opening the course...\n", run.stdout)
            self.assertIn("http://127.0.0.1:8793/ answers: Quillby sample course", run.stdout)
            self.assertEqual(processes_of(theirs), [], "processes of the try are left running")


class ServedFiles(unittest.TestCase):
    def test_each_address_serves_the_file_its_pin_is_computed_from(self):
        parts = [("cours.zip", "file:builds/2/cours-v2.zip", "here:1"), ("media.zip", "0" * 64, "here:2")]
        self.assertEqual(try_course.served_files(FIELDS, parts, "/upload"), [
            ("https://python.cours.example/ftp/python-runtime.zip", "/upload/python-runtime.zip"),
            ("https://fichiers.cours.example/files/cours.zip", "/upload/builds/2/cours-v2.zip"),
            # Pinned by its digest: the file named as the address is the one.
            ("https://fichiers.cours.example/files/media.zip", "/upload/media.zip"),
        ])


if __name__ == "__main__":
    unittest.main()
