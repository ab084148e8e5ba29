"""The release: its text, its host, reading and writing it, and checking a
site's release and objects as a launcher with the key would."""

import base64
import hashlib
import json
import os
import sys
import tempfile
import time

from .objects import object_path
from .signing import SigningError, openssl, raw_signature, signature_verifies
from .site import HASH_CHUNK, write_atomically


RELEASE = os.path.join("launcher", "release")
# The same release with its mirrors, in the format launchers before mirrors
# never ask for; there only while the release names mirrors.
RELEASE2 = os.path.join("launcher", "release2")
DEFAULT_EXPIRY_DAYS = 30
HOST_CHARACTERS = set("abcdefghijklmnopqrstuvwxyz0123456789.-:")


def check_host(host):
    if not host or len(host) > 127 or not set(host) <= HOST_CHARACTERS:
        sys.exit(f"--host {host!r} is not a host name as players' launchers compare it: lowercase letters, "
                 "digits, '.', '-' and ':', at most 127")
    return host


def release_body(release, form=1):
    """Every line before "sig", in the one order launchers read."""
    lines = [f"tvl-release {form}", f"host {release['host']}", f"version {release['version']}",
             f"expires {release['expires']}", "manifest %s %d" % release["manifest"], "notes %s %d" % release["notes"]]
    if release.get("banner"):
        lines.append("banner %s %d" % release["banner"])
    if release.get("launcher"):
        lines.append("launcher %d %s %d" % release["launcher"])
    if form == 2:
        lines += [f"mirror {address}" for address in release.get("mirrors", [])]
    return ("\n".join(lines) + "\n").encode("ascii")


def signed_release(release, key_file, form=1):
    body = release_body(release, form)
    raw = raw_signature(openssl("dgst", "-sha256", "-sign", key_file, data=body))
    return body + b"sig " + base64.b64encode(raw) + b"\n"


def read_release(site, document=RELEASE):
    """The site's release as a dict (with "signed_part", "sig" and the
    mirrors of its release2 where that is the same release), or None."""
    try:
        with open(os.path.join(site, document), "rb") as f:
            text = f.read(8192)
    except OSError:
        return None
    release, signed = {"mirrors": []}, 0
    for line in text.decode("ascii", errors="replace").split("\n")[:-1]:
        name, _, value = line.partition(" ")
        parts = value.split(" ")
        if name in ("manifest", "notes", "banner") and len(parts) == 2 and parts[1].isdigit():
            release[name] = (parts[0], int(parts[1]))
        elif name == "launcher" and len(parts) == 3 and parts[0].isdigit() and parts[2].isdigit():
            release[name] = (int(parts[0]), parts[1], int(parts[2]))
        elif name in ("version", "expires") and value.isdigit():
            release[name] = int(value)
        elif name in ("host", "sig", "tvl-release"):
            release[name] = value
        elif name == "mirror":
            release["mirrors"].append(value)
        if name != "sig":
            signed += len(line) + 1
    release["signed_part"] = text[:signed]
    if document == RELEASE:
        second = read_release(site, RELEASE2)
        fields = ("host", "version", "expires", "manifest", "notes", "banner", "launcher")
        if second and all(second.get(k) == release.get(k) for k in fields):
            release["mirrors"] = second["mirrors"]
    return release


def _write_signed(site, release, key_file):
    mirrors = release.get("mirrors", [])
    if mirrors:  # first, so the release it adds mirrors to never comes before it
        write_atomically(site, os.path.join(site, RELEASE2), signed_release(release, key_file, 2))
    write_atomically(site, os.path.join(site, RELEASE), signed_release(release, key_file))
    if not mirrors and os.path.exists(os.path.join(site, RELEASE2)):
        os.remove(os.path.join(site, RELEASE2))


def write_release(site, release, key_file):
    """The release, signed, by one rename: it names only objects in place.
    With mirrors, release2 names them too. Without a key it is signed by a
    throwaway one: launchers without a key read it as it is, launchers with
    one refuse it as unsigned."""
    try:
        if key_file:
            _write_signed(site, release, key_file)
        else:
            with tempfile.TemporaryDirectory() as scratch:
                throwaway = os.path.join(scratch, "throwaway.key")
                with open(throwaway, "wb") as f:
                    os.fchmod(f.fileno(), 0o600)
                    f.write(openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"))
                _write_signed(site, release, throwaway)
    except SigningError as e:
        sys.exit(f"cannot sign the release: {e}")


def release_verifies(release, xy):
    return bool(release.get("sig")) and signature_verifies(release["signed_part"], release["sig"].encode(), xy)


def object_problem(site, digest, size, hash_name):
    path = object_path(site, digest)
    try:
        if os.path.getsize(path) != size:
            return "a size other than the release names"
        h = hashlib.new(hash_name)
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(HASH_CHUNK), b""):
                h.update(block)
    except OSError:
        return "missing"
    return None if h.hexdigest() == digest else "bytes that do not match its hash"


def verify_release(site, xy):
    """The release as a launcher with the key reads it: its signature, its
    expiry, and every object it names, game files included."""
    release = read_release(site)
    if not release or not release_verifies(release, xy):
        sys.exit("refused: launcher/release is not signed with this key (or is malformed)")
    named = [("manifest", *release["manifest"]), ("notes", *release["notes"])]
    named += [(k, *release[k]) for k in ("banner",) if release.get(k)]
    if release.get("launcher"):
        named.append(("launcher", release["launcher"][1], release["launcher"][2]))
    problems = [f"  {what} {digest}: {why}" for what, digest, size in named
                if (why := object_problem(site, digest, size, "sha256"))]
    try:
        with open(object_path(site, release["manifest"][0]), "rb") as f:
            files = [(e["p"], e["s"], e["h"]) for e in json.loads(f.read())["files"]]
    except (OSError, ValueError, KeyError, TypeError):
        files = []
    problems += [f"  {rel} ({sha1}): {why}" for rel, size, sha1 in files
                 if (why := object_problem(site, sha1, size, "sha1"))]
    if problems:
        sys.exit("release signed, but players would fail these objects:\n" + "\n".join(problems))
    days = (release["expires"] - time.time()) / 86400
    when = time.strftime("%Y-%m-%d", time.gmtime(release["expires"]))
    if days <= 0:
        sys.exit(f"refused: the release expired on {when}; run refresh")
    print(f"release: version {release['version']} for {release['host']}, signed, expires {when} "
          f"({days:.0f} days left), {len(named) + len(files)} objects checked")
