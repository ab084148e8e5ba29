#!/usr/bin/env python3
"""Publishes a build of Tervalon for players' launchers, to be served by a
stock web server (tools/nginx/tvl-launcher.conf).

  tvl_publish.py publish BUILD_DIR --site SITE_DIR [--version N] [--notes FILE] [--banner IMAGE]
                         [--no-maps] [--compress-level N | --no-compress] [--patch-releases N]
                         [--host HOST [--sign KEYFILE] [--expires DAYS] [--mirror URL ...] [--no-mirrors]]
  tvl_publish.py counts LOBBIES PLAYERS --site SITE_DIR
  tvl_publish.py keygen KEYFILE
  tvl_publish.py verify --site SITE_DIR --key KEY
  tvl_publish.py verify --site SITE_DIR --mirror URL [--key KEY]
  tvl_publish.py refresh --site SITE_DIR --sign KEYFILE [--expires DAYS] [--mirror URL ...] [--no-mirrors]
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
 - Beside each file that zstd shrinks by 5 % or more it writes its zst form,
   launcher/o/<sha1>.zst, in frames of 4 MiB of the file each, and for
   files of more than one frame their table, launcher/o/<sha1>.frames; the
   manifest names both by SHA-256. Made once per file, at --compress-level
   (default 12), with the zstd command; a republish reuses them.
 - For each file whose path held other bytes in one of the last releases
   (--patch-releases N, default 3; 0 makes none), it writes a patch with the
   old file as its reference (zstd --patch-from), in the same frames, as
   launcher/o/<new sha1>-<old sha1>.zst (and .frames), where it is smaller
   than the file's zst form; the manifest lists them under the file's
   "from". The objects of those releases stay on the site for the next
   publish's patches. Files over 128 MiB get none (their block maps serve).
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
 - --mirror URL (repeatable, at most 8) names other places that serve the
   site's objects (https://host[:port][/path], where URL/launcher/o/<hex> is
   the object). Launchers fetch objects from the host first and move on to
   the mirrors, in this order, when it fails; every object is still checked
   by its hash. The mirrors go into launcher/release2, the same release in
   a format launchers before mirrors never ask for. publish, refresh and
   launcher keep the mirrors a release names; --mirror replaces them, and
   --no-mirrors drops them.
 - verify --mirror URL fetches every object the release names from that
   mirror and lists what is missing or wrong (exit 1), so a mirror can be
   checked before it is named and after every sync.

launcher publishes a new TVLLauncher.exe as an object and a new signed
release naming it (same version, new expiry); players' launchers with the
key download it in the background and swap it in at their next start. It
needs --sign and a signed release on the site, and refuses a version that
is not higher than the one published. Without --version the version is read
from the exe's VERSIONINFO (its file version's first part).

Python 3 standard library and the openssl command only.
"""

import argparse
import json
import os
import shutil
import sys
import time

from publisher.collect import collect_objects, referenced_objects
from publisher.copying import Progress, place_build, sha1_of
from publisher.compressed import DEFAULT_LEVEL, compress_objects
from publisher.documents import VERSION_MAX, info_document, manifest_document, read_info, site_manifest_version
from publisher.launcher_build import LAUNCHER_EXE_LIMIT, exe_version
from publisher.mirrors import MOST_MIRRORS, check_mirror, chosen_mirrors, verify_mirror
from publisher.names import banner_problem, check_key_place, overlapping, private_keys, refusals, request_name, scan_build, shown
from publisher import objects
from publisher.objects import object_path, store_object
from publisher.patches import DEFAULT_RELEASES, kept_objects, make_patches, remember_release
from publisher.release import DEFAULT_EXPIRY_DAYS, RELEASE, check_host, read_release, release_verifies, verify_release, write_release
from publisher.signing import SigningError, decode_key_text, openssl, public_key, read_key
from publisher.site import MARKER, SiteLock, TEMP, remove_stale, write_atomically

# The launcher reads raw r||s and X||Y; openssl speaks DER. These convert.

RETIRED = ("manifest.sig", "self", "self.sig", "self.exe")


def compress_level(text):
    if not text.isdigit() or not 1 <= int(text) <= 22:
        raise argparse.ArgumentTypeError("a zstd level from 1 to 22")
    return int(text)


def patch_releases(text):
    if not text.isdigit() or not 0 <= int(text) <= 16:
        raise argparse.ArgumentTypeError("a number of releases from 0 to 16")
    return int(text)


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
    check_mirror_options(args)
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


