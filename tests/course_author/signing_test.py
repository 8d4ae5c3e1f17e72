"""The one command signs the second course's program with Authenticode when
given a certificate and key: a throwaway CA and publisher made here with
openssl, the signature checked by osslsigncode with that CA as the only trust
anchor. A timestamp from a time-stamp authority on the loopback (openssl ts)
keeps the signature valid past the certificate. A wrong password writes no
program; a fixed SOURCE_DATE_EPOCH gives the same signed bytes twice."""
import contextlib
import http.server
import os
import shutil
import subprocess
import threading
import time
import unittest

from course_author import SECOND_PROGRAM, WORK, build_second_course, fresh_folder
from pe_resources import resources

PUBLISHER = "Lantern test publisher"


def openssl(*arguments):
    subprocess.run(["openssl", *arguments], check=True, capture_output=True)


def make_authority(folder, name):
    """A self-signed CA: its certificate and key."""
    certificate, key = os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate, "-days", "2",
            "-subj", f"/CN={name}", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign")
    return certificate, key


def make_certificate(folder, name, subject, authority, extended_usage, password_file=None):
    """A certificate from AUTHORITY for EXTENDED_USAGE: its file and key's,
    the key kept under a password when a password file is given."""
    certificate, key = os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key")
    request, extensions = os.path.join(folder, f"{name}.csr"), os.path.join(folder, f"{name}.ext")
    with open(extensions, "w") as out:
        out.write(f"basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage={extended_usage}\n")
    key_protection = ["-passout", f"file:{password_file}"] if password_file else ["-nodes"]
    openssl("req", "-newkey", "rsa:2048", "-keyout", key, *key_protection, "-out", request, "-subj", f"/CN={subject}")
    openssl("x509", "-req", "-in", request, "-CA", authority[0], "-CAkey", authority[1], "-CAcreateserial",
            "-out", certificate, "-days", "2", "-extfile", extensions)
    return certificate, key


TIME_STAMP_CONFIG = """[ tsa ]
default_tsa = authority
[ authority ]
serial = {folder}/time-stamp-serial
signer_cert = {certificate}
signer_key = {key}
certs = {chain}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


@contextlib.contextmanager
def time_stamp_authority(folder, authority):
    """An RFC 3161 time-stamp authority on the loopback, its certificate from
    AUTHORITY, answering each query with openssl ts; yields its address."""
    certificate, key = make_certificate(folder, "time-stamps", "Lantern test time stamps", authority,
                                        "critical,timeStamping")
    config = os.path.join(folder, "time-stamps.cnf")
    with open(config, "w") as out:
        out.write(TIME_STAMP_CONFIG.format(folder=folder, certificate=certificate, key=key, chain=authority[0]))
    with open(os.path.join(folder, "time-stamp-serial"), "w") as out:
        out.write("01\n")
    query, reply = os.path.join(folder, "query.tsq"), os.path.join(folder, "reply.tsr")

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            if self.headers.get("Content-Type") != "application/timestamp-query":
                self.send_error(415)
                return
            with open(query, "wb") as out:
                out.write(self.rfile.read(int(self.headers["Content-Length"])))
            openssl("ts", "-reply", "-config", config, "-queryfile", query, "-out", reply)
            with open(reply, "rb") as answer:
                data = answer.read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def log_message(self, *_):
            pass

    with http.server.HTTPServer(("127.0.0.1", 0), Handler) as server:
        thread = threading.Thread(target=server.serve_forever)
        thread.start()
        try:
            yield f"http://127.0.0.1:{server.server_port}/"
        finally:
            server.shutdown()
            thread.join()


def verify(program, anchor, *options):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", anchor, *options, "-in", program],
                          capture_output=True, text=True, stdin=subprocess.DEVNULL)


class Signing(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = fresh_folder(os.path.join(WORK, "signing"))
        cls.password = os.path.join(cls.work, "password.txt")
        with open(cls.password, "w") as out:
            out.write("throwaway words\n")
        cls.authority = make_authority(cls.work, "Throwaway CA")
        cls.stranger = make_authority(cls.work, "Stranger CA")
        cls.publisher = make_certificate(cls.work, "publisher", PUBLISHER, cls.authority, "codeSigning", cls.password)

    def sign(self, output, password_file, environment=None):
        return build_second_course(output, "--sign", *self.publisher, "--password-file", password_file,
                                   environment=environment)

    def test_signed_program_verifies_against_its_ca_only(self):
        signed = os.path.join(self.work, "signed", "lantern-setup.exe")
        run = self.sign(signed, self.password)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        checked = verify(signed, self.authority[0])
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertIn("Signature verification: ok", checked.stdout)
        self.assertIn(PUBLISHER, checked.stdout)
        self.assertNotEqual(verify(signed, self.stranger[0]).returncode, 0)
        self.assertNotEqual(verify(SECOND_PROGRAM, self.authority[0]).returncode, 0)
        # The signature covers the code: one byte changed and it fails.
        tampered = os.path.join(self.work, "tampered.exe")
        shutil.copyfile(signed, tampered)
        with open(tampered, "r+b") as program:
            program.seek(0x1000)
            byte = program.read(1)
            program.seek(0x1000)
            program.write(bytes([byte[0] ^ 1]))
        self.assertNotEqual(verify(tampered, self.authority[0]).returncode, 0)
        # Signing keeps the resources.
        self.assertEqual(resources(signed), resources(SECOND_PROGRAM))

    def test_a_timestamp_keeps_the_signature_valid_once_the_certificate_expired(self):
        stamped, unstamped = (os.path.join(self.work, name, "lantern-setup.exe") for name in ("stamped", "unstamped"))
        with time_stamp_authority(self.work, self.authority) as address:
            run = build_second_course(stamped, "--sign", *self.publisher, "--password-file", self.password,
                                      "--timestamp", address)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        run = self.sign(unstamped, self.password)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        # Three days on, past the two days the publisher's certificate lasts.
        later = ["-TSA-CAfile", self.authority[0], "-time", str(int(time.time()) + 3 * 24 * 3600)]
        checked = verify(stamped, self.authority[0], *later)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", checked.stdout)
        self.assertIn("Signature verification: ok", checked.stdout)
        checked = verify(unstamped, self.authority[0], *later)
        self.assertNotEqual(checked.returncode, 0, checked.stdout)
        self.assertIn("Timestamp is not available", checked.stdout)

    def test_a_wrong_password_writes_no_program(self):
        wrong = os.path.join(self.work, "wrong.txt")
        with open(wrong, "w") as out:
            out.write("other words\n")
        output = os.path.join(self.work, "wrong", "lantern-setup.exe")
        run = self.sign(output, wrong)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("build-course: signing failed", run.stderr)
        self.assertEqual(os.listdir(os.path.dirname(output)), [])

    def test_a_fixed_signing_time_gives_the_same_bytes(self):
        epoch = {"SOURCE_DATE_EPOCH": str(int(time.time()) - 60)}
        outputs = [os.path.join(self.work, f"dated-{index}", "lantern-setup.exe") for index in (1, 2)]
        for output in outputs:
            run = self.sign(output, self.password, epoch)
            self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
            time.sleep(1.1)  # a signature dated by the clock would differ now
        with open(outputs[0], "rb") as first, open(outputs[1], "rb") as second:
            self.assertEqual(first.read(), second.read())
        self.assertEqual(verify(outputs[0], self.authority[0]).returncode, 0)


if __name__ == "__main__":
    unittest.main()
