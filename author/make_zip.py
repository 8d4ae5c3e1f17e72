#!/usr/bin/env python3
"""Builds a course's archives, and the zips the builds and tests serve in
place of the Python runtime: make_zip.py OUT.zip DIR [--stored]

Every file under DIR goes in under its path relative to DIR, and every empty
folder as a folder entry (a course may write into it), in sorted order, dated
1980-01-01 with fixed permissions, deflated unless --stored is given, so the
same DIR always gives the same bytes. A link to a file inside DIR goes in as
that file; a link that leads out of DIR, a link to a folder and a broken link
are refused, so that nothing outside the course can ship with it."""
import os
import sys
import zipfile

FIXED_DATE = (1980, 1, 1, 0, 0, 0)
UNIX_SYSTEM = 3
FILE_PERMISSIONS = 0o100644  # a regular file, rw-r--r--
FOLDER_PERMISSIONS = 0o40755  # a folder, rwxr-xr-x
MS_DOS_FOLDER = 0x10


class PackError(Exception):
    pass


def checked_file(path, top):
    """PATH itself, once it is known to be a file of the course: no link out."""
    if os.path.islink(path):
        target = os.path.realpath(path)
        if not os.path.exists(target):
            raise PackError(f"{path}: a broken link, to {os.readlink(path)}")
        if os.path.commonpath([top, target]) != top:
            raise PackError(f"{path}: a link to {target}, outside the folder packed: it would ship to every learner")
    return path


def entries(directory):
    """(name in the archive, the file to read, or None for an empty folder),
    in sorted order."""
    top = os.path.realpath(directory)
    found = []

    def name_of(path):
        return os.path.relpath(path, directory).replace(os.sep, "/")

    for root, folders, files in os.walk(directory):
        for name in folders:
            if os.path.islink(os.path.join(root, name)):
                raise PackError(f"{os.path.join(root, name)}: a link to a folder; put the folder itself there")
        if not folders and not files and root != directory:
            found.append((name_of(root) + "/", None))
        found += [(name_of(os.path.join(root, name)), checked_file(os.path.join(root, name), top)) for name in files]
    return sorted(found)


def make_zip(out_path, directory, method):
    listed = entries(directory)
    with zipfile.ZipFile(out_path, "w") as archive:
        for name, path in listed:
            info = zipfile.ZipInfo(name, FIXED_DATE)
            info.create_system = UNIX_SYSTEM
            if path is None:
                info.external_attr = FOLDER_PERMISSIONS << 16 | MS_DOS_FOLDER
                archive.writestr(info, b"")
                continue
            info.external_attr = FILE_PERMISSIONS << 16
            info.compress_type = method
            with open(path, "rb") as source:
                # a fixed level: zlib's default could change under us
                archive.writestr(info, source.read(), compresslevel=9)


def main(arguments):
    stored = arguments[2:] == ["--stored"]
    if len(arguments) != 2 + stored or not os.path.isdir(arguments[1]):
        print("usage: make_zip.py OUT.zip DIR [--stored]")
        return 1
    try:
        make_zip(arguments[0], arguments[1], zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED)
    except PackError as error:
        print(f"make_zip.py: {error}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
