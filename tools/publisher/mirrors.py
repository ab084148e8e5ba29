"""Mirrors: other places that serve the site's objects. The release names
them (in launcher/release2, which launchers before mirrors never ask for),
and verify --mirror checks one holds every object the release names."""

import hashlib
import json
import os
import re
import ssl
import sys
import urllib.error
import urllib.request

from .objects import object_path

MOST_MIRRORS = 8
ADDRESS_LIMIT = 200
# What players' launchers take: https, a lowercase host, a port without a
# leading zero, and path segments of letters, digits and "-._~", with no
# trailing slash. Nothing else can name another place on the host.
_ADDRESS = re.compile(r"https://([a-z0-9.-]+)(?::([1-9][0-9]{0,4}))?((?:/[A-Za-z0-9._~-]+)*)")


def check_mirror(address):
    m = _ADDRESS.fullmatch(address)
    host = m.group(1) if m else ""
    segments = m.group(3).split("/")[1:] if m else []
    if (not m or len(address) > ADDRESS_LIMIT or host[0] in ".-" or host.endswith(".") or ".." in host
            or (m.group(2) and int(m.group(2)) > 65535) or any(s in (".", "..") for s in segments)):
        sys.exit(f"--mirror {address!r} is not an address players' launchers take: https://host[:port][/path], "
                 f"a lowercase host, no trailing slash, at most {ADDRESS_LIMIT} characters")
    return address


def chosen_mirrors(args, previous):
    """--mirror replaces the list, --no-mirrors empties it; otherwise the
    release's mirrors stay."""
    if getattr(args, "no_mirrors", False):
        return []
    if not args.mirror:
        return list(previous)
    if len(args.mirror) > MOST_MIRRORS:
        sys.exit(f"at most {MOST_MIRRORS} mirrors: launchers read no more")
    return [check_mirror(a) for a in dict.fromkeys(args.mirror)]


def named_objects(site, release):
    """(what, path under launcher/o/, size, hash name) of every object the
    release names: its documents, then each game file and its map."""
    named = [(k, release[k][0], release[k][1], "sha256") for k in ("manifest", "notes", "banner") if release.get(k)]
    if release.get("launcher"):
        named.append(("launcher", release["launcher"][1], release["launcher"][2], "sha256"))
    try:
        with open(object_path(site, release["manifest"][0]), "rb") as f:
            files = json.loads(f.read())["files"]
    except (OSError, ValueError, KeyError, TypeError):
        sys.exit("the release's manifest is not on the site: publish again")
    for e in files:
        named.append((e["p"], e["h"], e["s"], "sha1"))
        if e.get("m"):
            named.append((e["p"] + " (its block map)", e["h"] + ".map", None, ("sha256", e["m"])))
        if e.get("z"):
            named.append((e["p"] + " (its zst form)", e["h"] + ".zst", e.get("zs"), ("sha256", e["z"])))
        if e.get("zf"):
            named.append((e["p"] + " (its frame table)", e["h"] + ".frames", None, ("sha256", e["zf"])))
        for old, size, digest, frames in e.get("from", []):
            named.append((e["p"] + f" (its patch from {old})", f"{e['h']}-{old}.zst", size, ("sha256", digest)))
            if frames:
                named.append((e["p"] + f" (its patch's frame table)", f"{e['h']}-{old}.frames", None, ("sha256", frames)))
        fine = object_path(site, e["h"] + ".fine")
        if e.get("f"):
            named.append((e["p"] + " (its fine map)", e["h"] + ".fine", None, ("sha256", e["f"])))
        elif os.path.isfile(fine):  # a manifest from before fine maps were named: the site's copy is the reference
            with open(fine, "rb") as f:
                data = f.read()
            named.append((e["p"] + " (its fine map)", e["h"] + ".fine", len(data),
                          ("sha256", hashlib.sha256(data).hexdigest())))
    return named


def _fetch_problem(url, size, hashing, context):
    """None when the mirror serves exactly the object, else what is wrong."""
    name, digest = hashing if isinstance(hashing, tuple) else (hashing, url.rsplit("/", 1)[1])
    h, length = hashlib.new(name), 0
    try:
        with urllib.request.urlopen(url, timeout=30, context=context) as answer:
            for block in iter(lambda: answer.read(1 << 20), b""):
                h.update(block)
                length += len(block)
    except urllib.error.HTTPError as e:
        return "missing (404)" if e.code == 404 else f"answered {e.code}"
    except (OSError, ValueError) as e:
        return f"not fetched ({getattr(e, 'reason', e)})"
    if size is not None and length != size:
        return f"{length} bytes, not {size}"
    return None if h.hexdigest() == digest else "bytes that do not match its hash"


def verify_mirror(site, release, address):
    """Fetches every object the release names from the mirror and prints
    what is missing or wrong; exits 1 when anything is."""
    check_mirror(address)
    # Launchers trust a mirror's bytes only by their hashes, never by its
    # certificate; so does this check, which fetches them all.
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    problems = []
    named = named_objects(site, release)
    for what, name, size, hashing in named:
        why = _fetch_problem(f"{address}/launcher/o/{name}", size, hashing, context)
        if why:
            problems.append(f"  {what} (launcher/o/{name}): {why}")
    if problems:
        print(f"the mirror {address} would fail players on {len(problems)} of {len(named)} objects:")
        print("\n".join(problems))
        sys.exit(1)
    print(f"the mirror {address} serves all {len(named)} objects of version {release['version']}")
