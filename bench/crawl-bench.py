#!/usr/bin/env python3
"""Folder crawl benchmark, run by hand (never by the test suite).

Builds two synthetic trees once (kept in the work folder for later runs):
  shallow: 200,000 entries, 10,000 folders up to 8 deep, 1% dangling symbolic links,
           5% of entries with user.com.apple.provenance, 5% with user.com.apple.quarantine;
  deep:    a chain of 48 folders with 100 folders of 1,000 files at its bottom (files
           about 50 levels down), the same 5% / 5%.
then runs every command once per round, in turn, for several rounds (warm cache) and
prints medians and ratios: quellmark-cli crawl --quarantine with one thread and with the
default thread count, getfattr -R (package attr), find, and optionally a floor walker
given with --xw (run as "xw at-list [-j N] ROOT").

When the build has the window measurement tool (-DQUELLMARK_BUILD_BENCH=ON), it also
crawls the shallow tree in the crawl window (offscreen) and compares with the command line.

  bench/crawl-bench.py --build build [--work /tmp/quellmark-bench] [--rounds 15] [--xw PATH]
"""
import argparse, os, random, resource, shlex, statistics, subprocess, sys, time

PROVENANCE = "user.com.apple.provenance"
QUARANTINE = "user.com.apple.quarantine"


def make_shallow(root, total=200_000, folders=10_000, max_depth=8, link_fraction=0.01):
    rng = random.Random(12345)
    os.makedirs(root)
    dirs = [(root, 0)]
    eligible = [0]
    for i in range(folders - 1):
        # Prefer recent folders a little, so the depth fills up.
        parent = eligible[int(len(eligible) * (1 - rng.random() ** 2))] if rng.random() < 0.7 else rng.choice(eligible)
        path, depth = dirs[parent]
        path = os.path.join(path, "dir_%05d" % i)
        os.mkdir(path)
        dirs.append((path, depth + 1))
        if depth + 1 < max_depth:
            eligible.append(len(dirs) - 1)
    rest = total - folders
    links = int(rest * link_fraction)
    entries = [p for p, _ in dirs[1:]]
    for i in range(rest):
        folder, _ = dirs[rng.randrange(len(dirs))]
        if i < links:
            os.symlink("../target_%d" % i, os.path.join(folder, "link_%06d" % i))
        else:
            path = os.path.join(folder, "file_%06d.dat" % i)
            open(path, "wb").close()
            entries.append(path)
    mark(rng, entries, total)


def make_deep(root, chain=48, buckets=100, files=1000):
    rng = random.Random(777)
    path = root
    os.makedirs(path)
    for i in range(chain):
        path = os.path.join(path, "level_%02d" % i)
        os.mkdir(path)
    entries = []
    for b in range(buckets):
        bucket = os.path.join(path, "bucket_%03d" % b)
        os.mkdir(bucket)
        entries.append(bucket)
        for f in range(files):
            file = os.path.join(bucket, "file_%05d.dat" % f)
            open(file, "wb").close()
            entries.append(file)
    mark(rng, entries, len(entries) + chain)


