"""The one command builds a second course of three payload archives, each
packed from its own folder, under a program name of the author's, and builds
it again with the new pin when an archive is packed anew; the other tests
read the program it leaves."""
import os
import unittest
import zipfile

from course_author import (SECOND, SECOND_DESCRIPTION, SECOND_PARTS, SECOND_PROGRAM, SECOND_RUNTIME_PIN,
                           SECOND_UPLOAD, build_course, build_second_course, fresh_folder, second_course_folder,
                           second_course_sources, sha256_of)


class SecondCourse(unittest.TestCase):
    def test_builds_with_pins_of_the_archives_it_packs(self):
        fresh_folder(SECOND)
        packs = second_course_sources()
        run = build_second_course(SECOND_PROGRAM, *packs)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(os.path.isfile(SECOND_PROGRAM))
        self.assertFalse(os.path.exists(SECOND_PROGRAM + ".partial"))
        self.assertIn(f"Pinned the Lantern runtime: {SECOND_RUNTIME_PIN}\n", run.stdout)
        for name, files in SECOND_PARTS:
            archive = os.path.join(SECOND_UPLOAD, name)
            self.assertIn(f"Pinned payload part {name}: {sha256_of(archive)}\n", run.stdout)
            with zipfile.ZipFile(archive) as packed:
                self.assertEqual({info.filename: packed.read(info).decode() for info in packed.infolist()}, files)
        # Its runtime is pinned by digest, so not at hand: nothing tells it
        # apart from the official one.
        self.assertNotIn("Warning", run.stdout)
        self.assertIn(" and the runtime at https://lantern.example/runtime/python.zip\n", run.stdout)

    def test_packing_again_gives_the_same_bytes(self):
        # Another files folder, the same course folders: the same archives.
        again = fresh_folder(os.path.join(SECOND, "packed-again"))
        run = build_course(SECOND_DESCRIPTION, "--check", "--files", again, *second_course_sources())
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for name, _ in SECOND_PARTS:
            with open(os.path.join(again, name), "rb") as second:
                with open(os.path.join(SECOND_UPLOAD, name), "rb") as first:
                    self.assertEqual(second.read(), first.read(), name)
        self.assertFalse(os.path.exists(os.path.join(again, "lantern-setup.exe")))

    def test_repacking_builds_the_new_pin_in(self):
        name = SECOND_PARTS[1][0]
        archive = os.path.join(SECOND_UPLOAD, name)
        original = sha256_of(archive)
        # The tree up to date first (the description was written anew), so
        # that only the archive can tell the build that the pin changed.
        run = build_second_course(SECOND_PROGRAM)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(os.path.join(second_course_folder(name), "lesson-1.html"), "a") as lesson:
            lesson.write("<p>One more line</p>\n")
        run = build_second_course(SECOND_PROGRAM, "--pack", f"{name}={second_course_folder(name)}")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        changed = sha256_of(archive)
        self.assertNotEqual(changed, original)
        self.assert_pins_in_program(present=changed, absent=original)
        # Back to the course the other tests expect.
        run = build_second_course(SECOND_PROGRAM, *second_course_sources())
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assert_pins_in_program(present=original, absent=changed)

    def assert_pins_in_program(self, present, absent):
        with open(SECOND_PROGRAM, "rb") as program:
            data = program.read()
        self.assertTrue(present.encode() in data, f"the program lacks the pin {present}")
        self.assertFalse(absent.encode() in data, f"the program still has the pin {absent}")


if __name__ == "__main__":
    unittest.main()
