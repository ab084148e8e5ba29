#!/usr/bin/env python3
"""Publishes a build of Tervalon for players' launchers, to be served by a
stock web server (tools/nginx/tvl-launcher.conf).

  tvl_publish.py publish BUILD_DIR --site SITE_DIR [--version N] [--notes FILE] [--banner IMAGE] [--sign KEYFILE]
  tvl_publish.py counts LOBBIES PLAYERS --site SITE_DIR
  tvl_publish.py keygen KEYFILE
  tvl_publish.py verify --site SITE_DIR --key KEY

publish writes SITE_DIR/launcher/{info,manifest,banner} in the shapes the
launcher reads, and the build's files under SITE_DIR/files/ named as the
launcher asks for them ("Movies/Intro Café.mp4" is files/Movies/Intro%20Caf%C3%A9.mp4),
as hard links where the file system allows and copies otherwise.
 - Without --version the version is the current one plus 1; the lobby and
   player counts of the current info are kept.
 - It is incremental: a cache of size, modification time and SHA-1 per file
   means an unchanged file is not hashed again.
 - It is safe while players download: while it runs, SITE_DIR/publishing
   makes the manifest answer 503 (players' launchers wait and retry on their
   own); the new manifest and info appear only when every file is in place;
   files the new version no longer has go only after that. Interrupted, it
   leaves the old version or the 503, and running it again finishes the job.
 - It refuses a build with names players' launchers would refuse, and names
   every offending file with the reason.

counts rewrites the two counts of the info, for the game server to call.

Signed sites: players' launchers with a manifest_key= in TVLLauncher.ini use
a manifest only when launcher/manifest.sig signs it (ECDSA P-256 over the
SHA-256 of the manifest as served; base64 of r||s), and never go back to a
lower version.
 - keygen writes a new private key (PEM, mode 0600; never over an existing
   file) and prints the manifest_key= line for TVLLauncher.ini.
 - publish --sign KEYFILE writes launcher/manifest.sig with the manifest,
   the signature first. A publish without --sign removes an old signature,
   which would no longer match.
 - verify checks a site as a launcher with that key would: the signature,
   then every file's size and SHA-1. KEY is the 88-character key, a
   manifest_key= line, a file holding one (TVLLauncher.ini), or a PEM key.

Python 3 standard library and the openssl command only.
"""

import argparse
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

MARKER = "publishing"
CACHE = ".publish-cache.json"
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


def file_name_key(rel):
    """The name as Windows compares it: each letter upper-cased on its own."""
    return "".join(c.upper() if len(c.upper()) == 1 else c for c in rel)


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


def build_files(build_dir):
    paths = []
    for dirpath, dirnames, names in os.walk(build_dir):
        dirnames.sort()
        for name in names:
            full = os.path.join(dirpath, name)
            if os.path.isfile(full):
                paths.append(os.path.relpath(full, build_dir).replace(os.sep, "/"))
    return sorted(paths)


# ---- writing safely -------------------------------------------------------

