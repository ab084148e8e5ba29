#!/usr/bin/env python3
"""Publishes a build of Tervalon for players' launchers, to be served by a
stock web server (tools/nginx/tvl-launcher.conf).

  tvl_publish.py publish BUILD_DIR --site SITE_DIR [--version N] [--notes FILE] [--banner IMAGE]
                         [--host HOST [--sign KEYFILE] [--expires DAYS]]
  tvl_publish.py counts LOBBIES PLAYERS --site SITE_DIR
  tvl_publish.py keygen KEYFILE
  tvl_publish.py verify --site SITE_DIR --key KEY
  tvl_publish.py refresh --site SITE_DIR --sign KEYFILE [--expires DAYS]
  tvl_publish.py launcher EXE --site SITE_DIR --sign KEYFILE [--version N]

publish writes SITE_DIR/launcher/{info,manifest,banner} in the shapes the
launcher reads, and the build's files under SITE_DIR/files/ named as the
launcher asks for them ("Movies/Intro Café.mp4" is files/Movies/Intro%20Caf%C3%A9.mp4).
 - Files are copied, and hashed as they are copied: the manifest describes
   exactly the bytes served, whatever later happens to the build. Everything
   is written readable by the web server's user (files 0644, folders 0755).
 - Without --version the version is the current one plus 1; the lobby and
   player counts of the current info are kept. Versions are whole numbers
   from 1 to 2147483647; anything else is refused with one line.
 - It is incremental: a file whose build copy and site copy are both as the
   last publish left them (size, times, inode) is neither copied nor hashed.
 - While it runs, SITE_DIR/publishing makes the manifest answer 503 (players'
   launchers wait and retry on their own); the new manifest and info appear
   only when every file is in place; files the new version no longer has go
   only after that. Interrupted, it leaves the old version or the 503, and
   running it again finishes the job. One publish at a time: a second one
   is refused while the first holds SITE_DIR/.publish-lock.
 - It refuses a build with names players' launchers would refuse, symbolic
   links, or a site inside the build (or the reverse), and names every
   offending file with the reason; and a banner that is not a picture.

counts rewrites the two counts of the info, for the game server to call; it
waits for a publish that is running.

The release: with --host HOST, every game file is also stored once as the
object launcher/o/<sha1> (files/ holds hard links to them, costing no
space), the manifest, the notes (UTF-8, LF line ends) and the banner as
launcher/o/<sha256>, and then launcher/release names the host, the version,
an expiry (--expires DAYS, default 30) and those objects, written last by
one rename. Launchers read the release first and fetch everything else by
hash, so a cache can never pair a new document with old bytes. A site that
has a release gets a new one at every publish (its host is kept).
 - keygen writes a new private key (PEM, mode 0600; never over an existing
   file) and prints the manifest_key= line for TVLLauncher.ini.
 - publish --sign KEYFILE --host HOST signs the release (ECDSA P-256 over
   the SHA-256 of every byte before its sig line). Players' launchers with
   the key use only a release signed by it, for their server, not expired,
   and not older than one they accepted. Without --sign the release is
   signed by a throwaway key: launchers without a key use it, launchers
   with one refuse it.
 - Under --sign the current version is the highest of launcher/manifest and
   the release, and a version that is not higher is refused. So are a
   KEYFILE inside the build or the site, and a build holding files that look
   like PEM private keys (each is listed): players would download them.
 - refresh signs the current release again with a new expiry; run it from
   cron well before the expiry.
 - verify checks a site as a launcher with that key would: the release, its
   expiry and every object it names, then the served files. KEY is the
   88-character key, a manifest_key= line, a file holding one
   (TVLLauncher.ini), or a PEM key.
 - Objects no release has named for 24 hours are deleted by a later publish,
   so a launcher in the middle of a download can finish.

launcher publishes a new TVLLauncher.exe as an object and a new signed
release naming it (same version, new expiry); players' launchers with the
key download it in the background and swap it in at their next start. It
needs --sign and a signed release on the site, and refuses a version that
is not higher than the one published. Without --version the version is read
from the exe's VERSIONINFO (its file version's first part).

Python 3 standard library and the openssl command only.
"""

import argparse
import base64
import fcntl
import hashlib
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import zlib

