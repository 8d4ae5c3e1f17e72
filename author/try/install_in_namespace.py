"""The inside of a try (try_course.py): run as the first process of a private
network, mount and process namespace, so that all it starts ends with it.
Brings the loopback up, makes the courses' host names mean 127.0.0.1, serves
the pinned files over HTTPS under a throwaway CA, makes a Wine prefix in the
work folder that trusts that CA, installs the program there and waits,
bounded, for the installed course to answer. Exit status 0 when it answered
with HTTP 200, 1 otherwise.

usage: install_in_namespace.py --work FOLDER --program PROGRAM.exe
           --helpers WINDOWS_BUILD_DIR --course-url URL (--serve ADDRESS FILE)...
"""

import argparse
import glob
import html
import os
import re
import shutil
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

sys.dont_write_bytecode = True
TRY = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(TRY))
WINE_KIT = os.path.join(SOURCE, "winekit")
sys.path.insert(0, TRY)
sys.path.insert(0, WINE_KIT)

import file_server  # noqa: E402 (beside this script)
import throwaway_ca  # noqa: E402 (the Wine kit's)

WINE_RUN = os.path.join(WINE_KIT, "wine-run")
# The installer bounds each child it waits for (30 minutes to unpack); this
# bounds the whole installation on top of that.
INSTALL_SECONDS = 45 * 60
# The launcher gives the course two minutes to answer before it sends the
# browser to the page that says why not; the try waits that, and a little.
LAUNCHER_SECONDS = 150
POLL_SECONDS = 0.5
# The page the launcher writes into the install folder when the course
# could not start.
FAILURE_PAGE = "course-start-failed.html"


class TryFailed(Exception):
    pass


def run(command, what, **options):
    result = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            text=True, **options)
    if result.returncode != 0:
        raise TryFailed(f"{what} failed (exit status {result.returncode}):\n{result.stdout}")


def isolate(work, hosts):
    """The namespace's own loopback, host names and meeting place of Wine's
    servers (so this prefix's server leaves no socket behind)."""
    run(["ip", "link", "set", "lo", "up"], "bringing the loopback up")
    hosts_file = os.path.join(work, "hosts")
    with open(hosts_file, "w") as out:
        # IPv4 only, where the file server listens.
        out.write(f"127.0.0.1\tlocalhost {' '.join(sorted(hosts - {'localhost'}))}\n")
    run(["mount", "--bind", hosts_file, "/etc/hosts"], "mapping the host names to 127.0.0.1")
    wine_sockets = f"/tmp/.wine-{os.getuid()}"
    os.makedirs(wine_sockets, mode=0o700, exist_ok=True)
    run(["mount", "-t", "tmpfs", "-o", "mode=0700", "quillby-try", wine_sockets], "giving Wine a place of its own")


def serve(work, addresses, hosts):
    folder = os.path.join(work, "ca")
    os.makedirs(folder)
    throwaway_ca.make_ca(folder, "/CN=Quillby try CA")
    certificate, key = throwaway_ca.make_certificate(folder, "server", f"/CN={min(hosts)}", sorted(hosts))
    return file_server.serve(addresses, certificate, key), os.path.join(folder, "ca.der")


def install(work, program, helpers, ca):
    """Runs the program in a new prefix that stands in for a learner's
    Windows; its status and transcript."""
    prefix = os.path.join(work, "prefix")
    run(["sh", os.path.join(WINE_KIT, "prepare_prefix.sh"), prefix, helpers, SOURCE, ca,
         os.path.join(work, "browser.log")], "making the Wine prefix")
    # The stand-in python.exe runs the host's Python when asked to (the real
    # embeddable runtime knows nothing of the variable); what the course's
    # server prints reaches the log its launcher keeps, as on Windows.
    environment = dict(os.environ, QUILLBY_PYTHON_HOST=shutil.which("python3") or "python3")
    # From a folder of its own, as from Downloads: archives beside the
    # program where it was built (the --files folder) would spare it the
    # network this try is there to exercise.
    downloads = os.path.join(work, "Downloads")
    os.makedirs(downloads)
    program = shutil.copy(program, downloads)
    transcript = os.path.join(work, "install.log")
    # Into a file: the course server the installer leaves running holds its
    # output open, and a pipe would not end.
    with open(transcript, "wb") as out:
        status = subprocess.run([WINE_RUN, prefix, program], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, env=environment, timeout=INSTALL_SECONDS).returncode
    with open(transcript, "rb") as log:
        lines = log.read().decode("utf-8", "replace").replace("\r", "\n").split("\n")
    return status, [line for line in lines if line.strip()]


