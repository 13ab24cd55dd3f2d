#!/usr/bin/env python3
"""Writes a small APFS container for the image tests, from Apple's published format.

apfs-image.py OUT [--password PASSWORD] [--users [--huge-policy]] [--entries N]

Two volumes: "Data" (role Data) holds image_tree.DATA_TREE, "System" (role System) one
application folder. With --password the System volume is encrypted as FileVault does it
(apfs_filevault.py), unlocked by that password. --users adds Users/alice with her quarantine
database and the ExecPolicy database (image_tree.users_tree); with --huge-policy that database
claims 300 MiB. --entries N adds N plain files with a provenance value in folders of 1,000 to
the Data volume, for measurements. UUIDs and times are fixed, so the same arguments write the
same bytes.
"""
import struct
import sys

import apfs_filevault
from image_tree import DATA_TREE, PROVENANCE, users_tree, walk

BS = 4096
XID = 1
TIME = 1_700_000_000 * 10**9
SYSTEM_TREE = [("Applications/Tool.app", "dir",
                 {"com.apple.provenance": bytes.fromhex("0102000102030405060708")})]


def fletcher64(data):
    lo = hi = 0
    for word in struct.unpack(f"<{len(data) // 4}I", data):
        lo = (lo + word) % 0xFFFFFFFF
        hi = (hi + lo) % 0xFFFFFFFF
    c1 = 0xFFFFFFFF - (lo + hi) % 0xFFFFFFFF
    return (0xFFFFFFFF - (lo + c1) % 0xFFFFFFFF) << 32 | c1


