#!/usr/bin/env python3
"""Origin details benchmark, run by hand (never by the test suite).

Builds once (kept in the work folder): a Mac volume of 100,000 files in 2,000 folders below
Users/alice, 1% of them with a provenance value, a quarantine value and a where-froms list,
and the volume's databases: ExecPolicy with 50,000 provenance_tracking rows and a
QuarantineEventsV2 with 20,000 LSQuarantineEvent rows. Then, for several rounds (warm
cache), crawls it with quellmark-cli:

  csv:          crawl --quarantine                      (the plain crawl)
  jsonl:        crawl --quarantine --format jsonl       (databases found upward, read once,
                                                         every listed file linked)
  jsonl, no db: crawl --quarantine --format jsonl --mac-root EMPTY

and prints medians and the ratio with and without the databases.

  bench/origin-bench.py --build build [--work /tmp/quellmark-origin-bench] [--rounds 9] [--shared N]

With --shared N the listed files name only N rows and N events (a separate work folder).
With --events N the events table holds N rows; with --keyless neither table has its key's
index (as a planted or damaged database may not), so each is read once into memory.
"""
import argparse, os, plistlib, random, sqlite3, statistics, subprocess, struct, time, uuid


def make_volume(root, files=100_000, folders=2_000, listed=0.01, provenance_rows=50_000, events=20_000, shared=0,
                keyless=False):
    key = "" if keyless else " PRIMARY KEY"
    rng = random.Random(4242)
    home = os.path.join(root, "Users", "alice")
    prefs = os.path.join(home, "Library", "Preferences")
    policy = os.path.join(root, "private", "var", "db", "SystemPolicyConfiguration")
    os.makedirs(prefs)
    os.makedirs(policy)
    db = sqlite3.connect(os.path.join(policy, "ExecPolicy"))
    db.execute("CREATE TABLE provenance_tracking (pk INTEGER" + key + ", url TEXT NOT NULL, bundle_id TEXT, "
               "cdhash TEXT, team_identifier TEXT, signing_identifier TEXT, flags INTEGER, "
               "timestamp INTEGER NOT NULL, link_pk INTEGER)")
    db.executemany("INSERT INTO provenance_tracking VALUES (?,?,?,?,?,?,?,?,?)",
                   ((pk, "file:///Applications/App%d.app/" % pk, "com.example.app%d" % pk, "%040x" % pk,
                     "TEAM%06d" % pk, "com.example.app%d" % pk, 2, 1700000000 + pk, None)
                    for pk in range(1, provenance_rows + 1)))
    db.commit()
    db.close()
    ids = [str(uuid.UUID(int=rng.getrandbits(128))).upper() for _ in range(events)]
    db = sqlite3.connect(os.path.join(prefs, "com.apple.LaunchServices.QuarantineEventsV2"))
    db.execute("CREATE TABLE LSQuarantineEvent (LSQuarantineEventIdentifier TEXT" + key + " NOT NULL, "
               "LSQuarantineTimeStamp REAL, LSQuarantineAgentBundleIdentifier TEXT, LSQuarantineAgentName TEXT, "
               "LSQuarantineDataURLString TEXT, LSQuarantineSenderName TEXT, LSQuarantineSenderAddress TEXT, "
               "LSQuarantineTypeNumber INTEGER, LSQuarantineOriginTitle TEXT, LSQuarantineOriginURLString TEXT, "
               "LSQuarantineOriginAlias BLOB)")
    db.executemany("INSERT INTO LSQuarantineEvent VALUES (?,?,?,?,?,?,?,?,?,?,?)",
                   ((i, 700000000.0 + n, "com.apple.Safari", "Safari", "https://example.org/f/%d" % n, None, None, 0,
                     "Page %d" % n, "https://example.org/p/%d" % n, None) for n, i in enumerate(ids)))
    db.commit()
    db.close()
    base = os.path.join(home, "Downloads")
    dirs = []
    for d in range(folders):
        path = os.path.join(base, "dir_%04d" % d)
        os.makedirs(path)
        dirs.append(path)
    for n in range(files):
        path = os.path.join(dirs[n % folders], "file_%06d" % n)
        open(path, "w").close()
        if rng.random() < listed:
            # With `shared`, the listed files name only that many rows and events, as the files
            # an application made share its row and the files an archive unpacked its event.
            key = rng.randint(1, shared or provenance_rows)
            os.setxattr(path, "user.com.apple.provenance", b"\x01\x02\x00" + struct.pack("<q", key))
            os.setxattr(path, "user.com.apple.quarantine", ("0083;65a1b2c3;Safari;%s" % rng.choice(ids[:shared] if shared else ids)).encode())
            os.setxattr(path, "user.com.apple.metadata:kMDItemWhereFroms",
                        plistlib.dumps(["https://example.org/f/%d" % n, "https://example.org/"],
                                       fmt=plistlib.FMT_BINARY))


def timed(command):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        raise SystemExit("%s failed: %s" % (" ".join(command), result.stderr.decode(errors="replace")))
    return elapsed, result.stdout.count(b"\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", default="/tmp/quellmark-origin-bench")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--shared", type=int, default=0,
                        help="listed files name only this many rows and events (default: any)")
    parser.add_argument("--events", type=int, default=20_000, help="rows of the events table")
    parser.add_argument("--keyless", action="store_true", help="tables without their keys' indexes")
    args = parser.parse_args()
    cli = os.path.join(os.path.abspath(args.build), "bin", "quellmark-cli")
    volume = os.path.join(args.work, "volume")
    empty = os.path.join(args.work, "empty")
    if not os.path.isdir(volume):
        print("building", volume)
        make_volume(volume, shared=args.shared, events=args.events, keyless=args.keyless)
        os.makedirs(empty, exist_ok=True)
    crawl = [cli, "crawl", "--quarantine", volume]
    commands = {
        "csv": crawl,
        "jsonl": crawl[:2] + ["--quarantine", "--format", "jsonl", volume],
        "jsonl, no db": crawl[:2] + ["--quarantine", "--format", "jsonl", "--mac-root", empty, volume],
    }
    times = {name: [] for name in commands}
    lines = {}
    for _ in range(args.rounds):
        for name, command in commands.items():
            elapsed, count = timed(command)
            times[name].append(elapsed)
            lines[name] = count
    for name in commands:
        print("%-14s median %.3f s  (%d lines; min %.3f, max %.3f)" % (
            name, statistics.median(times[name]), lines[name], min(times[name]), max(times[name])))
    with_db = statistics.median(times["jsonl"])
    print("with databases / without: %.3f" % (with_db / statistics.median(times["jsonl, no db"])))
    print("jsonl with databases / csv: %.3f" % (with_db / statistics.median(times["csv"])))


if __name__ == "__main__":
    main()
