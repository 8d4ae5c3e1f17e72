"""A wheel laid out as an installer lays it into site-packages, for
build-course --packages (author/course_packages.py): its files at the top,
its .data/purelib and .data/platlib trees merged in, its .dist-info folder
kept with RECORD naming where each file landed, the rest of .data left out.
A fault raises make_zip.PackError naming the package and its wheel."""

import csv
import io
import os
import zipfile

import course_rules
import make_zip

# The .data trees that go where the modules go; scripts, headers and data
# would land outside the import path, where the course runs nothing.
IMPORTED_DATA = ("purelib", "platlib")


def destination(entry, data_folder):
    """Where a wheel's entry lands under the packages folder, or None for one
    left out."""
    if entry.endswith("/"):
        return None
    if entry.startswith(data_folder + "/"):
        category, _, rest = entry[len(data_folder) + 1:].partition("/")
        return rest if category in IMPORTED_DATA and rest else None
    return entry


def installed_record(data, data_folder):
    """RECORD as an installer rewrites it: the files where they landed."""
    rows = io.StringIO()
    writer = csv.writer(rows, lineterminator="\n")
    for row in csv.reader(io.StringIO(data.decode("utf-8"))):
        landed = destination(row[0], data_folder) if row else None
        if landed:
            writer.writerow([landed, *row[1:]])
    return rows.getvalue().encode("utf-8")


def check_path_files(package, landed, contents):
    """Refuses a .pth file at the top with a line that does something, as
    site reads it: one that puts a folder on the import path, or an import
    line, run at start-up. The runtime starts without site, and so reads
    none: the package would be laid out without what its .pth does."""
    if "/" in landed or not landed.endswith(".pth"):
        return
    for line in contents.decode("utf-8", "replace").splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        does = (f"runs {line.strip()} at start-up" if line.startswith(("import ", "import\t"))
                else f"puts {line.strip()} on the import path")
        raise make_zip.PackError(
            f"{package['name']} {package['version']}: {os.path.basename(package['wheel'])}: {landed} {does}, "
            "and the course's runtime reads no .pth files (no site)")


def claim(written, landed, shown):
    """Records LANDED as laid out by the wheel SHOWN, refusing a path that an
    earlier file took, as a file or as a folder, in Windows' letter case."""
    key = course_rules.windows_case(landed)
    here = f"{course_rules.PACKAGES_FOLDER}/{landed}"
    if key in written:
        raise make_zip.PackError(f"{written[key][0]} and {shown} both write {here}")
    if key + "/" in written:
        other, inside = written[key + "/"]
        raise make_zip.PackError(f"{other} and {shown} both write {here}, {other} as a folder "
                                 f"({course_rules.PACKAGES_FOLDER}/{inside}) and {shown} as a file")
    # windows_case keeps each character a character, so KEY's folders are
    # LANDED's, cut at the same places.
    ends = [index for index, character in enumerate(landed) if character == "/"]
    for end in ends:
        if key[:end] in written:
            other, file = written[key[:end]]
            raise make_zip.PackError(f"{other} and {shown} both write {course_rules.PACKAGES_FOLDER}/{file}, "
                                     f"{other} as a file and {shown} as a folder ({here})")
    for end in ends:
        written.setdefault(key[:end] + "/", (shown, landed))
    written[key] = (shown, landed)


def lay_out(package, top, written):
    """Unpacks PACKAGE's wheel into TOP; WRITTEN maps each file laid out so
    far, in Windows' letter case, and each folder, as FOLDER/, to the wheel
    that wrote it and that file or the folder's first file."""
    shown = os.path.basename(package["wheel"])
    data_folder = package["info"][:-len(".dist-info")] + ".data"
    with zipfile.ZipFile(package["wheel"]) as opened:
        for entry in opened.namelist():
            landed = destination(entry, data_folder)
            if landed is None:
                continue
            target = os.path.normpath(os.path.join(top, landed))
            if os.path.commonpath([top, target]) != top or target == top:
                raise make_zip.PackError(f"{shown}: {entry}: the entry would land outside the packages folder")
            claim(written, landed, shown)
            contents = opened.read(entry)
            check_path_files(package, landed, contents)
            if entry == f"{package['info']}/RECORD":
                contents = installed_record(contents, data_folder)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(contents)
