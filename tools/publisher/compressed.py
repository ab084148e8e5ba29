"""Beside each game file's object, its zstd form where that saves at least
5 %: launcher/o/<sha1>.zst, independent frames of FRAME_OUTPUT bytes of the
file each (the last one shorter), each saying its size and carrying its
checksum, so a launcher can start at any frame (segments, resumes). A file
of more than one frame also gets its frame table, launcher/o/<sha1>.frames
(format in the README). The manifest names both by SHA-256.

Made with the zstd command, one frame per process, several at once; a
patch (patches.py) is such a form made against an older file."""

import collections
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import sys

from .objects import object_path
from .site import read_record, temp_file, write_atomically


FRAME_OUTPUT = 4 * 1024 * 1024
KEEP_SHARE = 0.95  # a zst form is kept where it is at most this share of the file
DEFAULT_LEVEL = 12
TABLE_MAGIC = b"TVLZFR1\n"
RECORD = ".publish-compression.json"  # what each file's form is, so a republish reuses it


def zst_path(site, sha1):
    return object_path(site, sha1 + ".zst")


def frames_path(site, sha1):
    return object_path(site, sha1 + ".frames")


def frame_table(sha1, size, frame_sizes):
    return (TABLE_MAGIC + bytes.fromhex(sha1) + size.to_bytes(8, "little") + FRAME_OUTPUT.to_bytes(4, "little") +
            len(frame_sizes).to_bytes(4, "little") + b"".join(n.to_bytes(4, "little") for n in frame_sizes))


class Form(collections.namedtuple("Form", "name sha1 size most reference")):
    """A form to make: launcher/o/<name>.zst (and .frames) of the file
    <sha1> of `size` bytes, kept only at `most` bytes or fewer; `reference`
    is the object of the old file a patch is made from, or None."""


def _compress_frame(site, form, index, level):
    with open(object_path(site, form.sha1), "rb") as f:
        f.seek(index * FRAME_OUTPUT)
        data = f.read(FRAME_OUTPUT)
    # --stream-size writes the frame's size into its header; the checksum is zstd's default.
    command = ["zstd", "-q", "-c", f"-{level}", f"--stream-size={len(data)}"] + (["--ultra"] if level > 19 else [])
    if form.reference:
        command.append(f"--patch-from={object_path(site, form.reference)}")
    run = subprocess.run(command, input=data, capture_output=True)
    if run.returncode != 0:
        sys.exit(f"zstd could not compress {form.name}: {run.stderr.decode(errors='replace').strip()}")
    return run.stdout


class _Writer:
    """One form's frames, in order, into a temporary file."""

    def __init__(self, site, form):
        self.site, self.form = site, form
        self.out, self.temp = temp_file(site)
        self.digest, self.frames = hashlib.sha256(), []

    def add(self, frame):
        self.out.write(frame)
        self.digest.update(frame)
        self.frames.append(len(frame))

    def finish(self):
        """The row for the record: the form kept, or None where it saves too little."""
        self.out.close()
        packed = sum(self.frames)
        if packed > self.form.most:
            os.remove(self.temp)
            return None
        os.replace(self.temp, zst_path(self.site, self.form.name))
        row = {"zst": [self.digest.hexdigest(), packed]}
        if len(self.frames) > 1:
            table = frame_table(self.form.sha1, self.form.size, self.frames)
            write_atomically(self.site, frames_path(self.site, self.form.name), table)
            row["frames"] = hashlib.sha256(table).hexdigest()
        return row


def frame_count(size):
    return max(1, -(-size // FRAME_OUTPUT))


def make_forms(site, forms, level, workers=None):
    """Yields (form, row) for each form, compressing frames of every form
    side by side but holding only a few at once."""
    workers = workers or os.cpu_count() or 2
    jobs = ((form, index) for form in forms for index in range(frame_count(form.size)))
    pending = collections.deque()
    writer = None
    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        def take_one():
            nonlocal writer
            (form, index), future = pending.popleft()
            if index == 0:
                writer = _Writer(site, form)
            writer.add(future.result())
            if index == frame_count(form.size) - 1:
                return form, writer.finish()
            return None
        for job in jobs:
            pending.append((job, pool.submit(_compress_frame, site, job[0], job[1], level)))
            if len(pending) >= 2 * workers and (done := take_one()):
                yield done
        while pending:
            if done := take_one():
                yield done


def row_sound(site, sha1, row):
    """The record's row still describes the site: its forms are there, of
    their size (a form removed by hand is made again)."""
    zst = row.get("zst")
    if zst is None:
        return True
    try:
        return os.path.getsize(zst_path(site, sha1)) == zst[1] and (
            "frames" not in row or os.path.isfile(frames_path(site, sha1)))
    except OSError:
        return False


def recorded_forms(site, record_name, forms, level, without_zstd):
    """Rows by form name for every form of `forms`: the record's where what
    it describes still stands, the others made now at `level` (a row with
    "zst" None where the form saved too little). Returns the rows and how
    many were made and how many of those kept; exits with `without_zstd`
    when forms must be made and the zstd command is missing."""
    record = read_record(site, record_name)
    names = {form.name for form in forms}
    rows = {name: row for name, row in record.items()
            if name in names and isinstance(row, dict) and row_sound(site, name, row)}
    todo = [form for form in forms if form.name not in rows]
    if todo and shutil.which("zstd") is None:
        sys.exit(without_zstd)
    kept = 0
    for form, row in make_forms(site, todo, level):
        rows[form.name] = {"level": level, **(row or {"zst": None})}
        kept += row is not None
    write_atomically(site, os.path.join(site, record_name), json.dumps(rows).encode("utf-8"))
    return rows, len(todo), kept


def compress_objects(site, entries, level):
    """Each game file's zst form, made at `level` unless an earlier publish
    made or tried one. Returns {sha1: manifest fields} for the files that
    have one."""
    sizes = {sha1: size for _, size, sha1 in entries}
    forms = [Form(sha1, sha1, size, int(size * KEEP_SHARE), None) for sha1, size in sizes.items() if size > 0]
    rows, tried, made = recorded_forms(site, RECORD, forms, level, "the zstd command is missing: install it "
                                       "(apt-get install zstd), or publish with --no-compress")
    if tried:
        print(f"compressed {tried} file(s) at level {level}: {made} kept, {tried - made} saved less than "
              f"{round((1 - KEEP_SHARE) * 100)} %")
    fields = {}
    for sha1, row in rows.items():
        if row.get("zst"):
            fields[sha1] = {"z": row["zst"][0], "zs": row["zst"][1], **({"zf": row["frames"]} if "frames" in row else {})}
    return fields
