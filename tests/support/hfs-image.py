#!/usr/bin/env python3
"""Writes a small HFS+ volume for the image tests, from Apple's TN1150.

hfs-image.py OUT

The volume holds the Data tree of apfs-image.py (the same entries and attributes, inline in
the attributes B-tree). The catalog and attributes B-trees are one header node and one leaf
each; the extents overflow B-tree is a header node only. Times are fixed, so every run writes
the same bytes.
"""
import importlib.util
import os
import struct
import sys
import unicodedata

_spec = importlib.util.spec_from_file_location(
    "apfs_image", os.path.join(os.path.dirname(os.path.abspath(__file__)), "apfs-image.py"))
apfs = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(apfs)

BS = 4096
BLOCKS = 256
NODE = 4096
HFS_TIME = 1_700_000_000 + 2_082_844_800  # seconds since 1904
VOLUME_NAME = "Data"
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


def node(kind, height, records, flink=0):
    """A B-tree node: a descriptor, the records, their offsets from the node's end backwards."""
    body = bytearray(struct.pack(">IIbBHH", flink, 0, kind, height, len(records), 0))
    offsets = []
    for record in records:
        offsets.append(len(body))
        body += record + bytes(len(record) % 2)
    offsets.append(len(body))
    assert len(body) + 2 * len(offsets) <= NODE
    return bytes(body) + bytes(NODE - len(body) - 2 * len(offsets)) + b"".join(
        struct.pack(">H", o) for o in reversed(offsets))


def tree(records, max_key, attributes):
    """A header node and, with records, one leaf that is also the root (height 1)."""
    nodes = 2 if records else 1
    header = struct.pack(">HIIIIHHIIHIBBI", 1 if records else 0, 1 if records else 0, len(records),
                         1 if records else 0, 1 if records else 0, NODE, max_key, nodes, 0, 0, NODE, 0, 0,
                         attributes) + bytes(64)
    bitmap = bytes([0xC0 if records else 0x80]) + bytes(NODE - 256 - 1)
    out = node(1, 0, [header, bytes(128), bitmap])
    return out + (node(-1, 1, [k + v for k, v, _ in sorted(records, key=lambda r: r[2])]) if records else b"")


def catalog_key(parent, name):
    payload = struct.pack(">I", parent) + unistr(name)
    return struct.pack(">H", len(payload)) + payload


def bsd_info(mode):
    return struct.pack(">IIBBHI", 99, 20, 0, 0, mode, 0)


def catalog_records(entries, file_fork, attributed):
    """(key, value, sort key) of each folder, file and thread; entries are (cnid, parent, name, kind),
    `attributed` the cnids with extended attributes."""
    records, valence = [], {}
    for _, parent, _, _ in entries:
        valence[parent] = valence.get(parent, 0) + 1
    dates = struct.pack(">5I", *[HFS_TIME] * 5)
    for cnid, parent, name, kind in entries:
        order = (parent, name.lower())
        if kind == "dir":
            value = struct.pack(">hHII", 1, 0x2 | 0x4 * (cnid in attributed), valence.get(cnid, 0), cnid) + dates + \
                bsd_info(0o40755) + bytes(32) + struct.pack(">II", 0, 0)
            thread = 3
        else:
            mode, info = (0o120755, b"slnkrhap") if kind.startswith("link:") else (0o100644, bytes(8))
            value = struct.pack(">hHII", 2, 0x2 | 0x4 * (cnid in attributed), 0, cnid) + dates + bsd_info(mode) + \
                info + bytes(8) + bytes(16) + struct.pack(">II", 0, 0) + file_fork.get(cnid, bytes(80)) + bytes(80)
            thread = 4
        records.append((catalog_key(parent, name), value, order))
        records.append((catalog_key(cnid, ""), struct.pack(">hHI", thread, 0, parent) + unistr(name), (cnid, "")))
    return records


def main(argv):
    entries = [(2, 1, VOLUME_NAME, "dir")]
    ids, attributes, data_blocks, file_fork = {"": 2}, [], [], {}
    for cnid, (path, kind, values) in enumerate(apfs.DATA_TREE, start=16):
        parent_path, _, raw = path.encode("utf-8", "surrogateescape").rpartition(b"/")
        ids[path] = cnid
        entries.append((cnid, ids[parent_path.decode("utf-8", "surrogateescape")], hfs_name(raw), kind))
        content = kind[5:].encode() if kind.startswith(("file:", "link:")) else b""
        if content:
            file_fork[cnid] = fork(len(content), FIRST_DATA + len(data_blocks), 1)
            data_blocks.append(content + bytes(BS - len(content)))
        for attribute, value in values.items():
            key = struct.pack(">HIIH", 0, cnid, 0, len(attribute)) + attribute.encode("utf-16-be")
            attributes.append((struct.pack(">H", len(key)) + key, struct.pack(">IIII", 0x10, 0, 0, len(value)) + value,
                               (cnid, attribute.encode("utf-16-be"))))
    catalog = tree(catalog_records(entries, file_fork, {r[2][0] for r in attributes}), 516, 6)
    extents = tree([], 10, 2)
    attributes_tree = tree(attributes, 266, 6)
    used = FIRST_DATA + len(data_blocks)
    bitmap = bytearray(BS)
    for block in list(range(used)) + [BLOCKS - 1]:  # the last block holds the alternate header
        bitmap[block // 8] |= 0x80 >> (block % 8)
    files = sum(1 for e in entries if e[3] != "dir")
    header = struct.pack(">2sHI4sI4I", b"H+", 4, 0x100, b"10.0", 0, *[HFS_TIME] * 4) + \
        struct.pack(">10IQ", files, len(entries) - 1 - files, BS, BLOCKS, BLOCKS - used - 1, used, BS, BS,
                    16 + len(apfs.DATA_TREE), 1, 1) + bytes(32) + \
        fork(BS, ALLOCATION, 1) + fork(len(extents), EXTENTS, 1) + fork(len(catalog), CATALOG, 2) + \
        fork(len(attributes_tree), ATTRIBUTES, 2) + bytes(80)
    assert len(header) == 512
    with open(argv[1], "wb") as out:
        out.truncate(BLOCKS * BS)
        for offset, data in ((1024, header), (BLOCKS * BS - 1024, header), (ALLOCATION * BS, bitmap),
                             (EXTENTS * BS, extents), (CATALOG * BS, catalog), (ATTRIBUTES * BS, attributes_tree),
                             (FIRST_DATA * BS, b"".join(data_blocks))):
            out.seek(offset)
            out.write(data)


if __name__ == "__main__":
    main(sys.argv)
