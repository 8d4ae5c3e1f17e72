"""The same sources and description give the same bytes: the one command,
in a build tree of its own, makes byte for byte the programs the windows
tree made: the default course, and the sample course built as README.md
tells course authors to."""
import os
import shutil
import unittest

from course_author import BUILD, SOURCE, TREE, WORK, build_course, fresh_folder


class SameBytes(unittest.TestCase):
    def assert_same_file(self, made, reference):
        with open(made, "rb") as first, open(reference, "rb") as second:
            self.assertTrue(first.read() == second.read(), f"{made} differs from {reference}")

    def test_default_course_from_its_description(self):
        work = fresh_folder(os.path.join(WORK, "default-course"))
        program = os.path.join(work, "quillby-setup.exe")
        run = build_course(os.path.join(SOURCE, "courses", "quillby.course"), program,
                           "--build-dir", TREE)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assert_same_file(program, os.path.join(BUILD, "quillby-setup.exe"))

    def test_sample_course_as_in_the_readme(self):
        work = fresh_folder(os.path.join(WORK, "sample-course"))
        upload = fresh_folder(os.path.join(work, "upload"))
        shutil.copyfile(os.path.join(BUILD, "sample-course-files", "python-runtime.zip"),
                        os.path.join(upload, "python-runtime.zip"))
        program = os.path.join(upload, "quillby-sample-setup.exe")
        sample = os.path.join(SOURCE, "sample-course")
        run = build_course(os.path.join(sample, "sample.course"), program, "--files", upload,
                           "--pack", f"sample-course.zip={os.path.join(sample, 'course')}",
                           "--packages", f"sample-packages.zip={os.path.join(sample, 'requirements.txt')}",
                           "--wheels", os.path.join(BUILD, "sample-course-wheels"), "--build-dir", TREE)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for archive in ("sample-course.zip", "sample-packages.zip"):
            self.assert_same_file(os.path.join(upload, archive), os.path.join(BUILD, "sample-course-files", archive))
        self.assert_same_file(program, os.path.join(BUILD, "quillby-sample-setup.exe"))


if __name__ == "__main__":
    unittest.main()
