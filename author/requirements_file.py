"""Reads a pip requirements file as build-course takes one for --packages:
each line a requirement pinned with ==, followed by its --hash options if
any; blank lines and # comments are ignored and a backslash at the end of a
line that is not a comment joins it to the next. Anything else pip reads
there (-r, -e, --index-url, a URL, ...) is refused with the file's path and
line, as make_zip.PackError."""

import hashlib
import re

from packaging.requirements import InvalidRequirement, Requirement

import make_zip

# The digests pip's hash-checking mode takes.
HASH_ALGORITHMS = ("sha256", "sha384", "sha512")
HASH_OPTION = "--hash"
# As pip has it: a comment starts at a # at the line's start or after a blank.
COMMENT = re.compile(r"(^|\s+)#.*$")


def logical_lines(text):
    """(number of its first line, text) of each line, continuations joined
    and comments dropped, as pip joins and drops them. A line ending in a
    backslash is joined to the next, without the backslashes at either of
    its ends; but a comment line (a # first, blanks aside) is joined to
    nothing, whatever it ends with, and ends a line continued into it: a
    "# wheels from C:\\wheels\\" above a requirement leaves it in."""
    joined, first = "", None
    for number, line in enumerate(text.splitlines(), 1):
        comment_line = COMMENT.match(line)
        if line.endswith("\\") and not comment_line:
            first = first or number
            joined += line.strip("\\")
            continue
        # A blank before the comment line keeps it a comment once joined.
        yield first or number, COMMENT.sub("", joined + (" " if comment_line else "") + line).strip()
        joined, first = "", None
    if first:
        yield first, COMMENT.sub("", joined).strip()


def digest_option(value, where):
    algorithm, _, digest = value.partition(":")
    if algorithm not in HASH_ALGORITHMS or not re.fullmatch(
            f"[0-9a-fA-F]{{{hashlib.new(algorithm).digest_size * 2}}}", digest):
        raise make_zip.PackError(f"{where}: {HASH_OPTION}={value}: expected {HASH_OPTION}=ALGORITHM:HEX with ALGORITHM "
                                 f"one of {', '.join(HASH_ALGORITHMS)} and HEX the whole digest")
    return f"{algorithm}:{digest.lower()}"


def not_taken(where, option):
    return make_zip.PackError(f"{where}: {option}: not taken here; a line holds a requirement pinned with == "
                              f"and its {HASH_OPTION} options")


def hashes_given(options, where):
    """The ALGORITHM:HEX digests of a line's options, --hash=V or --hash V."""
    digests, words = set(), list(options)
    while words:
        option, equals, value = words.pop(0).partition("=")
        if option != HASH_OPTION:
            raise not_taken(where, option)
        if not equals:
            value = words.pop(0) if words else ""
        digests.add(digest_option(value, where))
    return digests


def is_pinned(requirement):
    specifiers = list(requirement.specifier)
    return (requirement.url is None and len(specifiers) == 1 and specifiers[0].operator == "=="
            and not specifiers[0].version.endswith(".*"))


def requirement_of(text, where):
    try:
        requirement = Requirement(text)
    except InvalidRequirement as error:
        raise make_zip.PackError(f"{where}: not a requirement: {error}")
    if not is_pinned(requirement):
        raise make_zip.PackError(f"{where}: {text}: not pinned with ==; name the one version to ship, "
                                 "as NAME==VERSION")
    return requirement


def read(path):
    """The file's requirements as (Requirement, "path:line", set of
    ALGORITHM:HEX digests given for it)."""
    try:
        with open(path, encoding="utf-8-sig") as requirements:
            text = requirements.read()
    except UnicodeDecodeError:
        raise make_zip.PackError(f"{path}: not UTF-8 text")
    found = []
    for number, line in logical_lines(text):
        if not line:
            continue
        where = f"{path}:{number}"
        # pip's own split: the requirement runs up to the first word that
        # starts with a dash.
        words = line.split()
        dashed = next((index for index, word in enumerate(words) if word.startswith("-")), len(words))
        if dashed == 0:
            raise not_taken(where, words[0].partition("=")[0])
        found.append((requirement_of(" ".join(words[:dashed]), where), where,
                      hashes_given(words[dashed:], where)))
    return found
