"""Objects no release has named for a day go, so a launcher mid-download
can finish first."""

import json
import os
import time

from .objects import MAP_THRESHOLD, OBJECTS
from .site import read_record, write_atomically


OBJECT_RECORD = ".publish-objects.json"  # when each object stopped being referenced
OBJECT_GRACE_SECONDS = 24 * 3600  # a launcher mid-download can finish


def referenced_objects(release, manifest_entries):
    names = {release[k][0] for k in ("manifest", "notes", "banner") if release.get(k)}
    if release.get("launcher"):
        names.add(release["launcher"][1])
    return names | {sha1 for _, _, sha1 in manifest_entries} | {
        sha1 + suffix for _, size, sha1 in manifest_entries if size >= MAP_THRESHOLD for suffix in (".map", ".fine")} | {
        sha1 + suffix for _, _, sha1 in manifest_entries for suffix in (".zst", ".frames")}


def collect_objects(site, referenced, now=None):
    """Deletes objects no release has named for OBJECT_GRACE_SECONDS; notes
    when the others stopped being named. Returns how many went."""
    now = time.time() if now is None else now
    folder = os.path.join(site, OBJECTS)
    since = read_record(site, OBJECT_RECORD)
    kept, removed = {}, 0
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if name in referenced:
            continue
        first = since.get(name)
        first = first if isinstance(first, (int, float)) else now
        if now - first >= OBJECT_GRACE_SECONDS:
            os.remove(os.path.join(folder, name))
            removed += 1
        else:
            kept[name] = first
    write_atomically(site, os.path.join(site, OBJECT_RECORD), json.dumps(kept).encode("utf-8"))
    return removed
