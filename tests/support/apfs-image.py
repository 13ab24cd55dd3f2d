#!/usr/bin/env python3
"""Writes a small APFS container for the image tests, from Apple's published format.

apfs-image.py OUT [--password PASSWORD] [--users [--huge-policy]] [--entries N]

Two volumes: "Data" (role Data) holds the test tree below, "System" (role System) one
application folder. With --password the System volume is encrypted as FileVault does it
(apfs_filevault.py), unlocked by that password. --users adds Users/alice with her quarantine
database (one event: the one the quarantine value names) and the ExecPolicy database (the row
the provenance value names); with --huge-policy that database claims 300 MiB. --entries N adds N plain files with a provenance
value in folders of 1,000 to the Data volume, for measurements. UUIDs and times are fixed, so the
same arguments write the same bytes.
"""
import os
import sqlite3
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import apfs_filevault  # noqa: E402

BS = 4096
XID = 1
TIME = 1_700_000_000 * 10**9
PROVENANCE = bytes.fromhex("010200") + bytes.fromhex("8877665544332211")
QUARANTINE = b"0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666"
WHERE_FROMS = bytes.fromhex("62706c6973743030a1015f101568747470733a2f2f6578616d706c652e6f72672f61"
                            "080a0000000000000101000000000000000200000000000000000000000000000022")


def quarantine_events():
    """Alice's quarantine database, one block: the event QUARANTINE names, downloaded by Safari."""
    db = sqlite3.connect(":memory:")
    db.execute("PRAGMA page_size = 512")
    db.execute("CREATE TABLE LSQuarantineEvent (LSQuarantineEventIdentifier TEXT PRIMARY KEY NOT NULL, "
               "LSQuarantineTimeStamp REAL, LSQuarantineAgentBundleIdentifier TEXT, LSQuarantineAgentName TEXT, "
               "LSQuarantineDataURLString TEXT, LSQuarantineSenderName TEXT, LSQuarantineSenderAddress TEXT, "
               "LSQuarantineTypeNumber INTEGER, LSQuarantineOriginTitle TEXT, LSQuarantineOriginURLString TEXT)")
    db.execute("INSERT INTO LSQuarantineEvent VALUES (?, 722000000.0, 'com.apple.Safari', 'Safari', "
               "'https://example.org/installer.dmg', NULL, NULL, 0, NULL, 'https://example.org/')",
               (QUARANTINE.split(b";")[3].decode(),))
    db.commit()
    data = db.serialize()
    assert len(data) <= BS
    return data


def exec_policy():
    """The ExecPolicy database, one block: the row the provenance value names (its key read little-endian)."""
    db = sqlite3.connect(":memory:")
    db.execute("PRAGMA page_size = 512")
    db.execute("CREATE TABLE provenance_tracking (pk INTEGER PRIMARY KEY, url TEXT NOT NULL, bundle_id TEXT, "
               "cdhash TEXT, team_identifier TEXT, signing_identifier TEXT, flags INTEGER, "
               "timestamp INTEGER NOT NULL, link_pk INTEGER)")
    db.execute("INSERT INTO provenance_tracking VALUES (?, 'https://example.org/installer.dmg', "
               "'org.example.installer', NULL, 'TEAM123456', 'org.example.installer', 0, 1700300000, NULL)",
               (int.from_bytes(PROVENANCE[3:], "little"),))
    db.commit()
    data = db.serialize()
    assert len(data) <= BS
    return data


# (path, kind, attributes); kind: "dir", "file", "file:DATA", "link:TARGET" or the file's bytes.
DATA_TREE = [
    ("Downloads", "dir", {"com.apple.provenance": PROVENANCE}),
    ("Downloads/installer.dmg", "file:hello\n", {
        "com.apple.provenance": PROVENANCE, "com.apple.quarantine": QUARANTINE,
        "com.apple.metadata:kMDItemWhereFroms": WHERE_FROMS}),
    ("Downloads/empty.txt", "file", {"com.apple.quarantine": b"0081;65a1b2c3;;"}),
    ("Documents", "dir", {}),
    ("Documents/plain.txt", "file:plain", {}),
    ("Documents/caf\udce9 list.txt", "file", {"com.apple.provenance": PROVENANCE}),
    (".hidden", "file", {"com.apple.provenance": PROVENANCE}),
    ("link", "link:Downloads", {"com.apple.provenance": PROVENANCE}),
]
# With --users: a home folder holding its quarantine database.
USERS_TREE = [
    ("Users", "dir", {}),
    ("Users/alice", "dir", {}),
    ("Users/alice/Library", "dir", {}),
    ("Users/alice/Library/Preferences", "dir", {}),
    ("Users/alice/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2", "EVENTS", {}),
    ("private", "dir", {}),
    ("private/var", "dir", {}),
    ("private/var/db", "dir", {}),
    ("private/var/db/SystemPolicyConfiguration", "dir", {}),
    ("private/var/db/SystemPolicyConfiguration/ExecPolicy", "EXECPOLICY", {}),
]
SYSTEM_TREE = [
    ("Applications", "dir", {}),
    ("Applications/Tool.app", "dir", {"com.apple.provenance": bytes.fromhex("0102000102030405060708")}),
]