def check_mirror_options(args):
    for address in args.mirror or []:
        check_mirror(address)
    if len(set(args.mirror or [])) > MOST_MIRRORS:
        sys.exit(f"at most {MOST_MIRRORS} mirrors: launchers read no more")
    if args.mirror and args.no_mirrors:
        sys.exit("--mirror and --no-mirrors together: choose one")


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
    objects.gMaps = not args.no_maps
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
    if args.mirror and not args.host:
        sys.exit("--mirror needs --host HOST: the mirrors are named in the release")
    marker = os.path.join(site, MARKER)
    with open(marker, "w") as f:  # from here on the manifest answers 503
        f.write(str(os.getpid()))
    shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)  # what a killed publish left
    started = time.monotonic()
    entries, copied = place_build(build, site, paths)
    compressed = {} if args.no_compress else compress_objects(site, entries, args.compress_level)
    if args.patch_releases:
        for sha1, offers in make_patches(site, entries, args.patch_releases, args.compress_level, compressed).items():
            compressed.setdefault(sha1, {})["from"] = offers
    if banner is not None:
        write_atomically(site, os.path.join(site, "launcher", "banner"), banner)

    current = read_info(site)
    if notes is None:
        notes = current.get("notes", "")
    manifest = manifest_document(version, entries, site, compressed)
    write_atomically(site, os.path.join(site, "launcher", "manifest"), manifest)
    write_atomically(site, os.path.join(site, "launcher", "info"),
                     info_document(version, current.get("lobbies", 0), current.get("players", 0), notes))
    remember_release(site, version, entries, args.patch_releases)
    if args.host:
        publish_release(args, site, version, entries, manifest, notes, banner, compressed)
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


def publish_release(args, site, version, entries, manifest, notes, banner, compressed):
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
    release["mirrors"] = chosen_mirrors(args, previous.get("mirrors", []))
    write_release(site, release, args.sign)
    patches = {f"{sha1}-{offer[0]}{suffix}" for sha1, fields in compressed.items() for offer in fields.get("from", [])
               for suffix in (".zst", ".frames")}
    collect_objects(site, referenced_objects(release, entries) | patches | kept_objects(site, args.patch_releases))


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


def refresh(args):
    """Signs the current release again with a new expiry, changing nothing
    else; for cron, well before the expiry."""
    site = os.path.abspath(args.site)
    check_key_place(args.sign, ("site", site))
    if args.expires < 1:
        sys.exit(f"--expires {args.expires} is not a number of days of 1 or more")
    check_mirror_options(args)
    try:
        xy = decode_key_text(public_key(args.sign))
    except SigningError as e:
        sys.exit(f"cannot sign: {e}")
    with SiteLock(site, wait=True):
        release = read_release(site)
        if not release or not release_verifies(release, xy):
            sys.exit(f"refused: {site}/launcher/release is missing or not signed with {args.sign}; publish first")
        release["expires"] = int(time.time()) + args.expires * 86400
        release["mirrors"] = chosen_mirrors(args, release["mirrors"])
        write_release(site, release, args.sign)
        shutil.rmtree(os.path.join(site, TEMP), ignore_errors=True)
    print(f"release version {release['version']} for {release['host']} signed again, expires "
          f"{time.strftime('%Y-%m-%d', time.gmtime(release['expires']))}, {len(release['mirrors'])} mirror(s)")
    return 0


def verify(args):
    """The site as players' launchers see it: with the key, the release and
    every object it names; then the served files, for launchers that
    read the fixed documents alone."""
    site = os.path.abspath(args.site)
    if not args.key and not args.mirror:
        sys.exit("verify needs --key KEY (the site as launchers with the key see it) or --mirror URL")
    try:
        xy = read_key(args.key) if args.key else None
    except SigningError as e:
        sys.exit(f"verify: {e}")
    if args.mirror:
        release = read_release(site)
        if not release or "manifest" not in release:
            sys.exit(f"verify: no release at {site}/launcher/release")
        if xy and not release_verifies(release, xy):
            sys.exit("refused: launcher/release is not signed with this key (or is malformed)")
        return verify_mirror(site, release, args.mirror) or 0
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


def add_mirror_options(p):
    p.add_argument("--mirror", action="append", metavar="URL",
                   help="a place that also serves the objects, https://host[:port][/path] (repeatable; replaces "
                        "the release's mirrors)")
    p.add_argument("--no-mirrors", action="store_true", help="name no mirrors in the release")


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
    p.add_argument("--compress-level", type=compress_level, default=DEFAULT_LEVEL, metavar="N",
                   help=f"zstd level, 1 to 22, for files not compressed before (default {DEFAULT_LEVEL})")
    p.add_argument("--no-compress", action="store_true",
                   help="write no zst forms (players then download every file as it is)")
    p.add_argument("--patch-releases", type=patch_releases, default=DEFAULT_RELEASES, metavar="N",
                   help=f"make patches from the files of the last N releases (default {DEFAULT_RELEASES}; 0: none)")
    add_mirror_options(p)
    p.set_defaults(run=publish)
    k = commands.add_parser("keygen", help="make a signing key and print its manifest_key= line")
    k.add_argument("keyfile", metavar="KEYFILE")
    k.set_defaults(run=keygen)
    v = commands.add_parser("verify", help="check a signed site as players' launchers would")
    v.add_argument("--site", required=True, metavar="SITE_DIR")
    v.add_argument("--key", metavar="KEY")
    v.add_argument("--mirror", metavar="URL", help="fetch every object the release names from this mirror and check it")
    v.set_defaults(run=verify)
    r = commands.add_parser("refresh", help="sign the current release again with a new expiry (from cron)")
    r.add_argument("--site", required=True, metavar="SITE_DIR")
    r.add_argument("--sign", required=True, metavar="KEYFILE")
    r.add_argument("--expires", type=int, default=DEFAULT_EXPIRY_DAYS, metavar="DAYS")
    add_mirror_options(r)
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