MARKER = "publishing"
VERSION_MAX = 2**31 - 1  # what players' launchers read as a version
CACHE = ".publish-cache.json"
LOCK = ".publish-lock"
HASH_CHUNK = 1 << 20
ENCODED_PATH_LIMIT = 1180  # what the launcher encodes of a path at most
NAME_LIMIT = 255           # bytes in one file name here

DEVICE_NAMES = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"} | {
    f"{port}{digit}" for port in ("COM", "LPT") for digit in "0123456789\u00b9\u00b2\u00b3"}


# ---- names ----------------------------------------------------------------

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


# ---- writing safely -------------------------------------------------------
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


# ---- objects and the release -----------------------------------------------
# Everything a release names lives under launcher/o/ by its hash (SHA-1 for
# game files, as the manifest gives it; SHA-256 for the rest) and never
# changes; launcher/release is the one document a publish changes in place,
# by one rename. files/ and the other fixed documents stay, as hard links or
# copies, for launchers that know only those.

OBJECTS = os.path.join("launcher", "o")
RELEASE = os.path.join("launcher", "release")
OBJECT_RECORD = ".publish-objects.json"  # when each object stopped being referenced
OBJECT_GRACE_SECONDS = 24 * 3600  # a launcher mid-download can finish
DEFAULT_EXPIRY_DAYS = 30
HOST_CHARACTERS = set("abcdefghijklmnopqrstuvwxyz0123456789.-:")


def object_path(site, digest):
    return os.path.join(site, OBJECTS, digest)


def serve_object(site, obj, target):
    """target becomes a hard link to the object, replacing what was there in
    one rename: a launcher reading the old file keeps its bytes."""
    make_folders(os.path.dirname(target), site)
    folder = os.path.join(site, TEMP)
    os.makedirs(folder, 0o700, exist_ok=True)
    link = os.path.join(folder, "link-" + os.path.basename(obj))
    if os.path.lexists(link):
        os.remove(link)
    os.link(obj, link)
    clear_path(target)
    os.replace(link, target)


def keep_as_object(site, served, sha1):
    """An unchanged file from before objects existed gets its object by a
    link: the served file is only ever replaced by a rename, never written."""
    obj = object_path(site, sha1)
    if not os.path.lexists(obj):
        make_folders(os.path.dirname(obj), site)
        os.link(served, obj)


def store_object(site, data):
    """Bytes as the object launcher/o/<sha256>. Returns (sha256, size)."""
    digest = hashlib.sha256(data).hexdigest()
    path = object_path(site, digest)
    if not os.path.isfile(path):
        write_atomically(site, path, data)
    return digest, len(data)


# ---- block maps ---------------------------------------------------------------
# A game file of MAP_THRESHOLD bytes or more gets launcher/o/<sha1>.map, made
# in the pass that copies and hashes it, so a launcher with an older copy
# fetches only the blocks it lacks (format in the README).

MAP_THRESHOLD = 4 * 1024 * 1024
MAP_MAGIC = b"TVLMAP1\n"
CHECK_SPAN = 256


def map_block_size(size):
    """Near sqrt(size / 3), a power of two from 4 KiB to 64 KiB."""
    ideal, block = (size / 3) ** 0.5, 4096
    while block < 65536 and block * 1.5 < ideal:
        block *= 2
    return block


def map_check_bytes(size, block):
    weak_hits = size * (size / block) / 2**32
    for width in (2, 3):
        if weak_hits / 2 ** (8 * width) < 1e-5:
            return width
    return 4


class BlockMapper:
    """Fed a file's bytes in order (pieces a whole number of blocks long,
    but the last); gives its map."""

    def __init__(self, size):
        self.size, self.block = size, map_block_size(size)
        self.check_bytes = map_check_bytes(size, self.block)
        self.weak, self.check, self.seen = [], [], 0

    def add(self, piece):
        # List comprehensions: the per-block cost is most of a map's price.
        view, block, crc = memoryview(piece), self.block, zlib.crc32
        starts = range(0, len(view), block)
        self.weak += [crc(view[at:at + block]) for at in starts]
        self.check += [crc(view[at:at + min(CHECK_SPAN, block)]) for at in starts]
        self.seen += len(piece)

    def finish(self, sha1):
        """The map, or None when the bytes seen are not the size announced."""
        if self.seen != self.size:
            return None
        header = (MAP_MAGIC + bytes.fromhex(sha1) + self.size.to_bytes(8, "little") +
                  self.block.to_bytes(4, "little") + bytes([4, self.check_bytes, 0, 0]))
        pairs = [0] * (2 * len(self.weak))
        pairs[0::2], pairs[1::2] = self.weak, self.check
        sums = struct.pack(f"<{len(pairs)}I", *pairs)
        if self.check_bytes < 4:  # each check sum keeps its low bytes only
            width = 4 + self.check_bytes
            sums = b"".join(sums[at:at + width] for at in range(0, len(sums), 8))
        return header + sums


