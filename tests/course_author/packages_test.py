"""--packages: a requirements file resolved for the learner's CPython 3.12 on
64-bit Windows, whatever machine builds, into one archive under the install
folder's packages folder; and each fault refused by name, the files folder
left as it was."""
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

from course_author import (BUILD_COURSE, SECOND_FIELDS, SOURCE, WORK, build_course, description_text, fresh_folder,
                           sha256_of, write_files)
from wheels import make_wheel

sys.path.insert(0, os.path.join(SOURCE, "author"))
import course_packages  # noqa: E402 (in the source tree)
import make_zip  # noqa: E402

HERE = os.path.join(WORK, "packages")
WHEELS = os.path.join(HERE, "wheels")
REQUIREMENTS = os.path.join(HERE, "requirements.txt")
# The second course's fields serve; its icon, which --check reads, stays out.
FIELDS = {key: value for key, value in SECOND_FIELDS.items() if key != "icon"}
PARTS = [("app.zip", "file:app.zip"), ("deps.zip", "file:deps.zip")]
APP_REQUIRES = ["fast>=2", 'winonly; sys_platform == "win32"', 'linuxonly; sys_platform == "linux"',
                'modern; python_version >= "3.12"', 'speedups; extra == "speed"', 'docs; extra == "docs"']
# Deeper than Windows PowerShell unpacks under a real user's install folder.
TOO_DEEP = "deep/" + "d" * 120 + "/" + "f" * 120 + ".py"
# (name, version, keyword arguments of make_wheel)
WHEEL_SET = [
    ("App", "1.0", dict(files={"app/__init__.py": "import fast\n"}, requires=APP_REQUIRES, extras=["speed", "docs"])),
    ("fast", "2.0", dict(tag="cp312-cp312-win_amd64", files={"fast.pyd": b"MZ placeholder"})),
    ("fast", "2.0", dict(files={"fast.py": "pure = True\n"})),
    ("fast", "2.1", dict(tag="cp312-cp312-manylinux_2_17_x86_64",
                         files={"fast.cpython-312-x86_64-linux-gnu.so": b"\x7fELF"})),
    ("fast", "1.0", dict(files={"fast.py": "old = True\n"})),
    ("strict", "1.0", dict(files={"strict.py": ""}, requires=["fast<2"])),
    ("anyfast", "1.0", dict(files={"anyfast.py": ""}, requires=["fast"])),
    ("clicky", "8.1", dict(files={"clicky.py": ""},
                           requires=['winonly; platform_system == "Windows"', 'linuxonly; sys_platform == "linux"'])),
    ("decoy", "1.0", dict(tag="cp312-cp312-manylinux_2_17_x86_64", files={"decoy.so": b"\x7fELF"})),
    ("hidden", "1.0", dict(files={"hidden/hiddenmod.py": "", "hidden.pth": "hidden\n"})),
    ("hook", "1.0", dict(files={"hook/__init__.py": "", "hook.pth": "# starts the hook\n\nimport hook\n"})),
    ("twin-a", "1.0", dict(files={"common/util.py": "a = 1\n"})),
    ("twin-b", "1.0", dict(files={"common/util.py": "b = 1\n"})),
    # Files where twin-a has a folder: common-file's laid out before it,
    # twin-c's after it and in other letters.
    ("common-file", "1.0", dict(files={"common": "a file\n"})),
    ("twin-c", "1.0", dict(files={"Common": "a file\n"})),
    ("escape", "1.0", dict(files={"../escape.py": ""})),
    ("oldpython", "1.0", dict(files={"oldpython.py": ""}, requires_python="<3.12")),
    ("deep", "1.0", dict(files={TOO_DEEP: ""})),
    ("datatree", "1.0", dict(files={"datatree/__init__.py": ""}, data={
        "purelib": {"datatree_extra.py": ""}, "platlib": {"datatree_native/core.pyd": b"MZ"},
        "scripts": {"datatree-tool.exe": b"MZ"}, "headers": {"datatree.h": ""}, "data": {"share/readme": ""}})),
] + [(name, "1.0", dict(files={f"{name}.py": ""})) for name in ("winonly", "linuxonly", "modern", "speedups", "docs")]


def setUpModule():
    fresh_folder(HERE)
    for name, version, options in WHEEL_SET:
        make_wheel(WHEELS, name, version, **options)


def wheel_digest(file_name):
    return sha256_of(os.path.join(WHEELS, file_name))


