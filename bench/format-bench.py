#!/usr/bin/env python3
"""Output format benchmark, run by hand (never by the test suite).

Times `quellmark-cli crawl --quarantine` on one tree with CSV output and with each of the
other formats (JSON Lines by default), warm cache, several rounds, and prints the medians of
wall and CPU time and each format's ratio to CSV. The goal: JSON Lines at most 1.1x CSV.

The tree (made once, kept): 50,000 empty files in 100 folders, 5,000 of them carrying
user.com.apple.quarantine or user.com.apple.provenance (half each, some both).

  bench/format-bench.py --build build [--tree /tmp/j50] [--rounds 15] [--formats jsonl,timeline]
"""
import argparse, importlib.util, os, random, sys

here = os.path.dirname(os.path.abspath(__file__))
loader_spec = importlib.util.spec_from_file_location("crawl_bench", os.path.join(here, "crawl-bench.py"))
crawl_bench = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(crawl_bench)


def make_tree(root, folders=100, files=500, marked=5000):
    rng = random.Random(4242)
    paths = []
    for d in range(folders):
        folder = os.path.join(root, "d%03d" % d)
        os.makedirs(folder)
        for f in range(files):
            path = os.path.join(folder, "f%05d.dat" % f)
            open(path, "wb").close()
            paths.append(path)
    for i, path in enumerate(rng.sample(paths, marked)):
        if i % 2 == 0 or i % 7 == 0:
            os.setxattr(path, crawl_bench.QUARANTINE, b"0083;65a1b2c3;Browser;%08X" % i, follow_symlinks=False)
        if i % 2 == 1 or i % 7 == 0:
            os.setxattr(path, crawl_bench.PROVENANCE, bytes([1, 2, 0]) + rng.randbytes(8), follow_symlinks=False)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder holding bin/quellmark-cli")
    parser.add_argument("--tree", default="/tmp/j50", help="the tree to crawl (made when missing)")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--formats", default="jsonl", help="formats to compare with csv, comma-separated")
    args = parser.parse_args()

    cli = os.path.abspath(os.path.join(args.build, "bin", "quellmark-cli"))
    if not os.path.isdir(args.tree):
        print("making", args.tree, file=sys.stderr)
        make_tree(args.tree)
    entries = crawl_bench.count_entries(args.tree)
    formats = ["csv"] + [f for f in args.formats.split(",") if f and f != "csv"]
    commands = {f: "%s crawl --quarantine --format %s %s" % (cli, f, args.tree) for f in formats}
    results = crawl_bench.measure(list(commands.values()), args.rounds)
    base_wall, base_cpu = results[commands["csv"]]
    print("%s, %d entries, %d rounds, medians" % (args.tree, entries, args.rounds))
    print("%-10s %10s %10s %10s %10s" % ("format", "wall ms", "cpu ms", "x csv wall", "x csv cpu"))
    for f, command in commands.items():
        wall, cpu = results[command]
        print("%-10s %10.1f %10.1f %10.2f %10.2f" % (f, wall * 1e3, cpu * 1e3, wall / base_wall, cpu / base_cpu))
    print("\ncommand: %s crawl --quarantine --format FORMAT %s" % (cli, args.tree))


if __name__ == "__main__":
    main()