def map_path(site, sha1):
    return object_path(site, sha1 + ".map")


gMaps = True  # --no-maps turns them off


def ensure_map(site, served, sha1, size):
    """A kept file from before maps existed gets one, read from its object."""
    if not gMaps or size < MAP_THRESHOLD or os.path.isfile(map_path(site, sha1)):
        return
    mapper = BlockMapper(size)
    with open(served, "rb") as f:
        for block in iter(lambda: f.read(HASH_CHUNK), b""):
            mapper.add(block)
    data = mapper.finish(sha1)
    if data is not None:
        write_atomically(site, map_path(site, sha1), data)


def check_host(host):
    if not host or len(host) > 127 or not set(host) <= HOST_CHARACTERS:
        sys.exit(f"--host {host!r} is not a host name as players' launchers compare it: lowercase letters, "
                 "digits, '.', '-' and ':', at most 127")
    return host


def release_body(release):
    """Every line before "sig", in the one order launchers read."""
    lines = ["tvl-release 1", f"host {release['host']}", f"version {release['version']}",
             f"expires {release['expires']}", "manifest %s %d" % release["manifest"], "notes %s %d" % release["notes"]]
    if release.get("banner"):
        lines.append("banner %s %d" % release["banner"])
    if release.get("launcher"):
        lines.append("launcher %d %s %d" % release["launcher"])
    return ("\n".join(lines) + "\n").encode("ascii")


def signed_release(release, key_file):
    body = release_body(release)
    raw = raw_signature(openssl("dgst", "-sha256", "-sign", key_file, data=body))
    return body + b"sig " + base64.b64encode(raw) + b"\n"


def read_release(site):
    """The site's release as a dict (with "signed_part" and "sig"), or None."""
    try:
        with open(os.path.join(site, RELEASE), "rb") as f:
            text = f.read(8192)
    except OSError:
        return None
    release, signed = {}, 0
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
        if name != "sig":
            signed += len(line) + 1
    release["signed_part"] = text[:signed]
    return release


def referenced_objects(release, manifest_entries):
    names = {release[k][0] for k in ("manifest", "notes", "banner") if release.get(k)}
    if release.get("launcher"):
        names.add(release["launcher"][1])
    return names | {sha1 for _, _, sha1 in manifest_entries} | {
        sha1 + ".map" for _, size, sha1 in manifest_entries if size >= MAP_THRESHOLD}


def collect_objects(site, referenced, now=None):
    """Deletes objects no release has named for OBJECT_GRACE_SECONDS; notes
    when the others stopped being named. Returns how many went."""
    now = time.time() if now is None else now
    folder = os.path.join(site, OBJECTS)
    try:
        with open(os.path.join(site, OBJECT_RECORD), encoding="utf-8") as f:
            since = json.load(f)
        since = since if isinstance(since, dict) else {}
    except (OSError, ValueError):
        since = {}
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