def mark(rng, entries, total):
    for p in rng.sample(entries, total // 20):
        os.setxattr(p, PROVENANCE, bytes([1, 2, 0]) + rng.randbytes(8), follow_symlinks=False)
    for p in rng.sample(entries, total // 20):
        os.setxattr(p, QUARANTINE, b"0083;65a1b2c3;Browser;1F2E3D4C", follow_symlinks=False)


def count_entries(root):
    n = 0
    for _, dirnames, filenames in os.walk(root):
        n += len(dirnames) + len(filenames)
    return n


def measure(commands, rounds, warmup=2):
    wall = {c: [] for c in commands}
    cpu = {c: [] for c in commands}
    for r in range(warmup + rounds):
        for c in commands:
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run(shlex.split(c), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
            elapsed = time.perf_counter() - start
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            if r >= warmup:
                wall[c].append(elapsed)
                cpu[c].append((after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime))
    return {c: (statistics.median(wall[c]), statistics.median(cpu[c])) for c in commands}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder holding bin/quellmark-cli")
    parser.add_argument("--work", default="/tmp/quellmark-bench", help="where the trees are made and kept")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--threads", type=int, default=0, help="the default thread count to compare (0: nproc)")
    parser.add_argument("--xw", help="floor walker binary (optional)")
    args = parser.parse_args()

    cli = os.path.abspath(os.path.join(args.build, "bin", "quellmark-cli"))
    threads = args.threads or os.cpu_count()
    trees = {"shallow": (os.path.join(args.work, "t200k"), make_shallow),
             "deep": (os.path.join(args.work, "deep50"), make_deep)}
    per_entry = {}
    cli_default = {}
    for label, (root, make) in trees.items():
        if not os.path.isdir(root):
            print("making", root, file=sys.stderr)
            make(root)
        entries = count_entries(root)
        getfattr = "getfattr -R -P -h --absolute-names -m '^user\\.com\\.apple\\.' -d " + root
        commands = {
            "quellmark 1 thread": "%s crawl --quarantine --threads 1 %s" % (cli, root),
            "quellmark %d threads" % threads: "%s crawl --quarantine --threads %d %s" % (cli, threads, root),
            "getfattr": getfattr,
            "find": "find " + root,
        }
        if args.xw:
            commands["xw at-list"] = "%s at-list %s" % (args.xw, root)
            commands["xw at-list -j %d" % threads] = "%s at-list -j %d %s" % (args.xw, threads, root)
        results = measure(list(commands.values()), args.rounds)
        med = {name: results[cmd] for name, cmd in commands.items()}
        base = med["getfattr"][0]
        print("\n%s tree: %s, %d entries, %d rounds, medians" % (label, root, entries, args.rounds))
        print("%-22s %10s %10s %12s %10s %10s" % ("command", "wall ms", "cpu ms", "ns/entry", "x getfattr", "x floor"))
        for name, (wall, cpu) in med.items():
            floor = ""
            if args.xw and name.startswith("quellmark"):
                floor_name = "xw at-list" if "1 thread" in name else "xw at-list -j %d" % threads
                floor = "%.2f" % (wall / med[floor_name][0])
            print("%-22s %10.1f %10.1f %12.0f %10.2f %10s" % (name, wall * 1e3, cpu * 1e3, wall * 1e9 / entries,
                                                            wall / base, floor))
        per_entry[label] = {name: wall / entries for name, (wall, _) in med.items()}
        cli_default[label] = med["quellmark %d threads" % threads][0]
    if len(per_entry) == 2:
        print("\ncost per entry, deep / shallow:")
        for name in per_entry["shallow"]:
            print("  %-22s %.2f" % (name, per_entry["deep"][name] / per_entry["shallow"][name]))
    window = os.path.abspath(os.path.join(args.build, "bin", "quellmark-crawl-window-bench"))
    if os.path.exists(window):
        root = trees["shallow"][0]
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        out = subprocess.run([window, "--quarantine", "--rounds", str(args.rounds), root], env=env,
                             capture_output=True, text=True).stdout
        summary = [l for l in out.splitlines() if l.startswith("median crawl")]
        print("\ncrawl window, shallow tree (%s --quarantine --rounds %d ROOT):" % (window, args.rounds))
        print("  " + (summary[0] if summary else out))
        if summary:
            window_ms = float(summary[0].split()[2])
            print("  window / command line (default threads): %.2f" % (window_ms / (cli_default["shallow"] * 1e3)))
    print("\ncommands:")
    for label, (root, _) in trees.items():
        print("  %s crawl --quarantine [--threads N] %s" % (cli, root))
    print("  getfattr -R -P -h --absolute-names -m '^user\\.com\\.apple\\.' -d ROOT;  find ROOT")


if __name__ == "__main__":
    main()
