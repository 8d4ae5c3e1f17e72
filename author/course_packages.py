"""The course's Python packages, for build-course --packages: from a pip
requirements file (author/requirements_file.py) to one payload archive whose
entries all lie under the packages folder of the install folder.

The set is resolved for the learner's runtime, CPython 3.12 on 64-bit
Windows, never for the machine that builds: markers are evaluated for it,
each dependency comes from the Requires-Dist lines of the wheel chosen, and
each package's version is the highest that every requirement waiting for it
allows (one that a later requirement excludes is refused). Only wheels are
taken, each the one pip would rank first for the runtime, from a folder
given or through pip's download. The wheels are laid out as an installer
lays them into site-packages (author/wheel_layout.py), and zipped the same
way every time. A fault raises make_zip.PackError naming the requirements
file and line, or the package and its wheel."""

import collections
import email.parser
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

from packaging.markers import InvalidMarker, UndefinedComparison, UndefinedEnvironmentName
from packaging.requirements import InvalidRequirement, Requirement
from packaging.specifiers import InvalidSpecifier, SpecifierSet
from packaging.tags import compatible_tags, cpython_tags
from packaging.utils import InvalidWheelFilename, canonicalize_name, parse_wheel_filename
from packaging.version import InvalidVersion

import course_description
import course_rules
import make_zip
import requirements_file
import wheel_layout

# The marker variables of the runtime the installer fetches, every one of
# them, so that none is taken from the machine that builds (platform_version
# as Windows 10 22H2 gives it).
TARGET_ENVIRONMENT = {
    "implementation_name": "cpython",
    "implementation_version": course_description.RUNTIME_PYTHON,
    "os_name": "nt",
    "platform_machine": "AMD64",
    "platform_python_implementation": "CPython",
    "platform_release": "10",
    "platform_system": "Windows",
    "platform_version": "10.0.19045",
    "python_full_version": course_description.RUNTIME_PYTHON,
    "python_version": ".".join(course_description.RUNTIME_PYTHON.split(".")[:2]),
    "sys_platform": "win32",
}
TARGET_PYTHON = tuple(int(number) for number in TARGET_ENVIRONMENT["python_version"].split("."))
TARGET_ABI = "cp" + "".join(str(number) for number in TARGET_PYTHON)
TARGET_PLATFORM = "win_amd64"
TARGET_NAME = f"CPython {TARGET_ENVIRONMENT['python_version']} on {TARGET_PLATFORM}"
# Each tag the runtime takes, and its place in pip's order of preference.
TAG_RANK = {tag: rank for rank, tag in enumerate(
    list(cpython_tags(TARGET_PYTHON, abis=[TARGET_ABI], platforms=[TARGET_PLATFORM]))
    + list(compatible_tags(TARGET_PYTHON, TARGET_ABI, [TARGET_PLATFORM])))}
DIST_INFO = re.compile(r"[^/]+\.dist-info")
WHEEL_FORMAT_MAJOR = "1"


def applies(requirement, requirer, extra):
    """Whether the runtime needs REQUIREMENT, REQUIRER having been asked for
    with EXTRA ("" for none)."""
    try:
        return requirement.marker is None or requirement.marker.evaluate(dict(TARGET_ENVIRONMENT, extra=extra))
    except (UndefinedComparison, UndefinedEnvironmentName, InvalidVersion) as error:
        raise make_zip.PackError(f"{requirer}: {requirement}: the marker cannot be evaluated: {error}")


def wheels_in(folder):
    """(path, canonical name, version, build, tags) of each wheel in FOLDER."""
    found = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".whl"):
            try:
                found.append((os.path.join(folder, name), *parse_wheel_filename(name)))
            except InvalidWheelFilename as error:
                raise make_zip.PackError(f"{os.path.join(folder, name)}: not a wheel's file name: {error}")
    return found