def write_release(site, release, key_file):
    """The release, signed, by one rename: it names only objects in place.
    Without a key it is signed by a throwaway one: launchers without a key
    read it as it is, launchers with one refuse it as unsigned."""
    try:
        if key_file:
            body = signed_release(release, key_file)
        else:
            with tempfile.TemporaryDirectory() as scratch:
                throwaway = os.path.join(scratch, "throwaway.key")
                with open(throwaway, "wb") as f:
                    os.fchmod(f.fileno(), 0o600)
                    f.write(openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"))
                body = signed_release(release, throwaway)
        write_atomically(site, os.path.join(site, RELEASE), body)
    except SigningError as e:
        sys.exit(f"cannot sign the release: {e}")


# ---- signing --------------------------------------------------------------
# The launcher reads raw r||s and X||Y; openssl speaks DER. These convert.

RETIRED = ("manifest.sig", "self", "self.sig", "self.exe")
# SubjectPublicKeyInfo of a P-256 key up to the uncompressed point's 0x04.
P256_SPKI_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200") + b"\x04"


class SigningError(Exception):
    pass


def openssl(*args, data=None):
    try:
        done = subprocess.run(["openssl", *args], input=data, capture_output=True)
    except FileNotFoundError:
        raise SigningError("the openssl command is missing (apt-get install openssl)")
    if done.returncode != 0:
        raise SigningError(f"openssl {args[0]}: {done.stderr.decode(errors='replace').strip()}")
    return done.stdout


def public_key(key_file):
    """The 88-character manifest key of a PEM key file (private or public)."""
    der = openssl("pkey", "-in", key_file, "-pubout", "-outform", "DER")
    if len(der) != len(P256_SPKI_PREFIX) + 64 or not der.startswith(P256_SPKI_PREFIX):
        raise SigningError(f"{key_file} is not a P-256 key (make one with: tvl_publish.py keygen KEYFILE)")
    return base64.b64encode(der[-64:]).decode("ascii")


def der_integer(data, pos):
    if data[pos] != 0x02 or data[pos + 1] > 33:
        raise SigningError("openssl wrote a signature this tool does not understand")
    length = data[pos + 1]
    return int.from_bytes(data[pos + 2:pos + 2 + length], "big"), pos + 2 + length


def raw_signature(der):
    """r||s, 32 bytes each, from a DER SEQUENCE of two INTEGERs."""
    if len(der) < 8 or der[0] != 0x30 or der[1] != len(der) - 2:
        raise SigningError("openssl wrote a signature this tool does not understand")
    r, pos = der_integer(der, 2)
    s, _ = der_integer(der, pos)
    return r.to_bytes(32, "big") + s.to_bytes(32, "big")


def der_signature(raw):
    def integer(value):
        body = value.lstrip(b"\0") or b"\0"
        if body[0] & 0x80:
            body = b"\0" + body
        return b"\x02" + bytes([len(body)]) + body
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


def sign(data, key_file):
    """The .sig body for data: base64 of r||s and one line end."""
    raw = raw_signature(openssl("dgst", "-sha256", "-sign", key_file, data=data))
    return base64.b64encode(raw) + b"\n"


def decode_key_text(text):
    """The 64 bytes X||Y of an 88-character key, strictly, as the launcher reads it."""
    text = text.strip()
    if text.startswith("manifest_key="):
        text = text[len("manifest_key="):]
    if len(text) != 88:
        raise SigningError("a manifest key is 88 base64 characters")
    try:
        xy = base64.b64decode(text, validate=True)
    except ValueError:
        raise SigningError("the manifest key is not base64")
    if len(xy) != 64 or base64.b64encode(xy).decode() != text:
        raise SigningError("the manifest key is not the base64 of 64 bytes")
    return xy


def read_key(key):
    """KEY of the verify command: the key itself, a manifest_key= line, or a
    file holding one or a PEM key."""
    if os.path.isfile(key):
        with open(key, "rb") as f:
            content = f.read()
        if b"-----BEGIN" in content:
            return decode_key_text(public_key(key))
        for line in content.decode("utf-8", errors="replace").splitlines():
            if line.startswith("manifest_key="):
                return decode_key_text(line)
        raise SigningError(f"{key} holds no manifest_key= line and no PEM key")
    return decode_key_text(key)


def signature_verifies(data, sig_body, xy):
    """Is sig_body a .sig as the launcher accepts it, signing data under X||Y?"""
    text = sig_body[:-2] if sig_body.endswith(b"\r\n") else sig_body[:-1] if sig_body.endswith(b"\n") else sig_body
    try:
        raw = base64.b64decode(text, validate=True)
    except ValueError:
        return False
    if len(text) != 88 or len(raw) != 64 or base64.b64encode(raw) != text:
        return False
    pem = (b"-----BEGIN PUBLIC KEY-----\n" + base64.encodebytes(P256_SPKI_PREFIX + xy) +
           b"-----END PUBLIC KEY-----\n")
    with tempfile.TemporaryDirectory() as tmp:
        paths = {name: os.path.join(tmp, name) for name in ("key.pem", "sig.der", "data")}
        for name, content in (("key.pem", pem), ("sig.der", der_signature(raw)), ("data", data)):
            with open(paths[name], "wb") as f:
                f.write(content)
        done = subprocess.run(["openssl", "dgst", "-sha256", "-verify", paths["key.pem"], "-signature",
                               paths["sig.der"], paths["data"]], capture_output=True)
    return done.returncode == 0


# ---- progress -------------------------------------------------------------

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
        mapper = BlockMapper(announced) if announced >= MAP_THRESHOLD and gMaps else None
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
    block_map = mapper.finish(sha1) if mapper else None
    if block_map is not None and not os.path.isfile(map_path(site, sha1)):
        write_atomically(site, map_path(site, sha1), block_map)
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


# ---- documents ------------------------------------------------------------

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


def map_digest(site, sha1, size):
    """The SHA-256 of the file's block map, or None without one. The signed
    manifest names it, so a launcher with the key uses no other map."""
    if size < MAP_THRESHOLD:
        return None
    try:
        with open(map_path(site, sha1), "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def manifest_document(version, entries, site=None):
    # One entry per line, `"key": value` with one space: the launcher finds
    # values by exact text. Paths stay raw UTF-8, as it reads them. "m" comes
    # after "h", where readers that do not know it skip it.
    def entry(rel, size, sha1):
        fields = {"p": rel, "s": size, "h": sha1}
        digest = map_digest(site, sha1, size) if site else None
        if digest:
            fields["m"] = digest
        return "  " + json.dumps(fields, ensure_ascii=False)
    lines = ",\n".join(entry(rel, size, sha1) for rel, size, sha1 in entries)
    return ('{"version": %d, "files": [\n%s\n]}\n' % (version, lines)).encode("utf-8")


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


# ---- commands -------------------------------------------------------------

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


def refuse(title, problems):
    lines = "\n".join(f"  {shown(rel)}: {why}" for rel, why in problems)
    sys.exit(f"{title}\n{lines}")


def read_text(path, what):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except UnicodeDecodeError as e:
        sys.exit(f"{what} {path} is not UTF-8 text (byte {e.start} is {e.object[e.start]:#04x})")
    except OSError as e:
        sys.exit(f"{what} {path} cannot be read ({e.strerror})")


def whole_version(text, what="--version"):
    """A version given on the command line: a whole number from 1 to 2^31-1 in
    digits only. Anything else ends the tool with one line: a launcher clamps
    a larger number, and one typo would end rollback protection for good."""
    if text is None:
        return None
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= VERSION_MAX:
        sys.exit(f"{what} {text!r} is not a whole number from 1 to {VERSION_MAX}")
    return int(text)


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


def check_publish(args, build, site):
    """Everything that can stop a publish, found before the site changes."""
    if not os.path.isdir(build):
        sys.exit(f"no build folder at {build}")
    if overlapping(build, site):
        sys.exit(f"the build {build} and the site {site} must not hold one another")
    paths, problems = scan_build(build)
    if problems:
        refuse("cannot publish: players would get an incomplete game because of", problems)
    if not paths:
        sys.exit(f"{build} holds no files: players' launchers refuse an empty manifest")
    problems = refusals(paths)
    if problems:
        refuse("cannot publish: players' launchers would refuse the whole manifest because of", problems)
    if args.banner and banner_problem(args.banner):
        sys.exit(f"the banner {args.banner} is {banner_problem(args.banner)}")
    if args.host:
        check_host(args.host)
    if args.expires < 1:
        sys.exit(f"--expires {args.expires} is not a number of days of 1 or more")
    if args.sign:
        if not args.host:
            sys.exit("--sign needs --host HOST: a signed release names the one server it is for")
        check_key_place(args.sign, ("build", build), ("site", site))
        keys = private_keys(build, paths)
        if keys:
            refuse("cannot sign: the build holds private keys, which would go to every player", keys)
        try:
            public_key(args.sign)
        except SigningError as e:
            sys.exit(f"cannot sign: {e}")
    return paths


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


def next_version(args, site):
    """The version to publish. A signed site goes by its manifest, never by
    launcher/info (which counts rewrites and may be missing): players who
    installed a signed version refuse anything not higher, forever."""
    if args.sign:
        published = max(site_manifest_version(site) or 0, (read_release(site) or {}).get("version", 0))
        version = args.version if args.version is not None else published + 1
        if version <= published:
            sys.exit(f"refused: version {version} is not higher than version {published} on the site, and players "
                     f"never go back; to undo a release, publish the old build as version {published + 1}")
    else:
        version = args.version if args.version is not None else int(read_info(site).get("version", 0)) + 1
    if version > VERSION_MAX:
        sys.exit(f"refused: version {version} is past {VERSION_MAX}, the highest a launcher reads")
    return version


def publish(args):
    global gMaps
    gMaps = not args.no_maps
    args.version = whole_version(args.version)
    build, site = os.path.abspath(args.build), os.path.abspath(args.site)
    paths = check_publish(args, build, site)
    notes = read_text(args.notes, "the notes") if args.notes else None
    banner = open(args.banner, "rb").read() if args.banner else None
    with SiteLock(site, wait=False):
        return publish_locked(args, build, site, paths, notes, banner)


def publish_locked(args, build, site, paths, notes, banner):
    version = next_version(args, site)  # refused before anything on the site changes
    if not args.host and read_release(site):
        # A release left as it was would go on naming the old version.
        args.host = check_host(read_release(site).get("host"))
        print(f"the site has a release for {args.host}: this publish writes a new one, not signed")
    marker = os.path.join(site, MARKER)
    with open(marker, "w") as f:  # from here on the manifest answers 503
        f.write(str(os.getpid()))
    shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)  # what a killed publish left
    started = time.monotonic()
    entries, copied = place_build(build, site, paths)
    if banner is not None:
        write_atomically(site, os.path.join(site, "launcher", "banner"), banner)

    current = read_info(site)
    if notes is None:
        notes = current.get("notes", "")
    manifest = manifest_document(version, entries, site)
    write_atomically(site, os.path.join(site, "launcher", "manifest"), manifest)
    write_atomically(site, os.path.join(site, "launcher", "info"),
                     info_document(version, current.get("lobbies", 0), current.get("players", 0), notes))
    if args.host:
        publish_release(args, site, version, entries, manifest, notes, banner)
    remove_retired(site)
    remove_stale(os.path.join(site, "files"), {request_name(rel) for rel in paths})
    shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)
    os.remove(marker)
    total = sum(size for _, size, _ in entries)
    print(f"published version {version}: {len(entries)} file(s), {total} bytes, "
          f"{copied} hashed, in {time.monotonic() - started:.2f} s" + (", signed" if args.sign else ""))
    return 0