def page_text(page):
    """A page's words, as the browser would show them: no tags."""
    with open(page, encoding="utf-8", errors="replace") as opened:
        text = re.sub(r"<(style|title)>.*?</\1>", "", opened.read(), flags=re.S)
    lines = (html.unescape(re.sub(r"<[^>]+>", "", line)).rstrip() for line in text.split("\n"))
    return "\n".join(line for line in lines if line)


def opened_by_launcher(course_url, work):
    """What the launcher sent the browser to, once it did: the course's
    address, or the failure page; TryFailed when it sent it nowhere in
    time."""
    deadline = time.monotonic() + LAUNCHER_SECONDS
    while time.monotonic() < deadline:
        try:
            with open(os.path.join(work, "browser.log"), encoding="utf-8", errors="replace") as log:
                opened = log.read()
        except OSError:
            opened = ""
        if FAILURE_PAGE in opened:
            return FAILURE_PAGE
        if course_url in opened:
            return course_url
        time.sleep(POLL_SECONDS)
    raise TryFailed(f"The launcher did not send the browser anywhere within {LAUNCHER_SECONDS} seconds.")


def page_title(course_url, work):
    """The title of the page the course serves, once the launcher has sent
    the browser to it; TryFailed, with the failure page's text, when the
    launcher sent it there instead, or when the course does not answer with
    HTTP 200."""
    if opened_by_launcher(course_url, work) == FAILURE_PAGE:
        pages = glob.glob(os.path.join(work, "prefix", "drive_c", "users", "*", "AppData", "Local", "*",
                                       FAILURE_PAGE))
        text = page_text(pages[0]) if pages else "(the page is not there)"
        raise TryFailed(f"The course did not start; the launcher sent the browser to its failure page:\n{text}")
    try:
        with urllib.request.urlopen(course_url, timeout=5) as answer:
            page = answer.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:
        raise TryFailed(f"The course answered at {course_url} with HTTP {error.code}.")
    except OSError as error:
        raise TryFailed(f"The course did not answer at {course_url}: {error}")
    title = re.search(r"<title>(.*?)</title>", page, re.S | re.I)
    return title.group(1).strip() if title else "(a page without a title)"


def stop_wine(work):
    prefix = os.path.join(work, "prefix")
    if os.path.isdir(prefix):
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def report_failure(message, requests):
    print(message)
    print("The file server answered:")
    print("\n".join(requests) or "(no request)", flush=True)


def main(argv):
    parser = argparse.ArgumentParser(prog="install_in_namespace.py")
    parser.add_argument("--work", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--helpers", required=True)
    parser.add_argument("--course-url", required=True)
    parser.add_argument("--serve", nargs=2, action="append", required=True, metavar=("ADDRESS", "FILE"))
    options = parser.parse_args(argv)
    hosts = {urllib.parse.urlsplit(address).hostname for address, _ in options.serve}
    # What Wine and the tools it runs keep in temporary folders goes with the
    # work folder too.
    os.environ["TMPDIR"] = os.path.join(options.work, "tmp")
    os.makedirs(os.environ["TMPDIR"])
    requests = []
    try:
        isolate(options.work, hosts)
        requests, ca = serve(options.work, options.serve, hosts)
        status, transcript = install(options.work, options.program, options.helpers, ca)
        print("\n".join(transcript), flush=True)
        if status != 0:
            raise TryFailed(f"The installer ended with status {status}.")
        print(f"{options.course_url} answers: {page_title(options.course_url, options.work)}", flush=True)
        return 0
    except (TryFailed, throwaway_ca.OpensslError, subprocess.TimeoutExpired, OSError) as error:
        report_failure(str(error), requests)
        return 1
    except KeyboardInterrupt:
        return 1  # try_course.py, interrupted too, says so
    finally:
        stop_wine(options.work)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
