#!/usr/bin/env python3
"""Writes the documents of the Python test server (tests/support/test_server.py)
for a folder of game files, and makes the sample game. Server owners publish
with tools/tvl_publish.py instead.

  test_site.py --root ROOT --version N [--notes TEXT] [--lobbies N --players N] [--sample]
  test_site.py --sample-build DIR        only the sample game, as a build to publish

ROOT/files holds the game as players should have it. Writes ROOT/manifest.json
(path, size and SHA-1 of every file) and ROOT/info.json, in exactly the shape
the launcher searches for: `"key": value` with one space, each file as
`{"p": "...", "s": ..., "h": "..."}`. Paths are written as raw UTF-8, because
the launcher reads them without escapes; notes are escaped, because it
decodes \\n and \\uXXXX there.

With --sample it first fills ROOT/files with a small generated game and
writes ROOT/banner.img.
"""

import argparse
import hashlib
import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from publisher.names import refusals  # noqa: E402  the one copy of the launcher's name rules

SAMPLE_FILES = {
    "Tervalon.exe": 48_000,
    "Tervalon/Binaries/Win64/Tervalon-Win64-Shipping.exe": 900_000,
    "Tervalon/Content/Paks/Tervalon-WindowsNoEditor.pak": 3_500_000,
    "Tervalon/Content/Paks/Level 1.pak": 1_200_000,
    "Tervalon/Content/Movies/Intro Café.mp4": 640_000,
    "Tervalon/Config/DefaultGame.ini": 1_234,
    "Engine/Extras/Redist/empty.txt": 0,
}

SAMPLE_NOTES = "Version {v}\n\u2022 New map: Level 1\n\u2022 Faster matchmaking\n\u2022 Fixed a crash when leaving a lobby"


def make_sample(files_dir, seed):
    for rel, size in SAMPLE_FILES.items():
        path = os.path.join(files_dir, *rel.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        block = hashlib.sha256(f"{seed}:{rel}".encode()).digest() * 2048
        with open(path, "wb") as f:
            left = size
            while left > 0:
                piece = block[: min(left, len(block))]
                f.write(piece)
                left -= len(piece)


def make_banner(path, width=680, height=200):
    """A small gradient PNG, written with the standard library only."""
    import struct
    import zlib

    rows = b"".join(
        b"\0" + bytes(v for x in range(width) for v in (20 + x * 60 // width, 30 + y * 80 // height, 90 + x * 120 // width))
        for y in range(height)
    )

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def sha1_of(path):
    h = hashlib.sha1()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            h.update(chunk)
    return h.hexdigest()


def manifest_entries(files_dir):
    paths = []
    for dirpath, _, names in os.walk(files_dir):
        for name in names:
            full = os.path.join(dirpath, name)
            paths.append(os.path.relpath(full, files_dir).replace(os.sep, "/"))
    problems = refusals(paths)
    if problems:
        lines = "\n".join(f"  {rel}: {why}" for rel, why in problems)
        sys.exit(f"cannot publish: the launcher would refuse the whole manifest because of\n{lines}")
    entries = []
    for rel in sorted(paths):
        full = os.path.join(files_dir, *rel.split("/"))
        entries.append({"p": rel, "s": os.path.getsize(full), "h": sha1_of(full)})
    return entries


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sample-build", metavar="DIR", help="write the sample game into DIR and stop")
    ap.add_argument("--root")
    ap.add_argument("--version", type=int)
    ap.add_argument("--notes")
    ap.add_argument("--lobbies", type=int, default=3)
    ap.add_argument("--players", type=int, default=12)
    ap.add_argument("--sample", action="store_true", help="generate a small sample game first")
    args = ap.parse_args()
    if args.sample_build:
        make_sample(args.sample_build, 3)
        return 0
    if not args.root or args.version is None:
        ap.error("--root and --version are needed")

    files_dir = os.path.join(args.root, "files")
    os.makedirs(files_dir, exist_ok=True)
    if args.sample:
        make_sample(files_dir, args.version)
        make_banner(os.path.join(args.root, "banner.img"))
    notes = args.notes if args.notes is not None else SAMPLE_NOTES.format(v=args.version)

    entries = manifest_entries(files_dir)
    # One entry per line, each object on one line: the launcher finds entries
    # by the exact text {"p": " and would miss a pretty-printed one.
    lines = ",\n".join("  " + json.dumps(e, ensure_ascii=False) for e in entries)
    with open(os.path.join(args.root, "manifest.json"), "w", encoding="utf-8") as f:
        f.write('{"version": %d, "files": [\n%s\n]}\n' % (args.version, lines))
    info = {"version": args.version, "lobbies": args.lobbies, "players": args.players, "notes": notes}
    with open(os.path.join(args.root, "info.json"), "w", encoding="ascii") as f:
        json.dump(info, f, ensure_ascii=True)
    print(f"{len(entries)} file(s), {sum(e['s'] for e in entries)} bytes, version {args.version}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
