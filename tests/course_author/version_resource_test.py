"""Every setup program carries a version resource made from its course's
description (the fields that are left out taking their documented defaults)
beside the application manifest; both are read back from the built file."""
import os
import unittest

from course_author import BUILD, LANTERN_IMAGE, SECOND_FIELDS, SECOND_PROGRAM, SOURCE
from pe_resources import resources, version_info

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


def described(path):
    """The single-valued fields of a course description."""
    fields = {}
    with open(path, encoding="utf-8") as description:
        for line in description:
            key, _, value = line.strip().partition(":")
            if line.strip() and not line.startswith("#") and key not in ("part", "icon"):
                fields[key.strip()] = value.strip()
    return fields


def expected(fields, program):
    version = fields.get("version", "1.0.0")
    numbers = tuple(int(number) for number in version.split(".")) + (0,) * (4 - len(version.split(".")))
    strings = {
        "FileDescription": fields.get("description", fields["title"]),
        "FileVersion": version,
        "InternalName": program[:-len(".exe")],
        "OriginalFilename": program,
        "ProductName": fields.get("product_name", fields["install_folder"]),
        "ProductVersion": version,
    }
    if "publisher" in fields:
        strings["CompanyName"] = fields["publisher"]
    return numbers, numbers, strings


class VersionResource(unittest.TestCase):
    def check_program(self, program, fields):
        found = resources(program)
        self.assertEqual(version_info(found[(RT_VERSION, 1)]), expected(fields, os.path.basename(program)))
        with open(os.path.join(SOURCE, "installer", "quillby-setup.manifest"), "rb") as manifest:
            self.assertEqual(found[(RT_MANIFEST, 1)], manifest.read())
        # What the manifest is there for: no elevation prompt, the UTF-8 code
        # page, Windows 10 and 11.
        embedded = found[(RT_MANIFEST, 1)].decode("utf-8")
        self.assertIn('<requestedExecutionLevel level="asInvoker" uiAccess="false"/>', embedded)
        self.assertRegex(embedded, r"<activeCodePage [^>]*>UTF-8</activeCodePage>")
        self.assertIn('<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>', embedded)

    def test_second_course(self):
        self.check_program(SECOND_PROGRAM, {key: value for key, value in SECOND_FIELDS.items() if key != "icon"})

    def test_the_course_icon_is_the_programs_own(self):
        found = resources(SECOND_PROGRAM)
        self.assertIn((RT_GROUP_ICON, 1), found, "Explorer shows the first icon group's")
        self.assertEqual([data for (kind, _), data in found.items() if kind == RT_ICON], [LANTERN_IMAGE])

    def test_without_an_icon_the_program_has_none(self):
        found = resources(os.path.join(BUILD, "quillby-setup.exe"))
        self.assertEqual([kind for kind, _ in found if kind in (RT_ICON, RT_GROUP_ICON)], [])

    def test_default_course(self):
        self.check_program(os.path.join(BUILD, "quillby-setup.exe"),
                           described(os.path.join(SOURCE, "courses", "quillby.course")))

    def test_course_that_leaves_every_version_field_out(self):
        self.check_program(os.path.join(BUILD, "tests", "e2e-setup.exe"),
                           described(os.path.join(SOURCE, "tests", "courses", "e2e.course")))

    def test_sample_course(self):
        self.check_program(os.path.join(BUILD, "quillby-sample-setup.exe"),
                           described(os.path.join(SOURCE, "sample-course", "sample.course")))


if __name__ == "__main__":
    unittest.main()
