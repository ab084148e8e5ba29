"""Per-file patches: for each file whose path held other bytes in one of
the last releases (the site remembers them in HISTORY and keeps their
objects), a zstd patch made with the old file as its reference, as
`zstd --patch-from` makes it, kept where it is smaller than the file's zst
form (or the file where it has none). A patch is a zst form of the new file
whose frames each refer to the old file: launcher/o/<new>-<old>.zst, and
for more than one frame its table, launcher/o/<new>-<old>.frames. The
manifest lists each under its file's "from"."""

import json
import os

from .compressed import Form, recorded_forms
from .objects import object_path
from .site import read_record, write_atomically


HISTORY = ".publish-history.json"  # {"releases": [{"version": v, "files": {path: [sha1, size]}}]}, newest first
RECORD = ".publish-patches.json"  # what each patch is, so a republish reuses it
DEFAULT_RELEASES = 3
# A launcher maps the old file while it applies a patch: larger files are
# left to the block map, which never holds more than a block.
PATCH_MOST = 128 * 1024 * 1024


def patch_name(new, old):
    return f"{new}-{old}"


def read_history(site):
    history = read_record(site, HISTORY).get("releases")
    return [h for h in history if isinstance(h, dict) and isinstance(h.get("files"), dict)] if isinstance(history, list) else []


def remember_release(site, version, entries, releases):
    """This version's files first, then the releases before it, as many as
    patches are made from."""
    history = [h for h in read_history(site) if h.get("version") != version]
    history.insert(0, {"version": version, "files": {rel: [sha1, size] for rel, size, sha1 in entries}})
    write_atomically(site, os.path.join(site, HISTORY), json.dumps({"releases": history[:max(releases, 0)]}).encode("utf-8"))


def kept_objects(site, releases):
    """The objects of the releases patches are made from: they must stay."""
    return {row[0] for h in read_history(site)[:releases] for row in h["files"].values()
            if isinstance(row, list) and row}


def _wanted(site, entries, releases, compressed):
    """(new, old) -> Form for every patch worth trying."""
    wanted = {}
    for release in read_history(site)[:releases]:
        for rel, size, sha1 in entries:
            old = release["files"].get(rel)
            if not (isinstance(old, list) and len(old) == 2 and isinstance(old[0], str) and isinstance(old[1], int)):
                continue
            if old[0] == sha1 or (sha1, old[0]) in wanted or not 0 < size <= PATCH_MOST or not 0 < old[1] <= PATCH_MOST:
                continue
            if not os.path.isfile(object_path(site, old[0])):
                continue
            whole = compressed.get(sha1, {}).get("zs", size)
            wanted[(sha1, old[0])] = Form(patch_name(sha1, old[0]), sha1, size, whole - 1, old[0])
    return wanted


def make_patches(site, entries, releases, level, compressed):
    """The patches to each file from its versions in the last `releases`
    releases, made unless an earlier publish made or tried them. Returns
    {sha1: [[old sha1, size, sha256, frames sha256 or ""], ...]}."""
    wanted = _wanted(site, entries, releases, compressed)
    kept, tried, made = recorded_forms(site, RECORD, list(wanted.values()), level, "the zstd command is missing: "
                                       "install it (apt-get install zstd), or publish with --patch-releases 0")
    if tried:
        print(f"made {tried} patch(es) from the last {releases} release(s) at level {level}: {made} kept, "
              f"{tried - made} no smaller than the file's own form")
    offers = {}
    for (new, old), form in wanted.items():
        row = kept.get(form.name) or {}
        if row.get("zst"):
            offers.setdefault(new, []).append([old, row["zst"][1], row["zst"][0], row.get("frames", "")])
    return offers
