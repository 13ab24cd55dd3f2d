#!/usr/bin/env python3
"""Writes a small HFS+ volume for the image tests, from Apple's TN1150.

hfs-image.py OUT

The volume holds image_tree.DATA_TREE (the entries and attributes of apfs-image.py's Data
volume, the attributes inline in the attributes B-tree). The catalog and attributes B-trees are
one header node and one leaf each; the extents overflow B-tree is a header node only. Times are
fixed, so every run writes the same bytes.
"""
import struct
import sys
import unicodedata

from image_tree import DATA_TREE, walk

BS = 4096
BLOCKS = 256
NODE = 4096
HFS_TIME = 1_700_000_000 + 2_082_844_800  # seconds since 1904
# Blocks: 0 volume header, 1 allocation bitmap, 2 extents tree, 3-4 catalog, 5-6 attributes.
ALLOCATION, EXTENTS, CATALOG, ATTRIBUTES, FIRST_DATA = 1, 2, 3, 5, 7


def hfs_name(raw):
    """A name as the Mac stores it: decomposed UTF-16; a byte that is not UTF-8 becomes %XX,
    as the Mac's own conversion escapes it."""
    text = "".join(c if not 0xDC80 <= ord(c) <= 0xDCFF else "%%%02X" % (ord(c) - 0xDC00)
                   for c in raw.decode("utf-8", "surrogateescape"))
    return unicodedata.normalize("NFD", text)


def unistr(text):
    units = text.encode("utf-16-be")
    return struct.pack(">H", len(units) // 2) + units


def fork(size, start, count):
    return struct.pack(">QII", size, 0, count) + struct.pack(">II", start, count) + bytes(56)


def node(kind, height, records):
    """A B-tree node: a descriptor, the records, their offsets from the node's end backwards."""
    body = bytearray(struct.pack(">IIbBHH", 0, 0, kind, height, len(records), 0))
    offsets = []
    for record in records:
        offsets.append(len(body))
        body += record + bytes(len(record) % 2)
    offsets.append(len(body))
    assert len(body) + 2 * len(offsets) <= NODE
    return bytes(body) + bytes(NODE - len(body) - 2 * len(offsets)) + b"".join(
        struct.pack(">H", o) for o in reversed(offsets))


def tree(records, max_key, attributes):
    """A header node and, with records (key, value, sort key), one leaf that is also the root."""
    used = 1 if records else 0
    header = struct.pack(">HIIIIHHIIHIBBI", used, used, len(records), used, used, NODE, max_key, 1 + used,
                         0, 0, NODE, 0, 0, attributes) + bytes(64)
    out = node(1, 0, [header, bytes(128), bytes([0xC0 if records else 0x80]) + bytes(NODE - 256 - 1)])
    return out + (node(-1, 1, [k + v for k, v, _ in sorted(records, key=lambda r: r[2])]) if records else b"")


def catalog_key(parent, name):
    payload = struct.pack(">I", parent) + unistr(name)
    return struct.pack(">H", len(payload)) + payload


def bsd_info(mode):
    return struct.pack(">IIBBHI", 99, 20, 0, 0, mode, 0)


def catalog_records(cnid, parent, name, kind, attributed, children, data_fork):
    """A folder's or file's record and its thread record, each as (key, value, sort key)."""
    head = struct.pack(">HII", 0x2 | 0x4 * attributed, children, cnid) + struct.pack(">5I", *[HFS_TIME] * 5)
    if kind == "dir":
        record, thread = struct.pack(">h", 1) + head + bsd_info(0o40755) + bytes(40), 3
    else:
        mode, info = (0o120755, b"slnkrhap") if kind.startswith("link:") else (0o100644, bytes(8))
        record = struct.pack(">h", 2) + head + bsd_info(mode) + info + bytes(32) + data_fork + bytes(80)
        thread = 4
    return [(catalog_key(parent, name), record, (parent, name.lower())),
            (catalog_key(cnid, ""), struct.pack(">hHI", thread, 0, parent) + unistr(name), (cnid, ""))]


def main(argv):
    entries = walk(DATA_TREE)
    root = [2, 1, b"Data", "dir", {}, sum(e[1] == 2 for e in entries)]
    catalog, attributes, data_blocks = [], [], []
    for cnid, parent, raw, kind, values, children in [root] + entries:
        content = kind[5:].encode() if kind.startswith(("file:", "link:")) else b""
        data_fork = fork(len(content), FIRST_DATA + len(data_blocks), 1) if content else bytes(80)
        if content:
            data_blocks.append(content.ljust(BS, b"\0"))
        for attribute, value in values.items():
            name = attribute.encode("utf-16-be")
            key = struct.pack(">HIIH", 0, cnid, 0, len(attribute)) + name
            inline = struct.pack(">4I", 0x10, 0, 0, len(value)) + value
            attributes.append((struct.pack(">H", len(key)) + key, inline, (cnid, name)))
        catalog += catalog_records(cnid, parent, hfs_name(raw), kind, bool(values), children, data_fork)
    catalog, extents, attributes = tree(catalog, 516, 6), tree([], 10, 2), tree(attributes, 266, 6)
    used = FIRST_DATA + len(data_blocks)
    bitmap = bytearray(BS)
    for block in list(range(used)) + [BLOCKS - 1]:  # the last block holds the alternate header
        bitmap[block // 8] |= 0x80 >> (block % 8)
    files = sum(1 for e in entries if e[3] != "dir")
    header = struct.pack(">2sHI4sI4I", b"H+", 4, 0x100, b"10.0", 0, *[HFS_TIME] * 4) + \
        struct.pack(">10IQ", files, len(entries) - files, BS, BLOCKS, BLOCKS - used - 1, used, BS, BS,
                    16 + len(entries), 1, 1) + bytes(32) + \
        fork(BS, ALLOCATION, 1) + fork(len(extents), EXTENTS, 1) + fork(len(catalog), CATALOG, 2) + \
        fork(len(attributes), ATTRIBUTES, 2) + bytes(80)
    assert len(header) == 512
    with open(argv[1], "wb") as out:
        out.truncate(BLOCKS * BS)
        for offset, data in ((1024, header), (BLOCKS * BS - 1024, header), (ALLOCATION * BS, bitmap),
                             (EXTENTS * BS, extents), (CATALOG * BS, catalog), (ATTRIBUTES * BS, attributes),
                             (FIRST_DATA * BS, b"".join(data_blocks))):
            out.seek(offset)
            out.write(data)


if __name__ == "__main__":
    main(sys.argv)
