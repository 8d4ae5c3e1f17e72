"""The second course's program, run under Wine with --selftest, lists its
own runtime pin and its three parts, in the description's order, each with
the digest of the archive the one command packed."""
import os
import subprocess
import unittest

from course_author import SECOND_PARTS, SECOND_PROGRAM, SECOND_RUNTIME_PIN, SECOND_UPLOAD, SOURCE, WINEPREFIX, sha256_of


class SecondCourseSelftest(unittest.TestCase):
    def test_lists_its_three_rows(self):
        run = subprocess.run([os.path.join(SOURCE, "winekit", "wine-run"), WINEPREFIX, SECOND_PROGRAM, "--selftest"],
                             capture_output=True, stdin=subprocess.DEVNULL, timeout=120)
        expected = ["SHA-256 engine: OK", f"Pinned Python checksum: {SECOND_RUNTIME_PIN}"]
        expected += [f"Pinned payload part {name}: {sha256_of(os.path.join(SECOND_UPLOAD, name))}"
                     for name, _ in SECOND_PARTS]
        self.assertEqual(run.stdout.decode().replace("\r\n", "\n").splitlines(), expected + ["SELFTEST OK"])
        self.assertEqual(run.returncode, 0)


if __name__ == "__main__":
    unittest.main()
