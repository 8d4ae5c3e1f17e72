"""--check-served fetches what the program will fetch from the local HTTPS
test server (its throwaway CA trusted through SSL_CERT_FILE) and names each
address whose body the program would refuse: an archive changed after the
build, one missing, an error page in place of the runtime, a redirect to
plain http, a body cut short, one encoded, an address too long to follow or
malformed, a server that drips. It builds nothing."""
import hashlib
import os
import shutil
import ssl
import subprocess
import sys
import time
import unittest

from course_author import SOURCE, WORK, build_course, description_text, fresh_folder, sha256_of

SERVER_CONTROL = os.path.join(SOURCE, "winekit", "server_ctl.sh")
PARTS = ["lessons.zip", "media.zip"]
USER_AGENT = "ServedCheck/3"

sys.path.insert(0, os.path.join(SOURCE, "author"))
import check_served  # noqa: E402


def server_values(state):
    with open(os.path.join(state, "server.txt")) as info:
        return dict(line.strip().split("=", 1) for line in info)


class CheckServed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = fresh_folder(os.path.join(WORK, "check-served"))
        cls.upload = fresh_folder(os.path.join(cls.work, "upload"))
        for index, name in enumerate(PARTS):
            with open(os.path.join(cls.upload, name), "wb") as archive:
                archive.write(f"archive {index}\n".encode() * 5000)
        cls.served = os.path.join(cls.work, "served")
        cls.state = os.path.join(cls.work, "server")
        # A port of the system's choosing, not the harness's fixed ones.
        subprocess.run([SERVER_CONTROL, "start", cls.state, cls.served, "300"], check=True, stdin=subprocess.DEVNULL)
        cls.server = server_values(cls.state)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([SERVER_CONTROL, "stop", cls.state], check=True)

    def setUp(self):
        shutil.rmtree(self.served, ignore_errors=True)
        shutil.copytree(self.upload, self.served)

    def base(self):
        return f"https://localhost:{self.server['TRUSTED_PORT']}"

    def check_served(self, runtime_path, runtime_pin, authorities=None):
        base = self.base()
        fields = {
            "title": "Served check - setup", "tagline": "This installs nothing.", "install_folder": "ServedCheck",
            "user_agent": USER_AGENT, "runtime_url": base + runtime_path, "runtime_sha256": runtime_pin,
            "runtime_label": "the runtime", "payload_base_url": base + "/files", "launcher_name": "start.bat",
            "shortcut_name": "Served.lnk", "course_url": "http://127.0.0.1:8793/",
        }
        description = os.path.join(self.work, "served.course")
        with open(description, "w", encoding="utf-8") as out:
            out.write(description_text(fields, [(name, f"file:{name}") for name in PARTS]))
        return build_course(description, os.path.join(self.work, "out", "served-setup.exe"), "--files", self.upload,
                            "--check-served",
                            environment={"SSL_CERT_FILE": authorities or os.path.join(self.state, "ca.pem")})

    def lines(self, run):
        return dict(line.split(": ", 1) for line in run.stdout.splitlines())

    def pin(self, name):
        return sha256_of(os.path.join(self.upload, name))

    def test_all_served_as_pinned(self):
        # The runtime through an https redirect, which the program follows too.
        run = self.check_served("/redirect", self.server["SHA256_NORMAL"])
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(self.lines(run), {
            "the runtime": f"{self.server['SIZE_NORMAL']} bytes, OK",
            "lessons.zip": f"{os.path.getsize(os.path.join(self.upload, 'lessons.zip'))} bytes, OK",
            "media.zip": f"{os.path.getsize(os.path.join(self.upload, 'media.zip'))} bytes, OK",
        })
        with open(os.path.join(self.state, "requests.log")) as log:
            asked = [line.rstrip("\n").split("\t")[2:] for line in log][-4:]
        self.assertEqual(asked, [["/redirect", USER_AGENT], ["/normal", USER_AGENT],
                                 ["/files/lessons.zip", USER_AGENT], ["/files/media.zip", USER_AGENT]])
        self.assertFalse(os.path.exists(os.path.join(self.work, "out")))
        # The server's CA is trusted only through SSL_CERT_FILE.
        run = self.check_served("/redirect", self.server["SHA256_NORMAL"], authorities=os.devnull)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertEqual(len(self.lines(run)), 3)
        for line in self.lines(run).values():
            self.assertIn("not fetched: [SSL: CERTIFICATE_VERIFY_FAILED]", line)

    def test_each_address_the_program_would_refuse_is_named(self):
        changed = b"archive 0, packed again\n"
        # Each fault: the runtime's path, what the served folder holds in
        # place of an archive (None: nothing), the line and what it must say.
        cases = [
            ("archive changed", "/normal", {"lessons.zip": changed}, "lessons.zip",
             f"{len(changed)} bytes, served SHA-256 {hashlib.sha256(changed).hexdigest()} "
             f"where the pin is {self.pin('lessons.zip')} (HTTP status 200"),
            ("archive missing", "/normal", {"media.zip": None}, "media.zip",
             f"where the pin is {self.pin('media.zip')} (HTTP status 404, content type text/plain)"),
            ("error page", "/error-page", {}, "the runtime", "(HTTP status 200, content type text/html)"),
            ("redirect to http", "/to-plain", {}, "the runtime",
             f"redirected to http://localhost:{self.server['PLAIN_PORT']}/normal, which is not https"),
        ]
        for kind, runtime_path, served, name, message in cases:
            with self.subTest(kind):
                self.setUp()
                for archive, data in served.items():
                    os.remove(os.path.join(self.served, archive))
                    if data is not None:
                        with open(os.path.join(self.served, archive), "wb") as out:
                            out.write(data)
                run = self.check_served(runtime_path, self.server["SHA256_NORMAL"])
                self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                lines = self.lines(run)
                self.assertEqual(list(lines), ["the runtime"] + PARTS)
                address = self.base() + (runtime_path if name == "the runtime" else f"/files/{name}")
                self.assertTrue(lines[name].startswith(address + ": "), lines[name])
                self.assertIn(message, lines[name])
                self.assertEqual([other for other, line in lines.items() if not line.endswith(" bytes, OK")], [name])

    def test_what_the_program_would_meet_is_said(self):
        context = ssl.create_default_context(cafile=os.path.join(self.state, "ca.pem"))
        base = self.base()
        long_address = f"{base}/normal?" + "a" * 2100  # where /redirect-long sends
        cases = [
            ("cut", f"{base}/cut", "cut short: 400000 bytes received of the 1000000 announced"),
            ("encoded", f"{base}/gzip", "served with Content-Encoding gzip, which the program does not ask for"),
            ("too long", f"{base}/redirect-long",
             f"the address is {len(long_address)} characters long, and the program follows at most 2083"),
            ("bad port", "https://localhost:99999/normal",
             "malformed address https://localhost:99999/normal: Port out of range"),
            ("bad port in a redirect", f"{base}/redirect-to?location=https://localhost:x1/normal",
             "malformed address https://localhost:x1/normal: Port could not be cast"),
        ]
        for kind, address, message in cases:
            with self.subTest(kind):
                answer = check_served.fetch(address, USER_AGENT, context)
                self.assertIsInstance(answer, str)
                self.assertTrue(answer.startswith(message), answer)
        # One byte every 3 seconds: held to the whole-fetch limit, not to
        # the 1000 bytes' 50 minutes.
        start = time.monotonic()
        self.assertEqual(check_served.fetch(f"{base}/slow-drip", USER_AGENT, context, limit=2),
                         "still sending after 2 seconds")
        self.assertLess(time.monotonic() - start, 10)


if __name__ == "__main__":
    unittest.main()
