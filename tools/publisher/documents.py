"""The fixed documents the launcher reads: info and manifest."""

import json
import os
import re
import sys

from .objects import fine_digest, map_digest


VERSION_MAX = 2**31 - 1  # what players' launchers read as a version



def read_info(site):
    """The current info, or {} when there is none that this tool wrote."""
    try:
        with open(os.path.join(site, "launcher", "info"), encoding="utf-8") as f:
            info = json.load(f)
    except (OSError, ValueError):
        return {}
    if not isinstance(info, dict) or type(info.get("version")) is not int:
        return {}
    return info


def info_document(version, lobbies, players, notes):
    # ASCII with \uXXXX escapes: the launcher decodes those in the notes.
    return json.dumps({"version": version, "lobbies": lobbies, "players": players, "notes": notes},
                      ensure_ascii=True).encode("ascii")


def manifest_document(version, entries, site=None, compressed=None):
    # One entry per line, `"key": value` with one space: the launcher finds
    # values by exact text. Paths stay raw UTF-8, as it reads them. "m", "f"
    # the zst form's "z", "zs" and "zf", and the patches' "from" come after
    # "h", where readers that do not know them skip them.
    def entry(rel, size, sha1):
        fields = {"p": rel, "s": size, "h": sha1}
        digest = map_digest(site, sha1, size) if site else None
        if digest:
            fields["m"] = digest
            fine = fine_digest(site, sha1, size)
            if fine:
                fields["f"] = fine
        fields.update((compressed or {}).get(sha1, {}))
        return "  " + json.dumps(fields, ensure_ascii=False)
    lines = ",\n".join(entry(rel, size, sha1) for rel, size, sha1 in entries)
    return ('{"version": %d, "files": [\n%s\n]}\n' % (version, lines)).encode("utf-8")


def site_manifest_version(site):
    """The version in the site's launcher/manifest: the document players'
    launchers verify and remember the version of. None when there is none."""
    path = os.path.join(site, "launcher", "manifest")
    try:
        with open(path, "rb") as f:
            start = f.read(64)
    except FileNotFoundError:
        return None
    except OSError as e:
        sys.exit(f"cannot read {path} ({e.strerror})")
    match = re.match(rb'\{"version": ([0-9]+),', start)
    if not match:
        sys.exit(f"cannot sign: {path} holds no version this tool wrote, so the version players have is unknown; "
                 "restore it or remove it")
    return int(match.group(1))
