"""The site folder: its folders, writes by temp file and rename, the lock
that keeps one publish at a time, and the served files that go."""

import fcntl
import json
import os
import shutil
import sys
import tempfile


MARKER = "publishing"
LOCK = ".publish-lock"
HASH_CHUNK = 1 << 20


# Everything the site serves is readable by the web server's own user
# (www-data on Debian), whatever the umask of the build or the publish.

FILE_MODE, FOLDER_MODE = 0o644, 0o755
TEMP = ".publish-temp"  # in the site: same file system, so renames are atomic


def make_folders(path, top):
    """path and every folder on the way from top (which exists) to it. A file
    standing where a folder must go is stale, as the marker is up: it goes."""
    parts = os.path.relpath(path, top).split(os.sep)
    current = top
    for part in parts if parts != ["."] else []:
        current = os.path.join(current, part)
        if os.path.islink(current) or (os.path.lexists(current) and not os.path.isdir(current)):
            os.remove(current)
        if not os.path.isdir(current):
            os.mkdir(current)
            os.chmod(current, FOLDER_MODE)


def make_site(site):
    """The site folder and any missing folders above it, readable by all."""
    missing = []
    while not os.path.isdir(site):
        missing.append(site)
        site = os.path.dirname(site)
    for folder in reversed(missing):
        os.mkdir(folder)
        os.chmod(folder, FOLDER_MODE)


def clear_path(path):
    """A folder (or link) where a file must go is stale: it goes."""
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)


def temp_file(site):
    """An open temporary file in the site's temporary folder. Its name is
    short, so a target name of 255 bytes never grows past the limit."""
    folder = os.path.join(site, TEMP)
    if not os.path.isdir(folder):
        os.mkdir(folder, 0o700)
    fd, temp = tempfile.mkstemp(dir=folder)
    os.fchmod(fd, FILE_MODE)
    return os.fdopen(fd, "wb"), temp


def write_atomically(site, path, data):
    """Written to a temporary name, flushed, then renamed over the old one."""
    make_folders(os.path.dirname(path), site)
    f, temp = temp_file(site)
    with f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    clear_path(path)
    os.replace(temp, path)


def read_record(site, name):
    """A JSON object the tool keeps in the site; {} when it is missing or
    not one (it is then made again)."""
    try:
        with open(os.path.join(site, name), encoding="utf-8") as f:
            record = json.load(f)
    except (OSError, ValueError):
        return {}
    return record if isinstance(record, dict) else {}


def served_files(files_dir):
    found = set()
    for dirpath, _, names in os.walk(files_dir):
        for name in names:
            found.add(os.path.relpath(os.path.join(dirpath, name), files_dir).replace(os.sep, "/"))
    return found


def remove_stale(files_dir, keep):
    for name in sorted(served_files(files_dir) - keep):
        os.remove(os.path.join(files_dir, name))
    for dirpath, _, _ in sorted(os.walk(files_dir), key=lambda w: -len(w[0])):
        if dirpath != files_dir and not os.listdir(dirpath):
            os.rmdir(dirpath)



class SiteLock:
    """SITE/.publish-lock, held for a publish or a counts update. The kernel
    lets go of it when the process ends, however it ends."""

    def __init__(self, site, wait):
        make_site(site)
        self.fd = os.open(os.path.join(site, LOCK), os.O_RDWR | os.O_CREAT, 0o600)
        try:
            fcntl.flock(self.fd, fcntl.LOCK_EX | (0 if wait else fcntl.LOCK_NB))
        except BlockingIOError:
            os.close(self.fd)
            sys.exit(f"another publish of {site} is running; run this one when it has finished")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        os.close(self.fd)