def remove_retired(site):
    """Signatures and launcher documents of earlier versions of this tool:
    the release replaced them, and a stale one would sign nothing current."""
    for name in RETIRED:
        path = os.path.join(site, "launcher", name)
        if os.path.exists(path):
            os.remove(path)
            print(f"removed launcher/{name}: the release replaces it")


def publish_release(args, site, version, entries, manifest, notes, banner):
    """The manifest, notes and banner objects, then the release naming them,
    then the objects no release has needed for a day go."""
    previous = read_release(site) or {}
    release = {"host": args.host, "version": version, "expires": int(time.time()) + args.expires * 86400,
               "manifest": store_object(site, manifest),
               "notes": store_object(site, notes.replace("\r\n", "\n").encode("utf-8"))}
    if banner is None and os.path.isfile(os.path.join(site, "launcher", "banner")):
        with open(os.path.join(site, "launcher", "banner"), "rb") as f:
            banner = f.read()
    if banner is not None:
        release["banner"] = store_object(site, banner)
    if previous.get("launcher") and os.path.isfile(object_path(site, previous["launcher"][1])):
        release["launcher"] = previous["launcher"]
    write_release(site, release, args.sign)
    collect_objects(site, referenced_objects(release, entries))


def counts(args):
    site = os.path.abspath(args.site)
    if not os.path.isfile(os.path.join(site, "launcher", "info")):
        sys.exit(f"nothing published at {site} yet")
    # Under the lock and read again under it: a publish that ran meanwhile
    # changed the version, which must not be written back.
    with SiteLock(site, wait=True):
        current = read_info(site)
        if "version" not in current:
            sys.exit(f"nothing published at {site} yet")
        write_atomically(site, os.path.join(site, "launcher", "info"),
                         info_document(current["version"], args.lobbies, args.players, current.get("notes", "")))
        shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)
    return 0