def write_requirements(*lines):
    with open(REQUIREMENTS, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    return REQUIREMENTS


def pack(*lines):
    """The resolved set and the archive's entries, packed in-process."""
    out = os.path.join(tempfile.mkdtemp(dir=HERE), "deps.zip")
    packed = course_packages.pack(out, write_requirements(*lines), WHEELS, os.path.dirname(out))
    with zipfile.ZipFile(out) as archive:
        return packed, {name: archive.read(name) for name in archive.namelist()}


class Resolution(unittest.TestCase):
    def assert_refused(self, lines, *fragments):
        with self.assertRaises(make_zip.PackError) as caught:
            pack(*lines)
        for fragment in fragments:
            self.assertIn(fragment, str(caught.exception))

    def test_the_set_is_the_one_windows_needs_whatever_machine_builds(self):
        packed, entries = pack("app[speed]==1.0")
        self.assertEqual(packed, [("App", "1.0", "app-1.0-py3-none-any.whl"),
                                  ("fast", "2.0", "fast-2.0-cp312-cp312-win_amd64.whl"),
                                  ("modern", "1.0", "modern-1.0-py3-none-any.whl"),
                                  ("speedups", "1.0", "speedups-1.0-py3-none-any.whl"),
                                  ("winonly", "1.0", "winonly-1.0-py3-none-any.whl")])
        self.assertEqual(entries["packages/fast.pyd"], b"MZ placeholder")
        self.assertNotIn("packages/fast.py", entries)
        self.assertIn("packages/fast-2.0.dist-info/METADATA", entries)
        self.assertTrue(all(name.startswith("packages/") for name in entries), entries)

    def test_a_package_with_no_wheel_for_windows_is_refused_naming_the_wheels_there(self):
        self.assert_refused(["decoy==1.0"], "decoy==1.0 (required by ", "requirements.txt:1): no wheel for "
                            "CPython 3.12 on win_amd64", "only decoy-1.0-cp312-cp312-manylinux_2_17_x86_64.whl")

    def test_the_version_chosen_meets_every_requirement_waiting_for_it(self):
        packed, _ = pack("anyfast==1.0", "strict==1.0")
        self.assertIn(("fast", "1.0", "fast-1.0-py3-none-any.whl"), packed)

    def test_a_later_requirement_that_excludes_the_version_chosen_is_refused_naming_both(self):
        self.assert_refused(["fast==2.0", "strict==1.0"],
                            f"fast 2.0 (required by {REQUIREMENTS}:1) does not meet fast<2 (required by strict 1.0)")

    def test_a_wheel_whose_python_is_not_the_runtime_is_refused(self):
        self.assert_refused(["oldpython==1.0"], "oldpython-1.0-py3-none-any.whl: Requires-Python <3.12 leaves out "
                            "the course's Python 3.12.10")


class Layout(unittest.TestCase):
    def test_data_trees_for_modules_merge_and_the_rest_stay_out(self):
        _, entries = pack("datatree==1.0")
        self.assertEqual(sorted(name for name in entries if "dist-info" not in name), [
            "packages/datatree/__init__.py", "packages/datatree_extra.py", "packages/datatree_native/core.pyd"])
        record = entries["packages/datatree-1.0.dist-info/RECORD"].decode("utf-8")
        self.assertIn("datatree_native/core.pyd,sha256=", record)
        self.assertNotIn(".data/", record)

    def test_wheels_an_installer_would_not_lay_out_as_they_are_refused_by_name(self):
        for kind, lines, fragment in [
                ("importable only through a .pth", ["hidden==1.0"], "hidden 1.0: hidden-1.0-py3-none-any.whl: "
                 "hidden.pth puts hidden on the import path, and the course's runtime reads no .pth files"),
                ("importing only through a .pth", ["hook==1.0"], "hook 1.0: hook-1.0-py3-none-any.whl: "
                 "hook.pth runs import hook at start-up, and the course's runtime reads no .pth files (no site)"),
                ("two writing one file", ["twin-a==1.0", "twin-b==1.0"],
                 "twin_a-1.0-py3-none-any.whl and twin_b-1.0-py3-none-any.whl both write packages/common/util.py"),
                ("a file, then a folder of that name", ["common-file==1.0", "twin-a==1.0"],
                 "common_file-1.0-py3-none-any.whl and twin_a-1.0-py3-none-any.whl both write packages/common, "
                 "common_file-1.0-py3-none-any.whl as a file and twin_a-1.0-py3-none-any.whl as a folder "
                 "(packages/common/util.py)"),
                ("a folder, then a file of that name in other letters", ["twin-a==1.0", "twin-c==1.0"],
                 "twin_a-1.0-py3-none-any.whl and twin_c-1.0-py3-none-any.whl both write packages/Common, "
                 "twin_a-1.0-py3-none-any.whl as a folder (packages/common/util.py) and "
                 "twin_c-1.0-py3-none-any.whl as a file"),
                ("entry outside", ["escape==1.0"],
                 "escape-1.0-py3-none-any.whl: ../escape.py: the entry would land outside the packages folder")]:
            with self.subTest(kind):
                with self.assertRaises(make_zip.PackError) as caught:
                    pack(*lines)
                self.assertIn(fragment, str(caught.exception))


class RequirementsFile(unittest.TestCase):
    def test_lines_pip_takes_but_a_course_cannot_are_refused_with_path_and_line(self):
        for line, fragment in [("app>=1.0", "app>=1.0: not pinned with =="),
                               ("fast==2.*", "fast==2.*: not pinned with =="),
                               ("app @ https://packages.example/app.whl",
                                "app @ https://packages.example/app.whl: not pinned with =="),
                               ("-r more.txt", "-r: not taken here"),
                               ("-e .", "-e: not taken here"),
                               ("--index-url=https://packages.example/simple", "--index-url: not taken here"),
                               ("app==1.0 --no-deps", "--no-deps: not taken here"),
                               ("app==1.0 --hash=md5:00", "--hash=md5:00: expected --hash=ALGORITHM:HEX")]:
            with self.subTest(line), self.assertRaises(make_zip.PackError) as caught:
                pack("# a comment", line)
            self.assertIn(f"requirements.txt:2: {fragment}", str(caught.exception))

    def test_hashes_continued_over_lines_let_matching_wheels_through(self):
        packed, _ = pack("fast==2.0 \\", f"    --hash=sha256:{'0' * 64} \\",
                         f"    --hash sha256:{wheel_digest('fast-2.0-cp312-cp312-win_amd64.whl').upper()}  # the one")
        self.assertEqual(packed, [("fast", "2.0", "fast-2.0-cp312-cp312-win_amd64.whl")])

    def test_a_comment_line_continues_nothing_whatever_it_ends_with(self):
        # As pip reads the file: a line that is a comment (a # first, blanks
        # aside) is never joined to the next, and ends a line continued into it.
        for kind, lines, wanted in [
                ("a comment", ["# wheels from C:\\wheels\\", "winonly==1.0"], ["winonly"]),
                ("one that ends a continued line", ["docs==1.0 \\", "    # from C:\\wheels\\", "winonly==1.0"],
                 ["docs", "winonly"])]:
            with self.subTest(kind):
                packed, _ = pack(*lines)
                self.assertEqual([name for name, _, _ in packed], wanted)
        with self.assertRaises(make_zip.PackError) as caught:
            pack("docs==1.0 \\", "  # from C:\\wheels\\", "winonly>=1.0")
        self.assertIn("requirements.txt:3: winonly>=1.0: not pinned with ==", str(caught.exception))

    def test_with_hashes_every_wheel_of_the_set_must_match_one(self):
        pure = wheel_digest("fast-2.0-py3-none-any.whl")
        app = wheel_digest("app-1.0-py3-none-any.whl")
        for kind, lines, fragment in [
                ("another wheel's hash", [f"fast==2.0 --hash=sha256:{pure}"],
                 f"fast-2.0-cp312-cp312-win_amd64.whl: sha256 {wheel_digest('fast-2.0-cp312-cp312-win_amd64.whl')} "
                 "matches no --hash given for fast at "),
                ("a dependency without one", [f"app==1.0 --hash=sha256:{app}"],
                 f"fast-2.0-cp312-cp312-win_amd64.whl: {REQUIREMENTS} gives hashes, but none for fast")]:
            with self.subTest(kind), self.assertRaises(make_zip.PackError) as caught:
                pack(*lines)
            self.assertIn(fragment, str(caught.exception))


class TheOneCommand(unittest.TestCase):
    """What the author sees: the set before the pins, the archive put in the
    files folder only when the course passes every check."""

    def setUp(self):
        self.work = fresh_folder(os.path.join(HERE, "command"))
        self.description = os.path.join(self.work, "packages.course")
        with open(self.description, "w", encoding="utf-8") as out:
            out.write(description_text(FIELDS, PARTS))
        self.course = os.path.join(self.work, "course")
        write_files(self.course, {"server.py": "import app\n"})
        self.files = fresh_folder(os.path.join(self.work, "files"))
        self.tree = os.path.join(self.work, "tree")

    def check(self, requirements, *extra, environment=None):
        return build_course(self.description, "--files", self.files, "--build-dir", self.tree, "--pack",
                            f"app.zip={self.course}", "--packages", f"deps.zip={requirements}", *extra, "--check",
                            environment=environment)

    def test_the_set_is_printed_before_the_pins_and_the_same_wheels_give_the_same_pin(self):
        requirements = write_requirements("app[speed]==1.0")
        runs = [self.check(requirements, "--wheels", WHEELS) for _ in range(2)]
        for run in runs:
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        lines = runs[0].stdout.splitlines()
        self.assertEqual([line for line in lines if line.startswith("Package ")], [
            "Package App 1.0: app-1.0-py3-none-any.whl", "Package fast 2.0: fast-2.0-cp312-cp312-win_amd64.whl",
            "Package modern 1.0: modern-1.0-py3-none-any.whl", "Package speedups 1.0: speedups-1.0-py3-none-any.whl",
            "Package winonly 1.0: winonly-1.0-py3-none-any.whl"])
        self.assertLess(max(i for i, line in enumerate(lines) if line.startswith("Package ")),
                        min(i for i, line in enumerate(lines) if line.startswith("Pinned ")))
        pin = f"Pinned payload part deps.zip: {sha256_of(os.path.join(self.files, 'deps.zip'))}"
        self.assertIn(pin, runs[0].stdout)
        self.assertIn(pin, runs[1].stdout)
        self.assertFalse(os.path.exists(self.tree))

    def test_without_wheels_given_pip_fetches_the_same_set_from_its_index(self):
        requirements = write_requirements("clicky==8.1")
        given = self.check(requirements, "--wheels", WHEELS)
        self.assertIn("Package winonly 1.0: winonly-1.0-py3-none-any.whl", given.stdout)
        # pip's own settings point it at the folder, so that no index is asked.
        fetched = self.check(requirements, environment={
            "PIP_NO_INDEX": "1", "PIP_FIND_LINKS": WHEELS, "PIP_CONFIG_FILE": os.devnull})
        self.assertEqual(fetched.returncode, 0, fetched.stdout + fetched.stderr)
        self.assertEqual(fetched.stdout, given.stdout)

    def test_a_python_without_the_packaging_module_is_told_in_one_line_what_to_install(self):
        # Without site (-S) and with no PYTHONPATH or user folder (-I), only
        # the standard library's folders are on the path, packaging being in
        # none of them: a Python that lacks it, as one without Debian's
        # python3-packaging does.
        bare = [sys.executable, "-I", "-S"]
        self.assertNotEqual(subprocess.run(bare + ["-c", "import packaging"], capture_output=True).returncode, 0,
                            "packaging is in the standard library's folders: this test cannot take it away")
        run = subprocess.run(bare + [BUILD_COURSE, self.description, "--files", self.files, "--build-dir", self.tree,
                                     "--packages", f"deps.zip={write_requirements('app==1.0')}", "--check"],
                             capture_output=True, text=True, stdin=subprocess.DEVNULL)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertEqual(run.stdout, "")
        self.assertEqual(len(run.stderr.splitlines()), 1, run.stderr)
        self.assertTrue(run.stderr.startswith("build-course: "), run.stderr)
        for fragment in ("packaging", "python3-packaging", f"sh {os.path.join(SOURCE, 'scripts', 'setup.sh')}"):
            self.assertIn(fragment, run.stderr)

    def test_a_refused_course_leaves_the_files_folder_as_it_was(self):
        write_files(self.files, {"deps.zip": "the archive of an earlier run\n"})
        given = ["--wheels", WHEELS]
        for kind, lines, extra, fragment in [
                ("no wheel for windows", ["decoy==1.0"], given, "requirements.txt:1): no wheel for CPython 3.12"),
                ("a path too long for windows", ["deep==1.0"], given, f"deps.zip: packages/{TOO_DEEP}: "),
                ("one name packed twice", ["app==1.0"], given + ["--pack", f"deps.zip={self.course}"],
                 "deps.zip is given to --pack too"),
                ("one name packed twice by one option", ["app==1.0"],
                 given + ["--pack", f"deps.zip={self.course}"] * 2,
                 f"--pack deps.zip={self.course}: deps.zip is given to --pack too"),
                ("no wheels folder", ["app==1.0"], ["--wheels", os.path.join(self.work, "none")],
                 f"--wheels {os.path.join(self.work, 'none')}: not a folder")]:
            with self.subTest(kind):
                run = self.check(write_requirements(*lines), *extra)
                self.assertNotEqual(run.returncode, 0, run.stdout)
                self.assertTrue(run.stderr.startswith("build-course: "), run.stderr)
                self.assertIn(fragment, run.stderr)
                self.assertEqual(os.listdir(self.files), ["deps.zip"])
                with open(os.path.join(self.files, "deps.zip"), encoding="utf-8") as kept:
                    self.assertEqual(kept.read(), "the archive of an earlier run\n")


if __name__ == "__main__":
    unittest.main()
