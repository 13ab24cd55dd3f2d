#!/usr/bin/env python3
"""Disk image crawl benchmark, run by hand (never by the test suite).

Writes an APFS container with the test writer (tests/support/apfs-image.py --entries N,
200,000 by default; kept in the work folder for later runs), then runs in turn, for several
rounds after a warm-up, and prints medians of wall and CPU time and the ratio:

  quellmark-cli crawl --quarantine IMAGE     every volume, both attributes of every entry read
  fls -r -p -B BLOCK IMAGE                   Sleuth Kit's listing, once per volume of the container

  bench/image-bench.py --build build-bench [--work /tmp/quellmark-image-bench] [--rounds 9]

--wrap e01 (ewfacquire, fast deflate, 64 MiB segments) or --wrap vmdk (qemu-img, a sparse
extent) crawls the same container wrapped as the analysts get it; both programs read the wrapper.
"""
import argparse, os, re, resource, statistics, subprocess, sys, time

HERE = os.path.dirname(os.path.abspath(__file__))
WRITER = os.path.join(HERE, "..", "tests", "support", "apfs-image.py")


def volume_blocks(image):
    """The superblock of every volume in the container, as pstat shows them."""
    out = subprocess.run(["pstat", image], capture_output=True, text=True, check=True).stdout
    return [int(b) for b in re.findall(r"APSB Block Number: (\d+)", out)]


def run_once(commands):
    """Runs the commands one after the other; returns (wall s, CPU s, lines written)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    lines = 0
    for command in commands:
        done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
        if done.returncode != 0:
            sys.exit("failed (%d): %s" % (done.returncode, " ".join(command)))
        lines += done.stdout.count(b"\n")
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime), lines


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build", help="build folder holding bin/quellmark-cli")
    parser.add_argument("--work", default="/tmp/quellmark-image-bench", help="where the image is written and kept")
    parser.add_argument("--entries", type=int, default=200_000)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--wrap", choices=["raw", "e01", "vmdk"], default="raw")
    args = parser.parse_args()

    cli = os.path.abspath(os.path.join(args.build, "bin", "quellmark-cli"))
    os.makedirs(args.work, exist_ok=True)
    image = os.path.join(args.work, "apfs-%d.img" % args.entries)
    if not os.path.exists(image):
        print("writing", image, file=sys.stderr)
        subprocess.run([sys.executable, WRITER, image, "--entries", str(args.entries)], check=True)
    blocks = volume_blocks(image)
    if args.wrap != "raw":
        wrapped = image[:-4] + (".E01" if args.wrap == "e01" else ".vmdk")
        if not os.path.exists(wrapped):
            print("writing", wrapped, file=sys.stderr)
            subprocess.run(["ewfacquire", "-u", "-q", "-c", "fast", "-S", "64MiB", "-t", wrapped[:-4], image]
                           if args.wrap == "e01" else ["qemu-img", "convert", "-O", "vmdk", image, wrapped],
                           check=True, stdout=subprocess.DEVNULL)
        image = wrapped
    runs = {
        "quellmark-cli crawl": [[cli, "crawl", "--quarantine", image]],
        "fls -r -p": [["fls", "-r", "-p", "-B", str(b), image] for b in blocks],
    }
    samples = {name: [] for name in runs}
    lines = {}
    for round in range(1 + args.rounds):
        for name, commands in runs.items():
            wall, cpu, lines[name] = run_once(commands)
            if round > 0:  # the first round warms the page cache
                samples[name].append((wall, cpu))
    print("%s: %d entries written, %d rounds, medians" % (image, args.entries, args.rounds))
    print("%-22s %9s %9s %9s" % ("command", "wall ms", "cpu ms", "lines"))
    medians = {}
    for name, values in samples.items():
        medians[name] = (statistics.median(v[0] for v in values), statistics.median(v[1] for v in values))
        print("%-22s %9.0f %9.0f %9d" % (name, medians[name][0] * 1000, medians[name][1] * 1000, lines[name]))
    crawl, fls = medians["quellmark-cli crawl"], medians["fls -r -p"]
    print("ratio crawl / fls: wall %.2fx, cpu %.2fx" % (crawl[0] / fls[0], crawl[1] / fls[1]))


if __name__ == "__main__":
    main()
