"""Objects named by their hash under launcher/o/, and the block map beside
each large game file."""

import hashlib
import os
import struct
import zlib

from .site import HASH_CHUNK, TEMP, clear_path, make_folders, write_atomically


# Everything a release names lives under launcher/o/ by its hash (SHA-1 for
# game files, as the manifest gives it; SHA-256 for the rest) and never
# changes; launcher/release is the one document a publish changes in place,
# by one rename. files/ and the other fixed documents stay, as hard links or
# copies, for launchers that know only those.

OBJECTS = os.path.join("launcher", "o")


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


# A game file of MAP_THRESHOLD bytes or more gets launcher/o/<sha1>.map, made
# in the pass that copies and hashes it, so a launcher with an older copy
# fetches only the blocks it lacks (format in the README).

MAP_THRESHOLD = 4 * 1024 * 1024
MAP_MAGIC = b"TVLMAP1\n"
CHECK_SPAN = 256


def map_block_size(size):
    """Near 2 sqrt(size / 3), a power of two from 4 KiB to 64 KiB: twice what
    the map alone would choose, since the fine map rebuilds the parts of a
    block an edit left, and half the blocks is half the map."""
    ideal, block = 2 * (size / 3) ** 0.5, 4096
    while block < 65536 and block * 1.5 < ideal:
        block *= 2
    return block


def map_check_bytes(size, block):
    weak_hits = size * (size / block) / 2**32
    for width in (2, 3):
        if weak_hits / 2 ** (8 * width) < 1e-5:
            return width
    return 4


FINE_MAGIC = b"TVLFIN1\n"


def fine_sub_block(block):
    """A sixteenth of the block, at least 256 bytes."""
    return max(block // 16, 256)


class BlockMapper:
    """Fed a file's bytes in order (pieces a whole number of blocks long,
    but the last); gives its map, and its fine map (sums through each
    block's sub-blocks, fetched by range for blocks a small edit changed)."""

    def __init__(self, size):
        self.size, self.block = size, map_block_size(size)
        self.check_bytes = map_check_bytes(size, self.block)
        self.sub = fine_sub_block(self.block)
        self.weak, self.check, self.fine, self.seen = [], [], [], 0

    def add(self, piece):
        # List comprehensions: the per-sum cost is most of a map's price.
        # The fine sums chain through each block (the CRC of its bytes up to
        # the end of each sub-block), so a block's last one is its weak sum.
        # Past the file's end a sum carries on unchanged, so every block's
        # last sum is its weak sum, the short last one's too.
        view, block, sub, crc = memoryview(piece), self.block, self.sub, zlib.crc32
        c = 0
        fine = [c := crc(view[at:at + sub], c) for start in range(0, len(view), block) if not (c := 0)
                for at in range(start, start + block, sub)]
        self.weak += fine[block // sub - 1::block // sub]
        self.fine += fine
        self.check += [crc(view[at:at + min(CHECK_SPAN, block)]) for at in range(0, len(view), block)]
        self.seen += len(piece)

    def finish_fine(self, sha1):
        """The fine map, or None when the bytes seen are not the size announced."""
        if self.seen != self.size:
            return None
        header = (FINE_MAGIC + bytes.fromhex(sha1) + self.size.to_bytes(8, "little") +
                  self.block.to_bytes(4, "little") + self.sub.to_bytes(4, "little") + bytes(4))
        return header + struct.pack(f"<{len(self.fine)}I", *self.fine)

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


def fine_path(site, sha1):
    return object_path(site, sha1 + ".fine")


def write_maps(site, mapper, sha1):
    """The map and the fine map beside the object, each unless it is there."""
    for path, data in ((map_path(site, sha1), mapper.finish(sha1)), (fine_path(site, sha1), mapper.finish_fine(sha1))):
        if data is not None and not os.path.isfile(path):
            write_atomically(site, path, data)


gMaps = True  # --no-maps turns them off


def ensure_map(site, served, sha1, size):
    """A kept file from before maps (or fine maps) existed gets them, read
    from its object."""
    if not gMaps or size < MAP_THRESHOLD or (os.path.isfile(map_path(site, sha1)) and
                                             os.path.isfile(fine_path(site, sha1))):
        return
    mapper = BlockMapper(size)
    with open(served, "rb") as f:
        for block in iter(lambda: f.read(HASH_CHUNK), b""):
            mapper.add(block)
    write_maps(site, mapper, sha1)


def _digest_of(path):
    try:
        with open(path, "rb") as f:
            return hashlib.sha256(f.read()).hexdigest()
    except OSError:
        return None


def map_digest(site, sha1, size):
    """The SHA-256 of the file's block map, or None without one. The signed
    manifest names it, so a launcher with the key uses no other map."""
    return _digest_of(map_path(site, sha1)) if size >= MAP_THRESHOLD else None


def fine_digest(site, sha1, size):
    """The SHA-256 of the file's fine map, or None without one: named in the
    signed manifest beside the map's, so a launcher with the key uses no
    fine map the owner did not publish."""
    return _digest_of(fine_path(site, sha1)) if size >= MAP_THRESHOLD else None
