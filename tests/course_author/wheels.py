"""Small, valid wheels for tests, the same bytes every time:

    make_wheel(folder, "click", "8.1.7", files={"click/__init__.py": "..."},
               requires=['colorama; platform_system == "Windows"'])

writes FOLDER/click-8.1.7-py3-none-any.whl and returns its path. TAG is the
wheel's compressed tag set (default py3-none-any); FILES, path to text or
bytes, lie at the wheel's top; REQUIRES are its Requires-Dist lines, EXTRAS
its Provides-Extra ones; DATA maps a .data category (purelib, platlib,
scripts, ...) to its files; REQUIRES_PYTHON, when given, is its
Requires-Python. METADATA, WHEEL and RECORD are written as the wheel format
has them (PEP 427)."""
import base64
import hashlib
import os
import re
import zipfile

FIXED_DATE = (1980, 1, 1, 0, 0, 0)


def escaped(name):
    """A project's name as it stands in its wheel's file name and folders."""
    return re.sub(r"[-_.]+", "_", name).lower()


def record_hash(data):
    return "sha256=" + base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode("ascii")


def metadata(name, version, requires, extras, requires_python):
    lines = ["Metadata-Version: 2.1", f"Name: {name}", f"Version: {version}"]
    lines += [f"Requires-Python: {requires_python}"] if requires_python else []
    lines += [f"Provides-Extra: {extra}" for extra in extras] + [f"Requires-Dist: {line}" for line in requires]
    return "\n".join(lines) + "\n"


def wheel_file(tag):
    python, abi, platform = tag.split("-")
    tags = [f"{p}-{a}-{m}" for p in python.split(".") for a in abi.split(".") for m in platform.split(".")]
    lines = ["Wheel-Version: 1.0", "Generator: quillby-tests", f"Root-Is-Purelib: {str(platform == 'any').lower()}"]
    return "\n".join(lines + [f"Tag: {each}" for each in tags]) + "\n"


def make_wheel(folder, name, version, tag="py3-none-any", files=None, requires=(), extras=(), data=None,
               requires_python=None):
    stem = f"{escaped(name)}-{version}"
    info = f"{stem}.dist-info"
    contents = dict(files or {})
    for category, category_files in (data or {}).items():
        contents.update({f"{stem}.data/{category}/{path}": text for path, text in category_files.items()})
    contents[f"{info}/METADATA"] = metadata(name, version, requires, extras, requires_python)
    contents[f"{info}/WHEEL"] = wheel_file(tag)
    contents = {path: text.encode("utf-8") if isinstance(text, str) else text for path, text in contents.items()}
    record = "".join(f"{path},{record_hash(data)},{len(data)}\n" for path, data in sorted(contents.items()))
    contents[f"{info}/RECORD"] = (record + f"{info}/RECORD,,\n").encode("utf-8")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, f"{stem}-{tag}.whl")
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as wheel:
        # The dist-info folder last, as the wheel format recommends.
        for entry in sorted(contents, key=lambda entry: (entry.startswith(info), entry)):
            wheel.writestr(zipfile.ZipInfo(entry, FIXED_DATE), contents[entry], zipfile.ZIP_DEFLATED)
    return path
