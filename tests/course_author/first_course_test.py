"""README.md's "Your first course", followed word for word from an empty
folder: its commands, as they stand there, make a course of two modules
(server.py importing one beside it), build its program and try it under
Wine, where the course answers. The one command that needs the internet,
the runtime's download, is met by a curl of the test's own that hands over
the stand-in runtime under the official archive's name."""
import os
import re
import subprocess
import unittest

from course_author import BUILD, SOURCE, WORK, fresh_folder

OFFICIAL_RUNTIME = "https://www.python.org/ftp/python/3.12.10/python-3.12.10-embed-amd64.zip"
# curl as the walk-through calls it, with no network but for that address.
OFFLINE_CURL = """#!/bin/sh
for url; do :; done
[ "$url" = "{address}" ] || {{ echo "curl: (6) Could not resolve host" >&2; exit 6; }}
cp "{runtime}" "${{url##*/}}"
"""


def first_course_commands():
    with open(os.path.join(SOURCE, "README.md"), encoding="utf-8") as readme:
        text = readme.read()
    walk_through = text[text.index("**Your first course.**"):]
    return re.search(r"```sh\n(.*?)```", walk_through, re.S).group(1)


class FirstCourse(unittest.TestCase):
    def test_the_readme_road_builds_and_tries_a_course_of_two_modules(self):
        work = fresh_folder(os.path.join(WORK, "first-course"))
        # The author's home, with this project where the walk-through has it.
        home = fresh_folder(os.path.join(work, "home"))
        os.symlink(SOURCE, os.path.join(home, "quillby"))
        tools = fresh_folder(os.path.join(work, "tools"))
        with open(os.path.join(tools, "curl"), "w") as curl:
            curl.write(OFFLINE_CURL.format(address=OFFICIAL_RUNTIME,
                                           runtime=os.path.join(BUILD, "sample-course-files", "python-runtime.zip")))
        os.chmod(os.path.join(tools, "curl"), 0o755)
        empty = fresh_folder(os.path.join(work, "empty"))
        run = subprocess.run(["bash", "-e", "-c", first_course_commands()], cwd=empty, capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, env=dict(os.environ, HOME=home,
                                                                PATH=f"{tools}:{os.environ['PATH']}"))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertIn("Packed app into ", run.stdout)
        self.assertIn("\nhttp://127.0.0.1:8793/ answers: Lantern: the first lesson\n", run.stdout)
        self.assertTrue(os.path.isfile(os.path.join(empty, "lantern", "lantern-setup.exe")))


if __name__ == "__main__":
    unittest.main()
