"""The one command signs the second course's program with Authenticode when
given a certificate and key: a throwaway CA and publisher made here with
openssl, the signature checked by osslsigncode with that CA as the only trust
anchor. A wrong password writes no program; a fixed SOURCE_DATE_EPOCH gives
the same signed bytes twice."""
import os
import shutil
import subprocess
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


def make_publisher(folder, authority, password_file):
    """A code-signing certificate from AUTHORITY; its key kept under a password."""
    certificate, key = os.path.join(folder, "publisher.pem"), os.path.join(folder, "publisher.key")
    request, extensions = os.path.join(folder, "publisher.csr"), os.path.join(folder, "publisher.ext")
    with open(extensions, "w") as out:
        out.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n")
    openssl("req", "-newkey", "rsa:2048", "-keyout", key, "-passout", f"file:{password_file}", "-out", request,
            "-subj", f"/CN={PUBLISHER}")
    openssl("x509", "-req", "-in", request, "-CA", authority[0], "-CAkey", authority[1], "-CAcreateserial",
            "-out", certificate, "-days", "2", "-extfile", extensions)
    return certificate, key


def verify(program, anchor):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", anchor, "-in", program],
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
        cls.publisher = make_publisher(cls.work, cls.authority, cls.password)

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