def crc32c(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc


class Image:
    """Blocks by address; new objects go from block 1024 on, where some checkers want them."""

    def __init__(self):
        self.blocks, self.next_block = {}, 1024

    def allocate(self):
        self.next_block += 1
        return self.next_block - 1

    def put(self, paddr, oid, otype, subtype, body):
        block = bytearray(BS)
        block[8:32] = struct.pack("<QQII", oid, XID, otype, subtype)
        block[32:32 + len(body)] = body
        block[0:8] = struct.pack("<Q", fletcher64(bytes(block[8:])))
        self.blocks[paddr] = bytes(block)


def node_body(entries, fixed, level, info=b""):
    """A B-tree node's bytes after the object header, entries being (key, value); the root
    carries the tree's info."""
    toc, keys, values = bytearray(), bytearray(), bytearray()
    for key, value in entries:
        values = value + values
        toc += struct.pack("<HH", len(keys), len(values)) if fixed else \
            struct.pack("<HHHH", len(keys), len(key), len(values), len(value))
        keys += key
    free = BS - 56 - len(info) - len(toc) - len(keys) - len(values)
    assert free >= 0
    flags = (1 if info else 0) | (2 if level == 0 else 0) | (4 if fixed else 0)
    head = struct.pack("<HHI4H4H", flags, level, len(entries), 0, len(toc), len(keys), free,
                       0xFFFF, 0, 0xFFFF, 0)
    return head + toc + keys + bytes(free) + values + info


def node_size(entries, fixed, root):
    return 56 + sum((4 if fixed else 8) + len(k) + len(v) for k, v in entries) + (40 if root else 0)


def write_tree(image, records, subtype, flags, omap=None):
    """Writes a B-tree of sorted records, leaves first, and returns the root's oid. The nodes of
    a virtual tree (given omap, a dict oid -> paddr) take oids from 1026 and enter omap."""
    fixed, entries, level, nodes = subtype == 0x0B, records, 0, 1
    while True:
        groups = [[]]
        for entry in entries:
            if groups[-1] and node_size(groups[-1] + [entry], fixed, False) > BS:
                groups.append([])
            groups[-1].append(entry)
        if len(groups) == 1 and node_size(groups[0], fixed, True) <= BS:
            break
        nodes += len(groups)
        entries = [(group[0][0], struct.pack("<Q", write_node(image, group, level, subtype, omap)))
                   for group in groups]
        level += 1
    info = struct.pack("<IIIIIIQQ", flags, BS, 16 if fixed else 0, 16 if fixed else 0,
                       max((len(k) for k, _ in records), default=0),
                       max((len(v) for _, v in records), default=0), len(records), nodes)
    return write_node(image, groups[0], level, subtype, omap, info)


def write_node(image, entries, level, subtype, omap, info=b""):
    paddr = image.allocate()
    oid = paddr if omap is None else 1026 + len(omap)
    if omap is not None:
        omap[oid] = paddr
    otype = (2 if info else 3) | (0x40000000 if omap is None else 0)
    image.put(paddr, oid, otype, subtype, node_body(entries, subtype == 0x0B, level, info))
    return oid


def write_omap(image, mapping, flags, value_flags=0):
    records = [(struct.pack("<QQ", oid, XID), struct.pack("<IIQ", value_flags, BS, paddr))
               for oid, paddr in sorted(mapping.items())]
    tree = write_tree(image, records, 0x0B, 0x10)
    paddr = image.allocate()
    image.put(paddr, paddr, 0x4000000B, 0, struct.pack("<IIIIQQ", flags, 0, 0x40000002, 0x40000002, tree, 0))
    return paddr


def jkey(oid, kind):
    return struct.pack("<Q", oid | (kind << 60))


def xfields(fields):
    """An extended-field blob from (type, flags, data) triples."""
    head = struct.pack("<HH", len(fields), sum((len(d) + 7) // 8 * 8 for _, _, d in fields))
    table = b"".join(struct.pack("<BBH", t, f, len(d)) for t, f, d in fields)
    return head + table + b"".join(d + bytes((8 - len(d) % 8) % 8) for _, _, d in fields)


def inode(oid, parent, mode, children, name, size=None, alloced=0):
    fields = [(4, 2, name + b"\0")]
    if size is not None:
        fields.append((8, 0x20, struct.pack("<QQQQQ", size, alloced, 0, 0, 0)))
    # Born, modified, changed, accessed: a second apart, so that no reader can swap them unseen.
    times = [TIME + n * 10**9 for n in range(4)]
    value = struct.pack("<QQQQQQQiIIIIIHHQ", parent, oid, *times, 0, children, 0, 0, 0, 99, 20, mode, 0, 0)
    return (jkey(oid, 3), value + xfields(fields))


def drec(parent, name, oid, dtype):
    folded = name.decode("utf-8", "surrogateescape").lower().encode("utf-32-le", "surrogatepass")
    hashed = crc32c(folded) & 0x3FFFFF
    key = jkey(parent, 9) + struct.pack("<I", (hashed << 10) | (len(name) + 1)) + name + b"\0"
    return (key, struct.pack("<QQH", oid, TIME, dtype))


def xattr(oid, name, flags, value):
    """An attribute held inline (flags 2; 6 for a symlink's target, which the file system owns)."""
    return (jkey(oid, 4) + struct.pack("<H", len(name) + 1) + name + b"\0",
            struct.pack("<HH", flags, len(value)) + value)


def record_order(record):
    """Object id, record type, then a folder entry's name hash and name or an attribute's name."""
    key = record[0]
    head = int.from_bytes(key[:8], "little")
    kind = head >> 60
    rest = key[10 if kind == 4 else 8:]
    if kind == 9:
        rest = (int.from_bytes(key[8:12], "little") >> 10, key[12:])
    return (head & ((1 << 60) - 1), kind, rest)


def volume_records(image, tree):
    """The file-system tree's records, sorted; the next object id; the numbers of files,
    folders and symbolic links."""
    entries = walk(tree)
    records = [inode(2, 1, 0o40755, sum(e[1] == 2 for e in entries), b"root"),
               inode(3, 1, 0o40755, 0, b"private-dir"), drec(1, b"root", 2, 4), drec(1, b"private-dir", 3, 4)]
    counts = [0, 0, 0]
    for oid, parent, name, kind, attributes, children in entries:
        kind = "file:" + kind.decode("latin-1") if isinstance(kind, bytes) else kind
        category, _, data = kind.partition(":")
        dtype, count = {"dir": (4, 1), "link": (10, 2)}.get(category, (8, 0))
        counts[count] += 1
        if category == "dir":
            records.append(inode(oid, parent, 0o40755, children, name))
        elif category == "huge":  # no block at all: a database too large to read, in a tiny image
            records.append(inode(oid, parent, 0o100644, 1, name, 300 << 20, 0))
        elif category == "link":
            records += [inode(oid, parent, 0o120755, 1, name),
                        xattr(oid, b"com.apple.fs.symlink", 6, data.encode() + b"\0")]
        elif data:
            block = image.allocate()
            image.blocks[block] = data.encode("latin-1").ljust(BS, b"\0")
            records += [inode(oid, parent, 0o100644, 1, name, len(data), BS),
                        (jkey(oid, 6), struct.pack("<I", 1)),
                        (jkey(oid, 8) + bytes(8), struct.pack("<QQQ", BS, block, 0))]
        else:
            records.append(inode(oid, parent, 0o100644, 1, name))
        records.append(drec(parent, name, oid, dtype))
        records += [xattr(oid, key.encode(), 2, value) for key, value in attributes.items()]
    return sorted(records, key=record_order), 16 + len(entries), counts


def volume_uuid(index):
    return bytes([0x51, index] + [0xAA] * 14)


def write_volume(image, index, name, role, tree, encrypted):
    records, next_id, counts = volume_records(image, tree)
    omap = {}
    root_tree = write_tree(image, records, 0x0E, 0x40, omap)
    extentref = write_tree(image, [], 0x0F, 0x50)
    snapmeta = write_tree(image, [], 0x10, 0x50)
    if encrypted:
        apfs_filevault.encrypt_blocks(image, omap.values())
    omap_paddr = write_omap(image, omap, 0, 4 if encrypted else 0)  # OMAP_VAL_ENCRYPTED
    body = bytearray(1100)
    struct.pack_into("<4sIQQQQQQQ", body, 0, b"APSB", index, 0, 0, 1, TIME, 0, 0, 0)
    body[64:84] = struct.pack("<HHIIIHH", 5, 0, 0, 6, 0, 1, 0)
    struct.pack_into("<IIIQQQQQQQ", body, 84, 2, 0x40000002, 0x40000002, omap_paddr, root_tree, extentref,
                     snapmeta, 0, 0, next_id)
    struct.pack_into("<QQQ", body, 152, *counts)
    body[208:224] = volume_uuid(index)
    struct.pack_into("<QQ", body, 224, TIME, 0 if encrypted else 1)
    body[240:256] = b"apfs-image.py".ljust(16, b"\0")
    body[672:672 + len(name)] = name
    struct.pack_into("<IH", body, 928, 0, role)
    paddr = image.allocate()
    image.put(paddr, 1026 + index, 0x0000000D, 0, bytes(body))
    return paddr


def write_spaceman(image, blocks):
    """The space manager in the checkpoint's data area (block 10), its internal pool at blocks
    32..47 (the pool's bitmap at 16), one chunk-info block and a bitmap for each chunk."""
    chunks = (blocks + 32767) // 32768
    used = set(range(0, 48)) | set(range(1024, image.next_block))
    cib = struct.pack("<II", 0, chunks)
    for chunk in range(chunks):
        bits = bytearray(BS)
        first, count = chunk * 32768, min(32768, blocks - chunk * 32768)
        for offset in (block - first for block in used if first <= block < first + count):
            bits[offset // 8] |= 1 << (offset % 8)
        image.blocks[34 + chunk] = bytes(bits)
        free = count - sum(bin(b).count("1") for b in bits)
        cib += struct.pack("<QQIIQ", XID, first, count, free, 34 + chunk)
    image.put(33, 33, 0x40000007, 0, cib)
    image.blocks[16] = struct.pack("<Q", (1 << (2 + chunks)) - 1) + bytes(BS - 8)
    free = blocks - sum(1 for b in used if b < blocks)
    body = bytearray(400)
    struct.pack_into("<IIIIQQIIQII", body, 0, BS, 32768, 126, 507, blocks, chunks, 1, 0, free, 384, 0)
    struct.pack_into("<IIQIIQQ", body, 112, 0, 16, 16, 1, 16, 16, 32)
    struct.pack_into("<QQQHHIQ", body, 168, 0, 1031, 0, 1, 0, 0, 0)
    struct.pack_into("<QQQHHIQ", body, 208, 0, 1032, 0, 34, 0, 0, 0)
    struct.pack_into("<HHIIIII", body, 288, 1, 15, 336, 344, 352, 1, 0)
    struct.pack_into("<Q", body, 304, 1)
    struct.pack_into("<16H", body, 320, 0xFFFF, *range(2, 16), 0xFFFF)
    struct.pack_into("<Q", body, 352, 33)
    image.put(10, 1030, 0x80000005, 0, bytes(body))
    info = struct.pack("<IIIIIIQQ", 12, BS, 16, 8, 16, 8, 0, 1)
    for paddr, oid in ((11, 1031), (12, 1032)):
        image.put(paddr, oid, 0x80000002, 9, node_body([], True, 0, info))


def main(argv):
    password = argv[argv.index("--password") + 1] if "--password" in argv else None
    entries = int(argv[argv.index("--entries") + 1]) if "--entries" in argv else 0
    data_tree = DATA_TREE + (users_tree("--huge-policy" in argv) if "--users" in argv else [])
    data_tree += [(f"many/{n // 1000:04d}/f{n:07d}", "file", {"com.apple.provenance": PROVENANCE})
                  for n in range(entries)]
    blocks = max(8192, (entries // 20 + 4096) // 1024 * 1024)
    image = Image()
    volumes = {1026: write_volume(image, 0, b"Data", 0x40, data_tree, False),
               1027: write_volume(image, 1, b"System", 0x1, SYSTEM_TREE, password is not None)}
    container_uuid = bytes([0xC0, 0x7E] + [0x11] * 14)
    keybag = 0 if password is None else \
        apfs_filevault.write_keybags(image, container_uuid, volume_uuid(1), password)
    container_omap = write_omap(image, volumes, 1)
    # The checkpoint: a map at block 1, the superblock's copy at 2; the reaper, the space manager
    # and its free queues at 9..12.
    image.put(9, 1025, 0x80000011, 0, struct.pack("<QQQQIIII", 1, 0, 0, 0, 1, 0, 0, 0) + bytes(24)
              + struct.pack("<II", 0, 0xF90))
    write_spaceman(image, blocks)
    image.put(1, 1, 0x4000000C, 0, struct.pack("<II", 1, 4) + b"".join(
        struct.pack("<IIIIQQQ", otype, subtype, BS, 0, 0, oid, paddr)
        for otype, subtype, oid, paddr in ((0x80000011, 0, 1025, 9), (0x80000005, 0, 1030, 10),
                                           (0x80000002, 9, 1031, 11), (0x80000002, 9, 1032, 12))))
    body = bytearray(1400)
    struct.pack_into("<4sIQQQQ", body, 0, b"NXSB", BS, blocks, 0, 0, 2)
    body[40:56] = container_uuid
    struct.pack_into("<QQIIQQIIIIII", body, 56, 1040, XID + 1, 8, 8, 1, 9, 2, 4, 0, 2, 0, 4)
    struct.pack_into("<QQQII", body, 120, 1030, container_omap, 1025, 0, 100)
    struct.pack_into("<QQ", body, 152, 1026, 1027)
    if keybag:  # software encryption, and the keybag's place
        struct.pack_into("<Q", body, 0x4D0, 4)
        struct.pack_into("<QQ", body, 0x4F0, keybag, 1)
    image.put(0, 1, 0x80000001, 0, bytes(body))
    image.put(2, 1, 0x80000001, 0, bytes(body))
    with open(argv[1], "wb") as out:
        out.truncate(blocks * BS)
        for paddr, block in image.blocks.items():
            out.seek(paddr * BS)
            out.write(block)


if __name__ == "__main__":
    main(sys.argv)
