"""Copying a build into the site, hashed as it is copied, and skipping what
the last publish left as it is."""

import hashlib
import json
import os
import sys
import time

from .names import request_name
from . import objects
from .objects import BlockMapper, MAP_THRESHOLD, ensure_map, keep_as_object, object_path, serve_object, write_maps
from .site import HASH_CHUNK, clear_path, make_folders, temp_file, write_atomically


CACHE = ".publish-cache.json"



class Progress:
    """Files and bytes hashed, speed and time left, on a terminal only."""

    def __init__(self, files, total):
        self.files, self.total = files, total
        self.done_files, self.done = 0, 0
        self.start = self.shown = time.monotonic()
        self.live = sys.stderr.isatty()

    def add(self, size, file_done=False):
        self.done += size
        self.done_files += 1 if file_done else 0
        now = time.monotonic()
        if not self.live or now - self.shown < 0.2:
            return
        self.shown = now
        rate = self.done / max(now - self.start, 1e-6)
        left = (self.total - self.done) / rate if rate > 0 else 0
        sys.stderr.write(f"\rhashing {self.done_files}/{self.files} files, {self.done / 1e6:.0f}/"
                         f"{self.total / 1e6:.0f} MB, {rate / 1e6:.0f} MB/s, {left:.0f} s left   ")
        sys.stderr.flush()

    def finish(self):
        if self.live and self.done:
            sys.stderr.write("\n")


gProgress = None


def sha1_of(path, progress):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        while True:
            block = f.read(HASH_CHUNK)
            if not block:
                break
            h.update(block)
            progress.add(len(block))
    progress.add(0, file_done=True)
    return h.hexdigest()


def identity(st):
    """What tells one state of a file from another. Size and modification
    time alone do not: cp -p, archives and reproducible builds keep both
    while the contents change. Any write changes the change time, and a
    replaced file has a new inode."""
    return [st.st_size, st.st_mtime_ns, st.st_ctime_ns, st.st_ino, st.st_dev]


def load_cache(site):
    """The publish cache, with anything of the wrong shape left out: a bad
    entry only means that file is copied again."""
    try:
        with open(os.path.join(site, CACHE), encoding="utf-8") as f:
            cache = json.load(f)
    except (OSError, ValueError):
        return {}
    if not isinstance(cache, dict):
        return {}

    def sound(row):
        return (isinstance(row, dict) and isinstance(row.get("sha1"), str) and len(row["sha1"]) == 40 and
                all(isinstance(row.get(k), list) and len(row[k]) == 5 and
                    all(type(v) is int for v in row[k]) for k in ("build", "site")))
    return {rel: row for rel, row in cache.items() if sound(row)}


def place_file(site, source, target):
    """target becomes a copy of source, hashed as it is copied, so the size
    and SHA-1 describe exactly the bytes served, whatever happens to the
    build afterwards. The copy is the object launcher/o/<sha1>, and target a
    hard link to it. Returns (size, sha1)."""
    make_folders(os.path.dirname(target), site)
    h, size = hashlib.sha1(), 0
    out, temp = temp_file(site)
    with out, open(source, "rb") as src:
        announced = os.fstat(src.fileno()).st_size
        mapper = BlockMapper(announced) if announced >= MAP_THRESHOLD and objects.gMaps else None
        while True:
            block = src.read(HASH_CHUNK)
            if not block:
                break
            if mapper:
                mapper.add(block)
            h.update(block)
            out.write(block)
            size += len(block)
            gProgress.add(len(block))
    gProgress.add(0, file_done=True)
    sha1 = h.hexdigest()
    obj = object_path(site, sha1)
    if os.path.isfile(obj) and not os.path.islink(obj):
        os.remove(temp)  # the same bytes are stored already: objects never change
    else:
        make_folders(os.path.dirname(obj), site)
        clear_path(obj)
        os.replace(temp, obj)
    serve_object(site, obj, target)
    if mapper:
        write_maps(site, mapper, sha1)
    return size, sha1


def place_build(build, site, paths):
    """Every file of the build copied into SITE/files under its request
    name, except those whose build file and site copy are both exactly as
    the last publish left them. Returns [(path, size, sha1)] and how many
    were copied."""
    cache = load_cache(site)
    files_dir = os.path.join(site, "files")
    stats = {rel: os.stat(os.path.join(build, rel)) for rel in paths}
    entries, fresh, copied = [], {}, 0

    def unchanged(rel, target):
        row = cache.get(rel)
        try:
            return row and row["build"] == identity(stats[rel]) and row["site"] == identity(os.lstat(target))
        except OSError:
            return False

    stale = [rel for rel in paths if not unchanged(rel, os.path.join(files_dir, request_name(rel)))]
    global gProgress
    gProgress = Progress(len(stale), sum(stats[rel].st_size for rel in stale))
    for rel in paths:
        target = os.path.join(files_dir, request_name(rel))
        if rel in stale:
            size, sha1 = place_file(site, os.path.join(build, rel), target)
            copied += 1
        else:
            size, sha1 = stats[rel].st_size, cache[rel]["sha1"]
            keep_as_object(site, target, sha1)
            ensure_map(site, target, sha1, size)
        # The build's state as it was before the copy: a write during the
        # copy makes the next publish copy the file again.
        fresh[rel] = {"build": identity(stats[rel]), "site": identity(os.lstat(target)), "sha1": sha1}
        entries.append((rel, size, sha1))
    gProgress.finish()
    write_atomically(site, os.path.join(site, CACHE), json.dumps(fresh).encode("utf-8"))
    return entries, copied
