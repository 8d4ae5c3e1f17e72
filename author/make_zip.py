#!/usr/bin/env python3
"""Builds a course's archives, and the zips the builds and tests serve in
place of the Python runtime: make_zip.py OUT.zip DIR [--stored]

Every file under DIR goes in under its path relative to DIR, in sorted order,
dated 1980-01-01 with fixed permissions, deflated unless --stored is given, so
the same DIR always gives the same bytes."""
import os
import sys
import zipfile

FIXED_DATE = (1980, 1, 1, 0, 0, 0)
UNIX_SYSTEM = 3
FILE_PERMISSIONS = 0o100644  # a regular file, rw-r--r--


def relative_file_names(directory):
    names = []
    for root, folders, files in os.walk(directory):
        folders.sort()
        for name in files:
            path = os.path.relpath(os.path.join(root, name), directory)
            names.append(path.replace(os.sep, "/"))
    return sorted(names)


def make_zip(out_path, directory, method):
    with zipfile.ZipFile(out_path, "w") as archive:
        for name in relative_file_names(directory):
            info = zipfile.ZipInfo(name, FIXED_DATE)
            info.create_system = UNIX_SYSTEM
            info.external_attr = FILE_PERMISSIONS << 16
            info.compress_type = method
            with open(os.path.join(directory, name), "rb") as source:
                # a fixed level: zlib's default could change under us
                archive.writestr(info, source.read(), compresslevel=9)


def main(arguments):
    stored = arguments[2:] == ["--stored"]
    if len(arguments) != 2 + stored or not os.path.isdir(arguments[1]):
        print("usage: make_zip.py OUT.zip DIR [--stored]")
        return 1
    make_zip(arguments[0], arguments[1], zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