def fletcher64(data):
    words = struct.unpack(f"<{len(data) // 4}I", data)
    lo = hi = 0
    for w in words:
        lo = (lo + w) % 0xFFFFFFFF
        hi = (hi + lo) % 0xFFFFFFFF
    c1 = 0xFFFFFFFF - ((lo + hi) % 0xFFFFFFFF)
    c2 = 0xFFFFFFFF - ((lo + c1) % 0xFFFFFFFF)
    return (c2 << 32) | c1


def crc32c(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc


class Image:
    def __init__(self, blocks):
        self.blocks = {}
        self.count = blocks
        self.next_block = 1024  # some checkers want physical objects from here on

    def allocate(self):
        self.next_block += 1
        return self.next_block - 1

    def put(self, paddr, oid, otype, subtype, body):
        block = bytearray(BS)
        block[8:32] = struct.pack("<QQII", oid, XID, otype, subtype)
        block[32:32 + len(body)] = body
        block[0:8] = struct.pack("<Q", fletcher64(bytes(block[8:])))
        self.blocks[paddr] = bytes(block)

    def write(self, path):
        with open(path, "wb") as out:
            out.truncate(self.count * BS)
            for paddr, block in sorted(self.blocks.items()):
                out.seek(paddr * BS)
                out.write(block)


def node_body(entries, fixed, leaf, root, level, info):
    """A B-tree node's bytes after the object header; entries are (key, value)."""
    toc = bytearray()
    keys = bytearray()
    values = bytearray()
    value_end = BS - 32 - 24 - (40 if root else 0)
    for key, value in entries:
        values = value + values
        if fixed:
            toc += struct.pack("<HH", len(keys), len(values))
        else:
            toc += struct.pack("<HHHH", len(keys), len(key), len(values), len(value))
        keys += key
    free = value_end - len(toc) - len(keys) - len(values)
    assert free >= 0
    flags = (1 if root else 0) | (2 if leaf else 0) | (4 if fixed else 0)
    head = struct.pack("<HHI4H4H", flags, level, len(entries), 0, len(toc), len(keys), free, 0xFFFF, 0, 0xFFFF, 0)
    body = head + toc + keys + bytes(free) + values
    return body + (info if root else b"")


def node_size(entries, fixed, root):
    toc_entry = 4 if fixed else 8
    return 56 + sum(toc_entry + len(k) + len(v) for k, v in entries) + (40 if root else 0)


def write_tree(image, records, subtype, physical, flags, omap=None, next_oid=None):
    """Writes a B-tree of sorted records; returns the root's oid. Virtual trees take oids
    from next_oid (a one-item list) and enter each node in omap (a dict oid -> paddr)."""
    fixed = subtype == 0x0B
    level_entries, level = records, 0
    longest_key = max((len(k) for k, _ in records), default=0)
    longest_value = max((len(v) for _, v in records), default=0)
    node_count = 0
    nodes = []
    while True:
        groups, group = [], []
        for entry in level_entries:
            if group and node_size(group + [entry], fixed, False) > BS:
                groups.append(group)
                group = []
            group.append(entry)
        groups.append(group)
        if len(groups) == 1 and node_size(groups[0], fixed, True) <= BS:
            nodes.append((groups[0], level, True))
            node_count += 1
            break
        parents = []
        for group in groups:
            nodes.append((group, level, False))
            node_count += 1
            parents.append(group[0][0])
        # Each node gets its place now, so that its parent can point at it.
        level_entries = []
        for (group, lvl, root), first_key in zip(nodes[-len(groups):], parents):
            oid = place(image, physical, omap, next_oid)
            write_node(image, oid, omap, group, lvl, False, subtype, physical, fixed, b"")
            level_entries.append((first_key, struct.pack("<Q", oid)))
        level += 1
    info = struct.pack("<IIIIIIQQ", flags, BS, 16 if fixed else 0, 16 if fixed else 0,
                       longest_key, longest_value, len(records), node_count)
    oid = place(image, physical, omap, next_oid)
    write_node(image, oid, omap, nodes[-1][0], level, True, subtype, physical, fixed, info)
    return oid


def place(image, physical, omap, next_oid):
    paddr = image.allocate()
    if physical:
        return paddr
    oid = next_oid[0]
    next_oid[0] += 1
    omap[oid] = paddr
    return oid


def write_node(image, oid, omap, entries, level, root, subtype, physical, fixed, info):
    paddr = oid if physical else omap[oid]
    otype = (2 if root else 3) | (0x40000000 if physical else 0)
    image.put(paddr, oid, otype, subtype, node_body(entries, fixed, level == 0, root, level, info))


def write_omap(image, mapping, flags, value_flags=0):
    records = [(struct.pack("<QQ", oid, XID), struct.pack("<IIQ", value_flags, BS, paddr))
               for oid, paddr in sorted(mapping.items())]
    tree = write_tree(image, records, 0x0B, True, 0x10)
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
    value = struct.pack("<QQQQQQQiIIIIIHHQ", parent, oid, TIME, TIME + 10**9, TIME + 2 * 10**9, TIME + 3 * 10**9,
                        0, children, 0, 0, 0,
                        99, 20, mode, 0, 0)
    return (jkey(oid, 3), value + xfields(fields))


def drec(parent, name, oid, dtype):
    hashed = crc32c(name.decode("utf-8", "surrogateescape").lower().encode("utf-32-le", "surrogatepass")) & 0x3FFFFF
    key = jkey(parent, 9) + struct.pack("<I", (hashed << 10) | (len(name) + 1)) + name + b"\0"
    return (key, struct.pack("<QQH", oid, TIME, dtype)), (hashed, name)


def volume_records(image, tree):
    """The file-system tree's records for (path, kind, attributes) entries, sorted."""
    records, ids, children, counts = [], {"": 2}, {"": 0}, [0, 0, 0]
    records.append(inode(2, 1, 0o40755, 0, b"root"))
    records.append(inode(3, 1, 0o40755, 0, b"private-dir"))
    records.append(drec(1, b"root", 2, 4)[0])
    records.append(drec(1, b"private-dir", 3, 4)[0])
    inodes = {2: 0, 3: 1}
    next_id = 16
    for path, kind, attributes in tree:
        raw = path.encode("utf-8", "surrogateescape")
        parent_path, _, name = raw.rpartition(b"/")
        parent = ids[parent_path.decode("utf-8", "surrogateescape")]
        oid, next_id = next_id, next_id + 1
        ids[path] = oid
        children[path.rpartition("/")[0]] += 1
        if isinstance(kind, bytes):
            kind = "file:" + kind.decode("latin-1")
        if kind == "dir":
            children[path] = 0
            inodes[oid] = len(records)
            records.append(inode(oid, parent, 0o40755, 0, name))
            dtype = 4
            counts[1] += 1
        elif kind == "huge":
            # Claims 300 MiB and holds no block: a database too large to read, in a tiny image.
            records.append(inode(oid, parent, 0o100644, 1, name, 300 << 20, 0))
            dtype = 8
            counts[0] += 1
        elif kind.startswith("link:"):
            records.append(inode(oid, parent, 0o120755, 1, name))
            target = kind[5:].encode() + b"\0"
            records.append((jkey(oid, 4) + struct.pack("<H", 21) + b"com.apple.fs.symlink\0",
                            struct.pack("<HH", 6, len(target)) + target))
            dtype = 10
            counts[2] += 1
        else:
            data = kind[5:].encode("latin-1") if kind.startswith("file:") else b""
            if data:
                block = image.allocate()
                image.blocks[block] = data + bytes(BS - len(data))
                records.append(inode(oid, parent, 0o100644, 1, name, len(data), BS))
                records.append((jkey(oid, 6), struct.pack("<I", 1)))
                records.append((jkey(oid, 8) + struct.pack("<Q", 0), struct.pack("<QQQ", BS, block, 0)))
            else:
                records.append(inode(oid, parent, 0o100644, 1, name))
            dtype = 8
            counts[0] += 1
        records.append(drec(parent, name, oid, dtype)[0])
        for attribute, value in attributes.items():
            key = attribute.encode() + b"\0"
            records.append((jkey(oid, 4) + struct.pack("<H", len(key)) + key,
                            struct.pack("<HH", 2, len(value)) + value))
    # Folders' child counts, now that they are known.
    for path, oid in ids.items():
        if path in children and oid in inodes:
            key, value = records[inodes[oid]]
            records[inodes[oid]] = (key, value[:56] + struct.pack("<i", children[path]) + value[60:])
    records.sort(key=record_order)
    return records, next_id, counts


def record_order(record):
    key = record[0]
    oid_and_type = struct.unpack_from("<Q", key)[0]
    kind = oid_and_type >> 60
    rest = key[8:]
    if kind == 9:
        rest = (struct.unpack_from("<I", rest)[0] >> 10, rest[4:])
    elif kind == 4:
        rest = (0, rest[2:])
    else:
        rest = (0, rest)
    return (oid_and_type & ((1 << 60) - 1), kind, rest)


def write_volume(image, index, name, role, tree, encrypted, volume_oid):
    records, next_id, counts = volume_records(image, tree)
    omap, next_oid = {}, [1026]
    root_tree = write_tree(image, records, 0x0E, False, 0x40, omap, next_oid)
    extentref = write_tree(image, [], 0x0F, True, 0x50)
    snapmeta = write_tree(image, [], 0x10, True, 0x50)
    if encrypted:
        apfs_filevault.encrypt_blocks(image, omap.values())
    omap_paddr = write_omap(image, omap, 0, 4 if encrypted else 0)  # OMAP_VAL_ENCRYPTED
    body = bytearray(1100)
    struct.pack_into("<4sIQQQQQQQ", body, 0, b"APSB", index, 0, 0, 1, TIME, 0, 0, 0)
    body[64:84] = struct.pack("<HHIIIHH", 5, 0, 0, 6, 0, 1, 0)
    struct.pack_into("<IIIQQQQQQQ", body, 84, 2, 0x40000002, 0x40000002, omap_paddr, root_tree, extentref,
                     snapmeta, 0, 0, next_id)
    struct.pack_into("<QQQQQ", body, 152, counts[0], counts[1], counts[2], 0, 0)
    body[208:224] = bytes([0x51, index] + [0xAA] * 14)
    struct.pack_into("<QQ", body, 224, TIME, 0 if encrypted else 1)
    body[240:256] = b"apfs-image.py".ljust(16, b"\0")
    body[672:672 + len(name)] = name
    struct.pack_into("<IH", body, 928, 0, role)
    paddr = image.allocate()
    image.put(paddr, volume_oid, 0x0000000D, 0, bytes(body))
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
        for block in used:
            if first <= block < first + count:
                bits[(block - first) // 8] |= 1 << ((block - first) % 8)
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
    struct.pack_into("<H", body, 312, 0)
    struct.pack_into("<16H", body, 320, 0xFFFF, *range(2, 16), 0xFFFF)
    struct.pack_into("<Q", body, 352, 33)
    image.put(10, 1030, 0x80000005, 0, bytes(body))
    info = struct.pack("<IIIIIIQQ", 12, BS, 16, 8, 16, 8, 0, 1)
    for paddr, oid in ((11, 1031), (12, 1032)):
        image.put(paddr, oid, 0x80000002, 9, node_body([], True, True, True, 0, info))


def main(argv):
    out = argv[1]
    password = argv[argv.index("--password") + 1] if "--password" in argv else None
    entries = int(argv[argv.index("--entries") + 1]) if "--entries" in argv else 0
    data_tree = list(DATA_TREE)
    if "--users" in argv:
        made = {"EVENTS": quarantine_events, "EXECPOLICY": exec_policy}
        if "--huge-policy" in argv:
            made["EXECPOLICY"] = lambda: "huge"
        data_tree += [(path, made[kind]() if kind in made else kind, attributes)
                      for path, kind, attributes in USERS_TREE]
    for n in range(entries):
        folder = f"many/{n // 1000:04d}"
        if n == 0:
            data_tree.append(("many", "dir", {}))
        if n % 1000 == 0:
            data_tree.append((folder, "dir", {}))
        data_tree.append((f"{folder}/f{n:07d}", "file", {"com.apple.provenance": PROVENANCE}))
    blocks = max(8192, (entries // 20 + 4096) // 1024 * 1024)
    image = Image(blocks)
    volumes = {1026: write_volume(image, 0, b"Data", 0x40, data_tree, False, 1026),
               1027: write_volume(image, 1, b"System", 0x1, SYSTEM_TREE, password is not None, 1027)}
    container_uuid = bytes([0xC0, 0x7E] + [0x11] * 14)
    keybag = apfs_filevault.write_keybags(image, container_uuid, bytes([0x51, 1] + [0xAA] * 14),
                                          password) if password is not None else 0
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
    image.write(out)


if __name__ == "__main__":
    main(sys.argv)
