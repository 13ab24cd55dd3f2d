"""The tree that apfs-image.py and hfs-image.py write, its attribute values, and the walk that
numbers its entries for either."""
import sqlite3
from collections import Counter

PROVENANCE = bytes.fromhex("010200") + bytes.fromhex("8877665544332211")
QUARANTINE = b"0083;65a1b2c3;Safari;8C7D5E1F-1111-2222-3333-444455556666"
WHERE_FROMS = bytes.fromhex("62706c6973743030a1015f101568747470733a2f2f6578616d706c652e6f72672f61"
                            "080a0000000000000101000000000000000200000000000000000000000000000022")

# (path, kind, attributes); kind: "dir", "file", "file:DATA", "link:TARGET", "huge" (claims 300
# MiB, holds nothing) or the file's bytes.
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


def one_block_database(schema, row, key):
    """A SQLite database of at most 4 KiB holding one table with one row, `key` its first column."""
    db = sqlite3.connect(":memory:")
    db.execute("PRAGMA page_size = 512")
    db.execute(schema)
    db.execute(row, (key,))
    db.commit()
    data = db.serialize()
    assert len(data) <= 4096
    return data


def users_tree(huge_policy):
    """Alice's quarantine database (the event QUARANTINE names, downloaded by Safari) and the
    ExecPolicy database (the row PROVENANCE names, its key read little-endian), or one too large."""
    events = one_block_database(
        "CREATE TABLE LSQuarantineEvent (LSQuarantineEventIdentifier TEXT PRIMARY KEY NOT NULL, "
        "LSQuarantineTimeStamp REAL, LSQuarantineAgentBundleIdentifier TEXT, LSQuarantineAgentName TEXT, "
        "LSQuarantineDataURLString TEXT, LSQuarantineSenderName TEXT, LSQuarantineSenderAddress TEXT, "
        "LSQuarantineTypeNumber INTEGER, LSQuarantineOriginTitle TEXT, LSQuarantineOriginURLString TEXT)",
        "INSERT INTO LSQuarantineEvent VALUES (?, 722000000.0, 'com.apple.Safari', 'Safari', "
        "'https://example.org/installer.dmg', NULL, NULL, 0, NULL, 'https://example.org/')",
        QUARANTINE.split(b";")[3].decode())
    policy = "huge" if huge_policy else one_block_database(
        "CREATE TABLE provenance_tracking (pk INTEGER PRIMARY KEY, url TEXT NOT NULL, bundle_id TEXT, "
        "cdhash TEXT, team_identifier TEXT, signing_identifier TEXT, flags INTEGER, "
        "timestamp INTEGER NOT NULL, link_pk INTEGER)",
        "INSERT INTO provenance_tracking VALUES (?, 'https://example.org/installer.dmg', "
        "'org.example.installer', NULL, 'TEAM123456', 'org.example.installer', 0, 1700300000, NULL)",
        int.from_bytes(PROVENANCE[3:], "little"))
    return [("Users/alice/Library/Preferences/com.apple.LaunchServices.QuarantineEventsV2", events, {}),
            ("private/var/db/SystemPolicyConfiguration/ExecPolicy", policy, {})]


def walk(tree, first_id=16):
    """Numbers the entries from first_id in tree order (the root folder is 2), a folder that a
    path passes through and the tree does not list coming just before it. Returns lists of
    (id, parent's id, name as bytes, kind, attributes, number of children)."""
    ids, entries = {"": 2}, []

    def add(path, kind, attributes):
        parent, _, name = path.rpartition("/")
        if parent not in ids:
            add(parent, "dir", {})
        ids[path] = first_id + len(entries)
        entries.append([ids[path], ids[parent], name.encode("utf-8", "surrogateescape"), kind, attributes])

    for entry in tree:
        add(*entry)
    children = Counter(entry[1] for entry in entries)
    return [entry + [children[entry[0]]] for entry in entries]