def pip_download(asked, requirer, downloads):
    """A folder holding the wheel pip's configured index has for ASKED
    (NAME and specifier) and the runtime, pip choosing the version."""
    folder = tempfile.mkdtemp(dir=downloads)
    result = subprocess.run(
        [sys.executable, "-m", "pip", "download", "--disable-pip-version-check", "--no-deps", "--only-binary=:all:",
         "--platform", TARGET_PLATFORM, "--python-version", TARGET_ENVIRONMENT["python_version"],
         "--implementation", "cp", "--abi", TARGET_ABI, "--abi", "abi3", "--abi", "none", "--dest", folder,
         asked],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        errors = [line for line in result.stdout.splitlines() if line.startswith("ERROR:")] or [
            f"exit status {result.returncode}"]
        raise make_zip.PackError(f"{asked} (required by {requirer}): pip download failed: {errors[0]}")
    return folder


def rank(tags):
    """The best place any of a wheel's tags has for the runtime, or None."""
    return min((TAG_RANK[tag] for tag in tags if tag in TAG_RANK), default=None)


def best_wheel(name, specifier, requirer, wheels_dir, downloads):
    """The wheel the runtime takes for NAME: of the highest version SPECIFIER
    allows that has a wheel for the runtime, the wheel pip ranks first."""
    asked = f"{name}{specifier}"
    folder = wheels_dir or pip_download(asked, requirer, downloads)
    wheels = [(version, build, rank(tags), path) for path, found, version, build, tags in wheels_in(folder)
              if found == canonicalize_name(name)]
    allowed = set(specifier.filter({version for version, _, _, _ in wheels}))
    fitting = [(version, -place, build, path) for version, build, place, path in wheels
               if version in allowed and place is not None]
    if not fitting:
        others = [os.path.basename(path) for version, _, _, path in wheels if version in allowed]
        raise make_zip.PackError(f"{asked} (required by {requirer}): no wheel for {TARGET_NAME} in {folder}"
                                 + (f", only {', '.join(others)}" if others else ""))
    version, _, _, path = max(fitting)
    return path, version


def check_hash(wheel, name, hashes, path):
    """pip's hash-checking mode: once the file gives a hash, every wheel
    must match one given for its package."""
    if not hashes:
        return
    if name not in hashes:
        raise make_zip.PackError(f"{os.path.basename(wheel)}: {path} gives hashes, but none for {name}")
    given, where = hashes[name]
    with open(wheel, "rb") as data:
        contents = data.read()
    if not any(hashlib.new(digest.partition(":")[0], contents).hexdigest() == digest.partition(":")[2]
               for digest in given):
        raise make_zip.PackError(f"{os.path.basename(wheel)}: sha256 {hashlib.sha256(contents).hexdigest()} "
                                 f"matches no --hash given for {name} at {where}")


def read_metadata(wheel):
    """The wheel's dist-info folder and its METADATA's headers."""
    shown = os.path.basename(wheel)
    try:
        with zipfile.ZipFile(wheel) as opened:
            folders = {name.split("/")[0] for name in opened.namelist() if DIST_INFO.fullmatch(name.split("/")[0])}
            if len(folders) != 1:
                raise make_zip.PackError(f"{shown}: not one .dist-info folder at its top, but {len(folders)}")
            info = folders.pop()
            headers = email.parser.BytesParser().parsebytes(opened.read(f"{info}/METADATA"))
            wheel_file = email.parser.BytesParser().parsebytes(opened.read(f"{info}/WHEEL"))
    except (zipfile.BadZipFile, KeyError) as error:
        raise make_zip.PackError(f"{shown}: not a readable wheel: {error}")
    if str(wheel_file["Wheel-Version"]).split(".")[0] != WHEEL_FORMAT_MAJOR:
        raise make_zip.PackError(f"{shown}: Wheel-Version {wheel_file['Wheel-Version']}; "
                                 f"only version {WHEEL_FORMAT_MAJOR} wheels are unpacked")
    return info, headers


def runtime_requires(wheel, headers):
    """The wheel's Requires-Dist lines, once its Requires-Python allows the runtime."""
    shown = os.path.basename(wheel)
    try:
        python = SpecifierSet(headers["Requires-Python"] or "")
        requires = [Requirement(line) for line in headers.get_all("Requires-Dist") or []]
    except (InvalidSpecifier, InvalidRequirement, InvalidMarker) as error:
        raise make_zip.PackError(f"{shown}: METADATA: {error}")
    if not python.contains(TARGET_ENVIRONMENT["python_full_version"], prereleases=True):
        raise make_zip.PackError(f"{shown}: Requires-Python {python} leaves out the course's Python "
                                 f"{TARGET_ENVIRONMENT['python_full_version']}")
    return requires


def gathered_specifier(requirement, queue):
    """REQUIREMENT's specifier and those of the requirements waiting in QUEUE
    for the same package, all of which the version chosen must meet."""
    specifier = requirement.specifier
    for waiting, _ in queue:
        if canonicalize_name(waiting.name) == canonicalize_name(requirement.name):
            specifier &= waiting.specifier
    return specifier


def chosen_package(requirement, specifier, requirer, wheels_dir, downloads, hashes, path):
    wheel, version = best_wheel(requirement.name, specifier, requirer, wheels_dir, downloads)
    check_hash(wheel, canonicalize_name(requirement.name), hashes, path)
    info, headers = read_metadata(wheel)
    return {"name": headers["Name"] or requirement.name, "version": version, "wheel": wheel, "info": info,
            "requirer": requirer, "requires": runtime_requires(wheel, headers), "extras": set()}


def dependencies(package, extras):
    """The requirements the runtime needs from PACKAGE asked for with EXTRAS
    that earlier requests for it did not, each with who requires it."""
    new = ({""} | {canonicalize_name(extra) for extra in extras}) - package["extras"]
    package["extras"] |= new
    requirer = f"{package['name']} {package['version']}"
    return [(requirement, requirer) for requirement in package["requires"]
            if any(applies(requirement, requirer, extra) for extra in new)]


def resolve(requirements, path, wheels_dir, downloads):
    """The packages the runtime needs, by canonical name, breadth first so
    that the file's own pins are chosen before any dependency's."""
    hashes = {}
    for requirement, where, given in requirements:
        if given:
            known, first = hashes.get(canonicalize_name(requirement.name), (set(), where))
            hashes[canonicalize_name(requirement.name)] = (known | given, first)
    chosen = {}
    queue = collections.deque((requirement, where) for requirement, where, _ in requirements
                              if applies(requirement, where, ""))
    while queue:
        requirement, requirer = queue.popleft()
        key = canonicalize_name(requirement.name)
        if key not in chosen:
            chosen[key] = chosen_package(requirement, gathered_specifier(requirement, queue), requirer, wheels_dir,
                                         downloads, hashes, path)
        package = chosen[key]
        if not requirement.specifier.contains(package["version"], prereleases=True):
            raise make_zip.PackError(f"{package['name']} {package['version']} (required by {package['requirer']}) does "
                                     f"not meet {requirement.name}{requirement.specifier} (required by {requirer})")
        queue.extend(dependencies(package, requirement.extras))
    return chosen


def pack(out, requirements_path, wheels_dir, work):
    """Resolves the file's requirements, with wheels from WHEELS_DIR or else
    from pip's index, lays them out in WORK and zips them into OUT; the set
    as (name, version, wheel file), sorted by name."""
    requirements = requirements_file.read(requirements_path)
    downloads = os.path.join(work, "downloads")
    os.makedirs(downloads)
    chosen = resolve(requirements, requirements_path, wheels_dir, downloads)
    top = os.path.join(work, "staging", course_rules.PACKAGES_FOLDER)
    os.makedirs(top)
    written = {}
    for key in sorted(chosen):
        wheel_layout.lay_out(chosen[key], top, written)
    make_zip.make_zip(out, os.path.dirname(top), zipfile.ZIP_DEFLATED)
    return [(chosen[key]["name"], str(chosen[key]["version"]), os.path.basename(chosen[key]["wheel"]))
            for key in sorted(chosen)]