def write_atomically(path, data):
    """Written to a temporary name, flushed, then renamed over the old one."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    temp = path + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)


def place_file(source, target):
    """target becomes the file at source: a hard link where possible."""
    os.makedirs(os.path.dirname(target), exist_ok=True)
    try:
        if os.path.samefile(source, target):
            return
        a, b = os.stat(source), os.stat(target)
        if (a.st_size, a.st_mtime_ns) == (b.st_size, b.st_mtime_ns):
            return  # a copy made by an earlier publish
    except OSError:
        pass
    temp = target + ".publishing"
    if os.path.lexists(temp):
        os.remove(temp)
    try:
        os.link(source, temp)
    except OSError:
        shutil.copy2(source, temp)  # keeps the time, so the next publish knows it
    os.replace(temp, target)


# ---- signing --------------------------------------------------------------
# The launcher reads raw r||s and X||Y; openssl speaks DER. These convert.

SIGNATURE = "manifest.sig"
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


def hash_build(build_dir, paths, site):
    """SHA-1 of every file, from the cache where size and modification time
    still match; returns [(path, size, sha1)] and how many were hashed."""
    cache_path = os.path.join(site, CACHE)
    try:
        with open(cache_path, encoding="utf-8") as f:
            cache = json.load(f)
    except (OSError, ValueError):
        cache = {}
    stats = {rel: os.stat(os.path.join(build_dir, rel)) for rel in paths}
    stale = [rel for rel in paths
             if cache.get(rel, [None, None])[:2] != [stats[rel].st_size, stats[rel].st_mtime_ns]]
    progress = Progress(len(stale), sum(stats[rel].st_size for rel in stale))
    for rel in stale:
        cache[rel] = [stats[rel].st_size, stats[rel].st_mtime_ns, sha1_of(os.path.join(build_dir, rel), progress)]
    progress.finish()
    fresh = {rel: cache[rel] for rel in paths}
    write_atomically(cache_path, json.dumps(fresh).encode("utf-8"))
    return [(rel, fresh[rel][0], fresh[rel][2]) for rel in paths], len(stale)


# ---- documents ------------------------------------------------------------

def read_info(site):
    try:
        with open(os.path.join(site, "launcher", "info"), encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError):
        return {}


def info_document(version, lobbies, players, notes):
    # ASCII with \uXXXX escapes: the launcher decodes those in the notes.
    return json.dumps({"version": version, "lobbies": lobbies, "players": players, "notes": notes},
                      ensure_ascii=True).encode("ascii")


def manifest_document(version, entries):
    # One entry per line, `"key": value` with one space: the launcher finds
    # values by exact text. Paths stay raw UTF-8, as it reads them.
    lines = ",\n".join("  " + json.dumps({"p": rel, "s": size, "h": sha1}, ensure_ascii=False)
                       for rel, size, sha1 in entries)
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

def publish(args):
    build, site = os.path.abspath(args.build), os.path.abspath(args.site)
    if not os.path.isdir(build):
        sys.exit(f"no build folder at {build}")
    paths = build_files(build)
    if not paths:
        sys.exit(f"{build} holds no files: players' launchers refuse an empty manifest")
    problems = refusals(paths)
    if problems:
        lines = "\n".join(f"  {rel}: {why}" for rel, why in problems)
        sys.exit(f"cannot publish: players' launchers would refuse the whole manifest because of\n{lines}")
    key_line = None
    if args.sign:
        try:
            key_line = public_key(args.sign)  # a bad key stops the publish before it touches the site
        except SigningError as e:
            sys.exit(f"cannot sign: {e}")
    notes = None
    if args.notes:
        with open(args.notes, encoding="utf-8") as f:
            notes = f.read()

    os.makedirs(site, exist_ok=True)
    marker = os.path.join(site, MARKER)
    with open(marker, "w") as f:  # from here on the manifest answers 503
        f.write(str(os.getpid()))
    started = time.monotonic()
    entries, hashed = hash_build(build, paths, site)
    files_dir = os.path.join(site, "files")
    for rel in paths:
        place_file(os.path.join(build, rel), os.path.join(files_dir, request_name(rel)))
    if args.banner:
        write_atomically(os.path.join(site, "launcher", "banner"), open(args.banner, "rb").read())

    current = read_info(site)
    version = args.version if args.version is not None else int(current.get("version", 0)) + 1
    if notes is None:
        notes = current.get("notes", "")
    manifest = manifest_document(version, entries)
    signature_path = os.path.join(site, "launcher", SIGNATURE)
    if args.sign:
        # The signature goes first: the marker keeps both answering 503 until
        # the manifest it signs is in place too.
        try:
            write_atomically(signature_path, sign(manifest, args.sign))
        except SigningError as e:
            sys.exit(f"cannot sign: {e}; the site still answers 503, run the publish again")
    elif os.path.exists(signature_path):
        os.remove(signature_path)  # it signs the old manifest, not this one
        print(f"removed launcher/{SIGNATURE}: this publish is not signed")
    write_atomically(os.path.join(site, "launcher", "manifest"), manifest)
    write_atomically(os.path.join(site, "launcher", "info"),
                     info_document(version, current.get("lobbies", 0), current.get("players", 0), notes))
    remove_stale(files_dir, {request_name(rel) for rel in paths})
    os.remove(marker)
    total = sum(size for _, size, _ in entries)
    print(f"published version {version}: {len(entries)} file(s), {total} bytes, "
          f"{hashed} hashed, in {time.monotonic() - started:.2f} s" + (", signed" if key_line else ""))
    return 0


def counts(args):
    site = os.path.abspath(args.site)
    current = read_info(site)
    if "version" not in current:
        sys.exit(f"nothing published at {site} yet")
    write_atomically(os.path.join(site, "launcher", "info"),
                     info_document(current["version"], args.lobbies, args.players, current.get("notes", "")))
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


def verify(args):
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
    try:
        with open(os.path.join(launcher, SIGNATURE), "rb") as f:
            sig = f.read()
    except OSError:
        sys.exit(f"refused: no launcher/{SIGNATURE}; players with this key refuse the update")
    if not signature_verifies(manifest, sig, xy):
        sys.exit(f"refused: launcher/{SIGNATURE} does not sign this manifest under this key")
    try:
        document = json.loads(manifest)
        entries = [(e["p"], e["s"], e["h"]) for e in document["files"]]
    except (ValueError, KeyError, TypeError):
        sys.exit("refused: the signed manifest is not one this tool wrote")
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
        sys.exit("signature good, but players would fail these files:\n" + "\n".join(problems))
    print(f"verified: version {document.get('version')}, {len(entries)} file(s), signed with this key")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    p = commands.add_parser("publish", help="publish a build")
    p.add_argument("build", metavar="BUILD_DIR")
    p.add_argument("--site", required=True, metavar="SITE_DIR")
    p.add_argument("--version", type=int)
    p.add_argument("--notes", metavar="FILE", help="patch notes, UTF-8 text")
    p.add_argument("--banner", metavar="IMAGE", help="the launcher's banner picture")
    p.add_argument("--sign", metavar="KEYFILE", help="sign the manifest with this private key (keygen makes one)")
    p.set_defaults(run=publish)
    k = commands.add_parser("keygen", help="make a signing key and print its manifest_key= line")
    k.add_argument("keyfile", metavar="KEYFILE")
    k.set_defaults(run=keygen)
    v = commands.add_parser("verify", help="check a signed site as players' launchers would")
    v.add_argument("--site", required=True, metavar="SITE_DIR")
    v.add_argument("--key", required=True, metavar="KEY")
    v.set_defaults(run=verify)
    c = commands.add_parser("counts", help="set the open lobbies and the players in matches")
    c.add_argument("lobbies", type=int)
    c.add_argument("players", type=int)
    c.add_argument("--site", required=True, metavar="SITE_DIR")
    c.set_defaults(run=counts)
    args = parser.parse_args()
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())
