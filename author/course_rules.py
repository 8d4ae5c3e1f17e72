"""The rules a course's archives must meet to install on a learner's machine,
checked by author/build-course before anything is written: each archive at
hand (pinned as file:) a zip that Windows PowerShell's Expand-Archive unpacks
whole into its folder and the setup reads (no Zip64), the runtime with python.exe at its top and the payload
with server.py at the install folder's top. An archive pinned by its digest
is not at hand, and with one such part the payload's server.py is taken on
trust. A fault raises course_description.DescriptionError naming the archive and
the entry. A runtime that is not the embeddable Python for Windows is taken,
for tries under Wine, with a warning."""

import os
import re
import struct
import zipfile
import zlib

import course_description

# Windows counts a path in UTF-16 units, its terminator included; the install
# folder on a real machine is taken as that of a 20-character user name (the
# letters stand for any).
PATH_LIMIT = 260
INSTALL_FOLDER_ON_A_REAL_MACHINE = "C:\\Users\\" + "u" * 20 + "\\AppData\\Local\\"
RUNTIME_FOLDER = "python"
# Where the course's Python packages unpack, in the install folder; the
# installer puts it on the runtime's path beside the install folder itself.
PACKAGES_FOLDER = "packages"
DRIVE = re.compile(r"[A-Za-z]:")
# The XY of the Python that --packages resolves the course's packages for.
PACKAGES_PYTHON = "".join(course_description.RUNTIME_PYTHON.split(".")[:2])
# What Windows PowerShell's Expand-Archive can unpack.
UNPACKED_METHODS = {zipfile.ZIP_STORED: "stored", zipfile.ZIP_DEFLATED: "deflated"}
# A name flagged as UTF-8 (APPNOTE.TXT, general purpose bit 11); any other
# is read in the code page of the machine that unpacks it.
FLAG_UTF8_NAME = 0x800
# The records the setup reads an archive by (installer/zip/zip_entries.cpp),
# laid out as APPNOTE.TXT's sections 4.3.12, 4.3.15 and 4.3.16 have them. A
# field at its largest value leaves what it holds to Zip64, which the setup
# does not read, so an archive is refused here where it shows as the setup
# finds it; Python's zipfile writes it silently, from 65,535 entries (a full
# count) or 2 GiB (an entry's size or place, the central directory's place).
END_RECORD = struct.Struct("<4s4H2LH")
CENTRAL_HEADER = struct.Struct("<4s6H3L5H2L")
END_RECORD_SIGNATURE = b"PK\x05\x06"
ZIP64_LOCATOR_SIZE = 20
ZIP64_LOCATOR_SIGNATURE = b"PK\x06\x07"
LONGEST_COMMENT = 0xFFFF
MARK_16, MARK_32 = 0xFFFF, 0xFFFFFFFF


def segments(entry):
    """The folders and file name of an entry, either slash separating them."""
    return [segment for segment in re.split(r"[/\\]", entry) if segment]


def windows_case(path):
    # Windows compares names by upper-casing each character on its own.
    return "".join(character.upper() if len(character.upper()) == 1 else character for character in path)


def utf16_length(text):
    return len(text.encode("utf-16-le")) // 2


