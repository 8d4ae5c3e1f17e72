"""The one command publishes an update of the second course: a key of the
author's own, readable by its owner alone and never overwritten; the program
built with the public keys in it; a document signed with the key that names
the program and the archives as the files folder holds them; the same update
published again refused, nothing overwritten. --check-served holds what the
local HTTPS server serves to the document and the document to the key. The
shared tree then builds a course without updates: no key outlives its
course."""
import os
import shutil
import stat
import subprocess
import sys
import unittest

from check_served_test import SERVER_CONTROL, server_values
from course_author import (SECOND_DESCRIPTION, SECOND_FIELDS, SECOND_PARTS, SECOND_UPLOAD, SOURCE, TREE, WORK,
                           build_course, build_second_course, description_text, fresh_folder, sha256_of)

sys.path.insert(0, os.path.join(SOURCE, "author"))
import update_document  # noqa: E402

NOTES = "Lesson 3, and a sharper map"
RUNTIME = b"the lantern runtime"  # what the second course's runtime pin is the digest of


def read_bytes(path):
    with open(path, "rb") as data:
        return data.read()


def folder_bytes(folder):
    return {name: read_bytes(os.path.join(folder, name)) for name in os.listdir(folder)}


class UpdatePublish(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = fresh_folder(os.path.join(WORK, "update-publish"))
        cls.files = fresh_folder(os.path.join(cls.work, "files"))
        cls.served, state = os.path.join(cls.work, "served"), os.path.join(cls.work, "server")
        subprocess.run([SERVER_CONTROL, "start", state, cls.served, "600"], check=True, stdin=subprocess.DEVNULL)
        cls.addClassCleanup(subprocess.run, [SERVER_CONTROL, "stop", state], check=True)
        cls.base = f"https://localhost:{server_values(state)['TRUSTED_PORT']}/files"
        cls.authorities = {"SSL_CERT_FILE": os.path.join(state, "ca.pem")}
        for name, _ in SECOND_PARTS:
            shutil.copy(os.path.join(SECOND_UPLOAD, name), cls.files)
        with open(os.path.join(cls.files, "python.zip"), "wb") as out:
            out.write(RUNTIME)
        fields = dict({key: value for key, value in SECOND_FIELDS.items() if key != "icon"},
                      runtime_url=cls.base + "/python.zip", payload_base_url=cls.base,
                      updates=cls.base + "/lantern-update.txt", update_sequence="3")
        cls.description = os.path.join(cls.work, "lantern.course")
        with open(cls.description, "w", encoding="utf-8") as out:
            out.write(description_text(fields, [(name, f"file:{name}") for name, _ in SECOND_PARTS]))
        cls.key, cls.password = os.path.join(cls.work, "update.pem"), os.path.join(cls.work, "password")
        with open(cls.password, "w") as out:
            out.write("a passphrase\n")
        cls.made = build_course("--new-update-key", cls.key, "--password-file", cls.password)
        backup = os.path.join(cls.work, "backup.pem")
        cls.backup = os.path.join(cls.work, "backup-public.pem")
        build_course("--new-update-key", backup)
        subprocess.run(["openssl", "pkey", "-in", backup, "-pubout", "-out", cls.backup], check=True)
        cls.program = os.path.join(cls.work, "out", "lantern-setup.exe")
        cls.publish = ["--update-key", cls.key, "--update-password-file", cls.password, "--update-backup-key",
                       cls.backup, "--publish-update", "--update-next-key", cls.backup, "--update-notes", NOTES]
        cls.published = cls.build(*cls.publish)
        cls.hexes = [update_document.public_hex(update_document.load_key(cls.key, cls.password)),
                     update_document.public_hex(update_document.load_public(cls.backup))]

    @classmethod
    def build(cls, *arguments):
        return build_course(cls.description, cls.program, "--files", cls.files, "--build-dir", TREE, *arguments,
                            environment=cls.authorities)

    def document(self):
        return read_bytes(os.path.join(self.files, "lantern-update.txt"))

    def test_the_key_is_its_owners_alone_and_never_overwritten(self):
        self.assertEqual(self.made.returncode, 0, self.made.stdout + self.made.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(self.key).st_mode), 0o600)
        self.assertIn(f"its public key: {self.hexes[0]}\n", self.made.stdout)
        self.assertIn("off this machine", self.made.stdout)
        key = read_bytes(self.key)
        run = build_course("--new-update-key", self.key)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("never overwritten", run.stderr)
        self.assertEqual(read_bytes(self.key), key)

    def test_the_document_is_signed_and_names_the_files_as_they_are(self):
        self.assertEqual(self.published.returncode, 0, self.published.stdout + self.published.stderr)
        document = self.document()
        fields, fault = update_document.read(document)
        self.assertIsNone(fault)
        self.assertTrue(update_document.verify(document, self.hexes[:1]))
        self.assertFalse(update_document.verify(document, self.hexes[1:]))
        changed = document.replace(NOTES.encode(), NOTES.upper().encode())
        self.assertIsNone(update_document.read(changed)[1])
        self.assertFalse(update_document.verify(changed, self.hexes))
        setup = os.path.join(self.files, "lantern-setup.exe")
        self.assertEqual(read_bytes(setup), read_bytes(self.program))
        named = [os.path.join(self.files, name) for name in ["lantern-setup.exe", "python.zip"]
                 + [name for name, _ in SECOND_PARTS]]
        self.assertEqual([fields["setup"]] + fields["archive"], [
            (f"{self.base}/{os.path.basename(path)}", sha256_of(path), os.path.getsize(path)) for path in named])
        self.assertEqual([fields[key] for key in ("course", "sequence", "version", "next_key", "notes")],
                         ["LanternNotes", 3, "2.5.1.7", self.hexes[1], NOTES])
        for key in self.hexes:
            self.assertIn(key.encode(), read_bytes(self.program))
        self.assertTrue(self.published.stdout.endswith(
            f"  {os.path.join(self.files, 'lantern-update.txt')} to {self.base}/lantern-update.txt\n"))

    def test_the_same_update_again_is_refused_and_overwrites_nothing(self):
        files, program = folder_bytes(self.files), read_bytes(self.program)
        run = self.build(*self.publish)
        self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
        self.assertIn("lantern-update.txt is the update 3, and this one's update_sequence, 3, must be above it",
                      run.stderr)
        self.assertNotIn("Building", run.stdout)
        self.assertEqual(folder_bytes(self.files), files)
        self.assertEqual(read_bytes(self.program), program)

    def test_what_cannot_be_published_is_refused_before_building(self):
        bare = fresh_folder(os.path.join(self.work, "without-runtime"))
        for name, _ in SECOND_PARTS:
            shutil.copy(os.path.join(self.files, name), bare)
        cases = [
            ("no key", self.description, [], "the course asks for signed updates: give --update-key KEY"),
            ("no updates address", SECOND_DESCRIPTION, ["--update-key", self.key],
             "--update-key and --update-backup-key go with an updates address"),
            ("an archive's size unknown", self.description, ["--files", bare, *self.publish],
             f"the Lantern runtime: no file {bare}/python.zip, which the update document takes its size from"),
        ]
        for kind, description, arguments, message in cases:
            with self.subTest(kind):
                run = build_course(description, os.path.join(self.work, "refused", "lantern-setup.exe"), *arguments)
                self.assertEqual(run.returncode, 1, run.stdout + run.stderr)
                self.assertIn(message, run.stderr)
                self.assertNotIn("Building", run.stdout)

    def test_check_served_holds_the_served_files_to_the_document_and_it_to_the_key(self):
        signed_with = ["--update-key", self.key, "--update-password-file", self.password]
        not_signed = "not signed with the update key given"
        # Each case: what the server holds in place of a file, the keys, and
        # the one line that names a fault and what it says (None: none).
        cases = [
            ("as published", {}, signed_with, None, None),
            ("the document changed", {"lantern-update.txt": self.document().replace(b"Lesson 3", b"Lesson 4")},
             signed_with, "the update document", not_signed),
            ("held to the backup key alone", {}, ["--update-backup-key", self.backup], "the update document",
             not_signed),
            ("another setup", {"lantern-setup.exe": b"another program"}, signed_with,
             "the update's lantern-setup.exe", "15 bytes, served SHA-256"),
        ]
        archives = ["python.zip"] + [name for name, _ in SECOND_PARTS]
        for kind, served, keys, name, message in cases:
            with self.subTest(kind):
                shutil.rmtree(self.served, ignore_errors=True)
                shutil.copytree(self.files, self.served)
                for served_name, data in served.items():
                    with open(os.path.join(self.served, served_name), "wb") as out:
                        out.write(data)
                run = self.build("--check-served", *keys)
                self.assertEqual(run.returncode, 0 if name is None else 1, run.stdout + run.stderr)
                lines = dict(line.split(": ", 1) for line in run.stdout.splitlines())
                named = [f"the update's {file}" for file in ["lantern-setup.exe"] + archives]
                self.assertEqual(list(lines), ["the Lantern runtime"] + archives[1:] + ["the update document"]
                                 + ([] if name == "the update document" else named))
                faults = [line_name for line_name, line in lines.items() if not line.endswith(" bytes, OK")]
                self.assertEqual(faults, [name] if name else [])
                if name:
                    self.assertIn(message, lines[name])

    def test_the_tree_then_builds_a_course_without_updates(self):
        run = build_second_course(os.path.join(self.work, "second", "lantern-setup.exe"))
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main()
