#!/usr/bin/python3
"""Files per second: id3v23scan over a folder of small tagged files, against
python3-mutagen reading the same files, both with a warm cache.

Usage: scan_throughput.py SCANNER [FILES] [RUNS]   (defaults: 10000 files, 5 runs)
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import scan_test  # noqa: E402  (the tag generator of the tests)

import mutagen.id3  # noqa: E402


def make_folder(root, count):
    kinds = [scan_test.tag(4, "2.3", scan_test.LARGE), scan_test.tag(4, "2.4", scan_test.LARGE),
             scan_test.tag(3, "2.3", scan_test.SMALL, padding=256)]
    for i in range(count):
        folder = os.path.join(root, f"{i // 500:03}")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, f"{i:05}.mp3"), "wb") as out:
            out.write(kinds[i % len(kinds)] + scan_test.AUDIO)


def scanner_seconds(scanner, root):
    start = time.perf_counter()
    subprocess.run([scanner, "-r", root], stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def mutagen_seconds(paths):
    start = time.perf_counter()
    for path in paths:
        mutagen.id3.ID3(path)
    return time.perf_counter() - start


def main():
    scanner = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    root = tempfile.mkdtemp(prefix="scan-bench-")
    try:
        make_folder(root, count)
        paths = sorted(os.path.join(d, f) for d, _, files in os.walk(root) for f in files)
        scanner_seconds(scanner, root)  # warm the cache
        scan = statistics.median(scanner_seconds(scanner, root) for _ in range(runs))
        reads = statistics.median(mutagen_seconds(paths) for _ in range(runs))
        print(f"| reader ({count} files, median of {runs}) | seconds | files/s |")
        print("|---|---:|---:|")
        print(f"| id3v23scan -r | {scan:.3f} | {count / scan:,.0f} |")
        print(f"| mutagen ID3() per file, one process | {reads:.3f} | {count / reads:,.0f} |")
        print(f"\nid3v23scan is {reads / scan:.1f} times as fast as mutagen")
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()