def zip64_fault(archive):
    """What of ARCHIVE the setup would find left to Zip64, read as the setup
    reads it; None when nothing is."""
    size = os.path.getsize(archive)
    if size > MARK_32:
        return "4 GiB or more"
    with open(archive, "rb") as data:
        data.seek(max(0, size - ZIP64_LOCATOR_SIZE - END_RECORD.size - LONGEST_COMMENT))
        tail = data.read()
        # The end record is the last thing in the file but its comment.
        at = next((start for start in range(len(tail) - END_RECORD.size, -1, -1)
                   if tail[start:start + 4] == END_RECORD_SIGNATURE
                   and start + END_RECORD.size + END_RECORD.unpack_from(tail, start)[-1] == len(tail)), None)
        if at is None:
            return None
        _, _, _, _, count, directory_size, directory_start, _ = END_RECORD.unpack_from(tail, at)
        locator = at - ZIP64_LOCATOR_SIZE
        if locator >= 0 and tail[locator:locator + 4] == ZIP64_LOCATOR_SIGNATURE:
            return "a Zip64 end record"
        if count == MARK_16:
            return "65,535 entries or more"
        if MARK_32 in (directory_size, directory_start):
            return "the central directory's size or place"
        data.seek(directory_start)
        directory = data.read(directory_size)
    position = 0
    for _ in range(count):
        (_, _, _, flags, _, _, _, _, packed, unpacked, name_length, extra_length, comment_length, disk, _, _,
         place) = CENTRAL_HEADER.unpack_from(directory, position)
        if MARK_32 in (packed, unpacked, place) or disk == MARK_16:
            name = directory[position + CENTRAL_HEADER.size:][:name_length]
            return f"the size or place of {name.decode('utf-8' if flags & FLAG_UTF8_NAME else 'cp437')}"
        position += CENTRAL_HEADER.size + name_length + extra_length + comment_length
    return None


def entries_of(archive, shown_as):
    """The entry names of a zip that Expand-Archive can read through."""
    try:
        with zipfile.ZipFile(archive) as opened:
            infos = opened.infolist()
            for info in infos:
                if info.flag_bits & 0x1:
                    raise course_description.DescriptionError(f"{shown_as}: {info.filename}: the entry is encrypted")
                if not info.flag_bits & FLAG_UTF8_NAME and not info.filename.isascii():
                    raise course_description.DescriptionError(
                        f"{shown_as}: {info.filename}: a name outside ASCII without the zip's UTF-8 flag, which "
                        "Windows PowerShell reads in each learner's own code page; pack it again with --pack, or "
                        "with a tool that marks names as UTF-8")
                if info.compress_type not in UNPACKED_METHODS:
                    raise course_description.DescriptionError(
                        f"{shown_as}: {info.filename}: compression method {info.compress_type}; Windows PowerShell "
                        f"unpacks only {' and '.join(UNPACKED_METHODS.values())} entries")
            damaged = opened.testzip()
    except (zipfile.BadZipFile, zlib.error, EOFError) as error:
        raise course_description.DescriptionError(f"{shown_as}: not a readable zip archive: {error}")
    if damaged:
        raise course_description.DescriptionError(f"{shown_as}: not a readable zip archive: {damaged} is damaged")
    zip64 = zip64_fault(archive)
    if zip64:
        raise course_description.DescriptionError(
            f"{shown_as}: Zip64 ({zip64}), which the setup does not read; split the part into archives of at most "
            "65,534 entries and under 2 GiB each")
    return [info.filename for info in infos]


def check_entries(entries, shown_as, folder):
    """Every entry lands inside FOLDER (as on a real machine), under a name
    Windows holds, within the path limit, and none in place of another."""
    seen = {}
    for entry in entries:
        parts = segments(entry)
        if entry.startswith(("/", "\\")) or DRIVE.match(entry) or ".." in parts:
            raise course_description.DescriptionError(f"{shown_as}: {entry}: the entry would land outside its folder")
        for segment in parts:
            fault = course_description.windows_name_fault(segment)
            if fault:
                raise course_description.DescriptionError(f"{shown_as}: {entry}: {fault}")
        length = utf16_length(folder + "\\" + "\\".join(parts))
        if length >= PATH_LIMIT:
            raise course_description.DescriptionError(
                f"{shown_as}: {entry}: installed under C:\\Users\\ and a 20-character user name, its path would "
                f"be {length} characters, {length - PATH_LIMIT + 1} over Windows PowerShell's limit of "
                f"{PATH_LIMIT - 1} ({PATH_LIMIT} with the terminator)")
        key = windows_case("/".join(parts))
        if key in seen:
            raise course_description.DescriptionError(
                f"{shown_as}: {seen[key]} and {entry} differ only in letter case; Windows keeps one of them")
        seen[key] = entry


