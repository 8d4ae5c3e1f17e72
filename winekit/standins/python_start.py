"""How the python.exe stand-in starts a course on the host's Python: with the
module search path that CPython 3.12 for Windows would give it from the same
runtime folder, so a course that would fail to import on a learner's machine
fails here too. Run as: python3 -I -S -c THIS RUNTIME PTH USER_SITE SCRIPT
[ARGS...], or with -m MODULE in SCRIPT's place, every path already a host
path; PTH and USER_SITE may be empty.

With a ._pth file, the path is exactly its entries in order, relative ones
against the runtime folder, and the standard library's zip stands for the
host's standard library; nothing else: no script folder, no current folder,
no environment. Only an "import site" line runs site, which on Windows adds
the user's site folder, then the runtime folder and its Lib\\site-packages,
their .pth files processed, then imports sitecustomize and usercustomize.
Without one, a normal installation's start: the script's folder, the
standard library and the runtime folder, then site."""
import os
import runpy
import sys

# The zip of 3.12's standard library; one of another version holds no
# standard library this runtime can start on.
STANDARD_LIBRARY_ZIP = "python312.zip"


def path_file_entries(path_file, runtime, standard_library):
    """The search path a ._pth file gives, and whether it imports site; its
    lines read as CPython's getpath reads them."""
    entries, imports_site = [], False
    with open(path_file, encoding="utf-8-sig") as lines:
        for line in lines:
            line = line.partition("#")[0].strip()
            if not line:
                continue
            if line == "import site":
                imports_site = True
            elif line.startswith("import "):
                print("unsupported 'import' line in ._pth file", file=sys.stderr)
            elif line.replace("\\", "/").rsplit("/", 1)[-1].lower() == STANDARD_LIBRARY_ZIP:
                entries += standard_library
            else:
                entries.append(os.path.join(runtime, line.replace("\\", "/")))
    return entries, imports_site


def run_site(runtime, user_site):
    # Imported under -S, the host's site module only lends its functions.
    import site
    known = site.removeduppaths()
    for folder in (user_site, runtime, os.path.join(runtime, "Lib", "site-packages")):
        if folder and os.path.isdir(folder):
            known = site.addsitedir(folder, known)
    site.execsitecustomize()
    site.execusercustomize()


def main(runtime, path_file, user_site, script, *arguments):
    standard_library = list(sys.path)
    if path_file:
        sys.path[:], imports_site = path_file_entries(path_file, runtime, standard_library)
    else:
        first = os.getcwd() if script == "-m" else os.path.dirname(os.path.abspath(script))
        sys.path[:], imports_site = [first] + standard_library + [runtime], True
    if imports_site:
        run_site(runtime, user_site)
    if script == "-m" and arguments:
        sys.argv = [script, *arguments[1:]]
        runpy.run_module(arguments[0], run_name="__main__", alter_sys=True)
    else:
        sys.argv = [script, *arguments]
        runpy.run_path(script, run_name="__main__")


main(*sys.argv[1:])