def keygen(args):
    try:
        fd = os.open(args.keyfile, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        sys.exit(f"{args.keyfile} exists: keygen never overwrites a key (players' launchers trust the old one)")
    try:
        with os.fdopen(fd, "wb") as f:
            os.fchmod(f.fileno(), 0o600)
            f.write(openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"))
            f.flush()
            os.fsync(f.fileno())
        line = public_key(args.keyfile)
    except SigningError as e:
        os.remove(args.keyfile)
        sys.exit(f"keygen failed: {e}")
    print(f"wrote {args.keyfile} (keep it secret; sign with: publish ... --sign {args.keyfile})")
    print("put this line in players' TVLLauncher.ini:")
    print(f"manifest_key={line}")
    return 0


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


def refresh(args):
    """Signs the current release again with a new expiry, changing nothing
    else; for cron, well before the expiry."""
    site = os.path.abspath(args.site)
    check_key_place(args.sign, ("site", site))
    if args.expires < 1:
        sys.exit(f"--expires {args.expires} is not a number of days of 1 or more")
    try:
        xy = decode_key_text(public_key(args.sign))
    except SigningError as e:
        sys.exit(f"cannot sign: {e}")
    with SiteLock(site, wait=True):
        release = read_release(site)
        if not release or not release_verifies(release, xy):
            sys.exit(f"refused: {site}/launcher/release is missing or not signed with {args.sign}; publish first")
        release["expires"] = int(time.time()) + args.expires * 86400
        write_release(site, release, args.sign)
        shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)
    print(f"release version {release['version']} for {release['host']} signed again, expires "
          f"{time.strftime('%Y-%m-%d', time.gmtime(release['expires']))}")
    return 0


def verify(args):
    """The site as players' launchers see it: with the key, the release and
    every object it names; then the served files, for launchers that
    read the fixed documents alone."""
    site = os.path.abspath(args.site)
    try:
        xy = read_key(args.key)
    except SigningError as e:
        sys.exit(f"verify: {e}")
    launcher = os.path.join(site, "launcher")
    try:
        with open(os.path.join(launcher, "manifest"), "rb") as f:
            manifest = f.read()
    except OSError:
        sys.exit(f"verify: no manifest at {launcher}")
    if os.path.exists(os.path.join(site, MARKER)):
        print("note: a publish is running; players get 503 until it ends")
    if not os.path.exists(os.path.join(site, RELEASE)):
        sys.exit("refused: no launcher/release; players with this key refuse the update")
    verify_release(site, xy)
    try:
        document = json.loads(manifest)
        entries = [(e["p"], e["s"], e["h"]) for e in document["files"]]
    except (ValueError, KeyError, TypeError):
        sys.exit("refused: launcher/manifest is not one this tool wrote")
    problems = []
    for rel, size, sha1 in entries:
        path = os.path.join(site, "files", request_name(rel))
        try:
            served = os.path.getsize(path)
        except OSError:
            problems.append(f"  {rel}: not served")
            continue
        if served != size or sha1_of(path, Progress(1, size)) != sha1:
            problems.append(f"  {rel}: the served bytes differ from the manifest")
    if problems:
        sys.exit("release good, but launchers without a key would fail these files:\n" + "\n".join(problems))
    print(f"verified: version {document.get('version')}, {len(entries)} file(s), signed with this key")
    return 0


# ---- the launcher's own build ----------------------------------------------

LAUNCHER_EXE_LIMIT = 64 * 1024 * 1024  # what players' launchers download at most
FIXED_FILE_INFO = b"\xbd\x04\xef\xfe"  # VS_FIXEDFILEINFO's signature


VERSION_INFO_KEY = "VS_VERSION_INFO\0".encode("utf-16-le")


def exe_version(exe):
    """The first part of the file version in the exe's VERSIONINFO, or None.
    The fixed part follows the resource's key, padded to 32 bits."""
    key = exe.find(VERSION_INFO_KEY)
    if key < 0:
        return None
    at = exe.find(FIXED_FILE_INFO, key + len(VERSION_INFO_KEY), key + len(VERSION_INFO_KEY) + 8)
    if at < 0 or len(exe) < at + 12:
        return None
    file_version_ms = int.from_bytes(exe[at + 8:at + 12], "little")
    return file_version_ms >> 16


def publish_launcher(args):
    args.version = whole_version(args.version)
    site = os.path.abspath(args.site)
    if not args.sign:
        sys.exit("launcher needs --sign KEYFILE: players' launchers swap in only a build signed with the game's key")
    check_key_place(args.sign, ("site", site))
    try:
        with open(args.exe, "rb") as f:
            exe = f.read(LAUNCHER_EXE_LIMIT + 1)
    except OSError as e:
        sys.exit(f"cannot read {args.exe} ({e.strerror})")
    if not exe.startswith(b"MZ") or len(exe) > LAUNCHER_EXE_LIMIT:
        sys.exit(f"{args.exe} is not a launcher exe of at most 64 MiB")
    version = args.version if args.version is not None else exe_version(exe)
    if not version or version < 1 or version > VERSION_MAX:
        sys.exit(f"{args.exe} carries no version from 1 to {VERSION_MAX}; give one with --version N")
    try:
        xy = decode_key_text(public_key(args.sign))
    except SigningError as e:
        sys.exit(f"cannot sign: {e}")
    with SiteLock(site, wait=False):
        release = read_release(site)
        if not release or not release_verifies(release, xy):
            sys.exit(f"refused: launcher/release is missing or not signed with {args.sign}; "
                     "publish the game with --sign first")
        published = release["launcher"][0] if release.get("launcher") else 0
        if version <= published:
            sys.exit(f"refused: version {version} is not higher than the published launcher's version {published}")
        # The exe as an object first, then the release that names it.
        release["launcher"] = (version, *store_object(site, exe))
        release["expires"] = int(time.time()) + DEFAULT_EXPIRY_DAYS * 86400
        write_release(site, release, args.sign)
        remove_retired(site)
        shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)
    print(f"published launcher version {version}: {len(exe)} bytes, signed")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("publish", help="publish a build")
    p.add_argument("build", metavar="BUILD_DIR")
    p.add_argument("--site", required=True, metavar="SITE_DIR")
    p.add_argument("--version", metavar="N", help=f"a whole number from 1 to {VERSION_MAX}")
    p.add_argument("--notes", metavar="FILE", help="patch notes, UTF-8 text")
    p.add_argument("--banner", metavar="IMAGE", help="the launcher's banner picture")
    p.add_argument("--sign", metavar="KEYFILE", help="sign the release with this private key (keygen makes one)")
    p.add_argument("--host", help="the server host players have in server=; writes the release (needed with --sign)")
    p.add_argument("--no-maps", action="store_true",
                   help="write no block maps (players then download every changed large file whole)")
    p.add_argument("--expires", type=int, default=DEFAULT_EXPIRY_DAYS, metavar="DAYS",
                   help=f"days until a signed release expires (default {DEFAULT_EXPIRY_DAYS}; renew with refresh)")
    p.set_defaults(run=publish)
    k = commands.add_parser("keygen", help="make a signing key and print its manifest_key= line")
    k.add_argument("keyfile", metavar="KEYFILE")
    k.set_defaults(run=keygen)
    v = commands.add_parser("verify", help="check a signed site as players' launchers would")
    v.add_argument("--site", required=True, metavar="SITE_DIR")
    v.add_argument("--key", required=True, metavar="KEY")
    v.set_defaults(run=verify)
    r = commands.add_parser("refresh", help="sign the current release again with a new expiry (from cron)")
    r.add_argument("--site", required=True, metavar="SITE_DIR")
    r.add_argument("--sign", required=True, metavar="KEYFILE")
    r.add_argument("--expires", type=int, default=DEFAULT_EXPIRY_DAYS, metavar="DAYS")
    r.set_defaults(run=refresh)
    c = commands.add_parser("counts", help="set the open lobbies and the players in matches")
    c.add_argument("lobbies", type=int)
    c.add_argument("players", type=int)
    c.add_argument("--site", required=True, metavar="SITE_DIR")
    c.set_defaults(run=counts)
    s = commands.add_parser("launcher", help="publish a new TVLLauncher.exe, signed, for players' launchers to take")
    s.add_argument("exe", metavar="EXE")
    s.add_argument("--site", required=True, metavar="SITE_DIR")
    s.add_argument("--sign", metavar="KEYFILE", help="the game's private key (required)")
    s.add_argument("--version", metavar="N", help="default: the exe's own VERSIONINFO")
    s.set_defaults(run=publish_launcher)
    args = parser.parse_args()
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())