def at_top(entries, name):
    """Whether an entry puts NAME at the top of the folder; else where it is
    found deeper, or None."""
    deeper = None
    for entry in entries:
        parts = segments(entry)
        if parts and windows_case(parts[-1]) == windows_case(name):
            if len(parts) == 1:
                return True, None
            deeper = deeper or entry
    return False, deeper


def further_down(deeper):
    return f"; {deeper} is further down: pack that folder's contents, not the folder" if deeper else ""


def top_scripts(entries):
    """The .py files an archive puts at the top of its folder."""
    return [segments(entry)[0] for entry in entries if len(segments(entry)) == 1 and entry.lower().endswith(".py")]


def embeddable_version(entries):
    """The XY of the embeddable Python for Windows that a runtime archive is,
    by what it always holds beside python.exe: its pythonXY.dll, pythonXY.zip
    and pythonXY._pth; None when it is not one."""
    top = {windows_case(segments(entry)[0]) for entry in entries if len(segments(entry)) == 1}
    versions = {name[len("PYTHON"):-len(".DLL")] for name in top if re.fullmatch(r"PYTHON3[0-9]+\.DLL", name)}
    return next((version for version in sorted(versions)
                 if f"PYTHON{version}.ZIP" in top and f"PYTHON{version}._PTH" in top), None)


def not_embeddable_warning(runtime):
    return (f"Warning: {os.path.basename(runtime)} is not the embeddable Python for Windows: learners' Windows "
            "cannot run it; publish the official archive.")


def check_course(values, parts, files, staged):
    """Refuses the course's archives at hand that would fail on a learner's
    machine; returns the warnings for those it takes but a learner's machine
    could not use. STAGED maps an archive's place in the files folder to
    where it is packed until the checks pass."""
    install_folder = INSTALL_FOLDER_ON_A_REAL_MACHINE + values["install_folder"]
    runtime = course_description.pin_file(values["runtime_sha256"], files)
    warnings, version = [], None
    if runtime:
        entries = entries_of(staged.get(os.path.normpath(runtime), runtime), runtime)
        check_entries(entries, runtime, install_folder + "\\" + RUNTIME_FOLDER)
        found, deeper = at_top(entries, "python.exe")
        if not found:
            raise course_description.DescriptionError(
                f"{runtime}: no python.exe at the top of the runtime folder{further_down(deeper)}")
        version = embeddable_version(entries)
        if not version:
            warnings.append(not_embeddable_warning(runtime))
    server_at_top, deeper, scripts = False, None, []
    archives = [course_description.pin_file(pin, files) for _, pin, _ in parts]
    for archive in filter(None, archives):
        entries = entries_of(staged.get(os.path.normpath(archive), archive), archive)
        check_entries(entries, archive, install_folder)
        found, deeper_here = at_top(entries, "server.py")
        server_at_top, deeper = server_at_top or found, deeper or (deeper_here and f"{deeper_here} in {archive}")
        scripts += top_scripts(entries)
        # Packages resolved for one Python may not import on another: a
        # compiled module is built for one version only.
        packages = any(windows_case(segments(entry)[0]) == windows_case(PACKAGES_FOLDER) for entry in entries)
        if packages and version and version != PACKAGES_PYTHON:
            raise course_description.DescriptionError(
                f"{runtime}: the embeddable Python {version[0]}.{version[1:]}, but {archive} brings the "
                f"{PACKAGES_FOLDER} folder, whose packages --packages resolves for Python "
                f"{PACKAGES_PYTHON[0]}.{PACKAGES_PYTHON[1:]}; pin {course_description.OFFICIAL_RUNTIME_URL}")
    if all(archives) and not server_at_top:
        found = f"the .py files at its top are {', '.join(sorted(scripts))}" if scripts else "no .py file is at its top"
        raise course_description.DescriptionError(
            f"{parts[0][2]}: part: no server.py at the top of the install folder from any payload archive, and the "
            f"launcher runs server.py there; {found}{further_down(deeper)}")
    return warnings
