#!/usr/bin/env python3
"""Writes a pair of pak-like files, as an Unreal Engine patch changes one:
incompressible entries of 4 KiB to 16 MiB, each padded with zeros to 2 KiB
(UE's -patchpaddingalign=2048), and an index of every entry at the end.
Version 2 replaces some entries, inserts and removes a few, and rewrites
the index; every later entry moves. Prints the bytes version 2 holds that
version 1 does not (the floor any delta method pays).

  pak_pair.py V1 V2 --mib N [--seed S] [--replaced PERCENT] [--inserted N] [--removed N]
"""

import argparse
import random
import struct

ALIGN = 2048


def entry_sizes(rng, total):
    sizes, left = [], total
    while left > 0:
        size = min(int(4096 * (4096 ** rng.random())), 16 << 20, left)  # log-uniform 4 KiB .. 16 MiB
        sizes.append(max(size, 1))
        left -= size
    return sizes


def pak(entries):
    out, index = bytearray(), []
    for name, data in entries:
        index.append((name, len(out), len(data)))
        out += data
        out += bytes(-len(out) % ALIGN)
    table = b"".join(struct.pack("<32sQQ", name.encode(), at, size) for name, at, size in index)
    return bytes(out) + table + struct.pack("<Q", len(index))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("v1")
    ap.add_argument("v2")
    ap.add_argument("--mib", type=int, required=True)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--replaced", type=float, default=2.0, help="percent of entries given new contents")
    ap.add_argument("--inserted", type=int, default=5)
    ap.add_argument("--removed", type=int, default=3)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    v1 = [(f"entry{i:05d}", rng.randbytes(size)) for i, size in enumerate(entry_sizes(rng, args.mib << 20))]
    v2 = list(v1)
    fresh = 0
    for i in rng.sample(range(len(v2)), max(1, int(len(v2) * args.replaced / 100))):
        v2[i] = (v2[i][0], rng.randbytes(len(v2[i][1])))
        fresh += len(v2[i][1])
    for i in sorted(rng.sample(range(len(v2)), min(args.removed, len(v2) - 1)), reverse=True):
        del v2[i]
    for n in range(args.inserted):
        data = rng.randbytes(int(4096 * (256 ** rng.random())))
        v2.insert(rng.randrange(len(v2) + 1), (f"new{n:05d}", data))
        fresh += len(data)
    with open(args.v1, "wb") as f:
        f.write(pak(v1))
    second = pak(v2)
    with open(args.v2, "wb") as f:
        f.write(second)
    index_bytes = len(v2) * 48 + 8
    print(fresh + index_bytes)


if __name__ == "__main__":
    main()
