"""What a build may hold: the names players' launchers accept, the banner,
no private keys, and where a key file may lie."""

import os
import re
import stat
import sys
import urllib


ENCODED_PATH_LIMIT = 1180  # what the launcher encodes of a path at most
NAME_LIMIT = 255           # bytes in one file name here

DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    f"{port}{digit}" for port in ("COM", "LPT") for digit in "0123456789\u00b9\u00b2\u00b3"}



def request_name(rel):
    """The path as the launcher puts it in "/launcher/file?p=": every byte
    but letters, digits and - _ . / ~ percent-encoded, hex in capitals."""
    return urllib.parse.quote(rel.encode("utf-8"), safe="-_./~")


def fold(c):
    """One character as Windows' invariant upper-case table maps it: to its
    upper case (or, for the Greek letters with a subscript iota, its title
    case) where that is one character whose lower case is c again. Letters
    such as \u00b5, \u0131, \u017f and \u01c5 stay as they are. The tests hold
    this against the launcher's own table over every character."""
    for mapped in (c.upper(), c.title()):
        if len(mapped) == 1 and mapped.lower() == c:
            return mapped
    return c


def file_name_key(rel):
    """The name as Windows compares it."""
    return "".join(fold(c) for c in rel)


def shown(rel):
    """A name for messages, also when it is not valid UTF-8."""
    return rel.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")


def component_problem(part):
    if part == "":
        return "an empty folder name"
    if part[-1] in ". ":
        return "a name ending in a dot or a space, which Windows drops"
    base = part.split(".", 1)[0].rstrip(" ")
    if base.upper() in DEVICE_NAMES:
        return f"{base!r} is a device name on Windows"
    return None


def path_problem(rel):
    try:
        rel.encode("utf-8")
    except UnicodeEncodeError:
        return "the name is not valid UTF-8"
    bad = sorted({c for c in rel if c in '<>"|?*:\\' or ord(c) < 32})
    if bad:
        return "the characters " + " ".join(repr(c) for c in bad) + " are not allowed"
    if ".." in rel:
        return "'..' is not allowed"
    if len(rel.encode("utf-8")) > 399:
        return "longer than the 399 bytes a launcher reads"
    for part in rel.split("/"):
        problem = component_problem(part)
        if problem:
            return problem
    encoded = request_name(rel)
    if len(encoded) > ENCODED_PATH_LIMIT:
        return "too long once encoded for the request"
    if any(len(part) > NAME_LIMIT for part in encoded.split("/")):
        return f"a name longer than {NAME_LIMIT} bytes once encoded for the server"
    return None


def refusals(paths):
    """Every path players' launchers would refuse, with the reason; one bad
    path makes them refuse the whole manifest."""
    found = [(rel, path_problem(rel)) for rel in paths]
    found = [(rel, why) for rel, why in found if why]
    by_key = {}
    for rel in paths:
        by_key.setdefault(file_name_key(rel), []).append(rel)
    for same in by_key.values():
        if len(same) > 1:
            found += [(rel, "the same file on Windows as " + " and ".join(repr(o) for o in same if o != rel))
                      for rel in same]
    for key, rels in by_key.items():
        if key.endswith(".PART") and key[:-5] in by_key:
            found += [(rel, f"it would be the download file of {by_key[key[:-5]][0]!r}") for rel in rels]
    return sorted(set(found))


def scan_build(build_dir):
    """The build's regular files, and what stands in the way of publishing it
    whole: symbolic links (to files or folders, broken or looping), other
    kinds of file and folders that cannot be read. Players would otherwise
    get a game with pieces missing, or the server would serve what a link
    points at."""
    paths, problems = [], []

    def rel(full):
        return os.path.relpath(full, build_dir).replace(os.sep, "/")

    def unreadable(error):
        problems.append((rel(error.filename), f"cannot be read ({error.strerror})"))

    for dirpath, dirnames, names in os.walk(build_dir, onerror=unreadable):
        dirnames.sort()
        for name in list(dirnames):
            full = os.path.join(dirpath, name)
            if os.path.islink(full):
                problems.append((rel(full), f"a symbolic link to {shown(os.readlink(full))!r}: "
                                            "put the real folder in the build"))
                dirnames.remove(name)
        for name in names:
            full = os.path.join(dirpath, name)
            mode = os.lstat(full).st_mode
            if stat.S_ISLNK(mode):
                problems.append((rel(full), f"a symbolic link to {shown(os.readlink(full))!r}: "
                                            "put the real file in the build"))
            elif not stat.S_ISREG(mode):
                problems.append((rel(full), "not a regular file"))
            else:
                paths.append(rel(full))
    return sorted(paths), problems


def overlapping(build, site):
    """Does either folder hold the other (or are they one)?"""
    b, s = os.path.realpath(build), os.path.realpath(site)
    return b == s or s.startswith(b.rstrip(os.sep) + os.sep) or b.startswith(s.rstrip(os.sep) + os.sep)


IMAGE_STARTS = (b"\x89PNG\r\n\x1a\n", b"\xff\xd8\xff", b"GIF87a", b"GIF89a", b"BM", b"II*\0", b"MM\0*", b"\0\0\1\0")
BANNER_LIMIT = 16 * 1024 * 1024


def banner_problem(path):
    """Why the launcher would not show this banner, or None."""
    try:
        size = os.path.getsize(path)
        with open(path, "rb") as f:
            start = f.read(8)
    except OSError as e:
        return f"cannot be read ({e.strerror})"
    if size > BANNER_LIMIT:
        return f"{size} bytes, more than the {BANNER_LIMIT} a launcher takes"
    if not start.startswith(IMAGE_STARTS):
        return "not a PNG, JPEG, GIF, BMP, TIFF or ICO picture"
    return None


def inside(path, folder):
    p, f = os.path.realpath(path), os.path.realpath(folder)
    return p == f or p.startswith(f.rstrip(os.sep) + os.sep)


PRIVATE_KEY_LIMIT = 1 << 20  # PEM keys are a few KB; a larger file is game data
PRIVATE_KEY_PEM = re.compile(rb"-----BEGIN [A-Z0-9 ]*PRIVATE KEY-----")


def private_keys(build, paths):
    """Files of the build that look like a PEM private key: a signed publish
    would list them in the manifest and install them on every player's disk."""
    found = []
    for rel in paths:
        full = os.path.join(build, rel)
        try:
            if os.path.getsize(full) > PRIVATE_KEY_LIMIT:
                continue
            with open(full, "rb") as f:
                if PRIVATE_KEY_PEM.search(f.read()):
                    found.append((rel, "looks like a PEM private key: players would all get a copy"))
        except OSError:
            continue
    return found


def check_key_place(key, *folders):
    """A key file inside the build or the site would be served to players."""
    for what, folder in folders:
        if inside(key, folder):
            sys.exit(f"cannot sign: the key {key} lies inside the {what} {folder}, so players would download it; "
                     "keep it outside both")
