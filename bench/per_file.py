#!/usr/bin/python3
"""Per-file cost of the repair, against its physical limit and its peers.

    python3 bench/per_file.py [--quick]

Builds the release binary (cmake --preset release) and a minimal C program
that only opens, reads four bytes, writes four bytes and closes; then times
one run on one file with hyperfine, for files of 1 KiB, 100 MiB and 4 GiB
(sparse), of: the tool, the minimal program, /bin/true, the shell way
(head -c3 and dd conv=notrunc), and the peers that can relabel a tag as
v2.3 where installed (eyeD3 --to-v2.3; mutagen saving with v2_version=3,
since mid3v2 1.46 writes v2.4 only; id3lib's id3v2 rewriting a frame).
Prints a markdown table of medians with each one's ratio to the minimal
program, peak memory, and instructions counted by callgrind, and writes
docs/bench-per-file.svg, time against file size. Then the batch: the
README's folder pipeline over 10,000 small tagged files, against the shell
way and mutagen reading them. Needs hyperfine and valgrind (Debian).
"""

import json
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
BENCH_BUILD = os.path.join(ROOT, "build", "bench")
SIZES = [("1 KiB", 1 << 10), ("100 MiB", 100 << 20), ("4 GiB", 4 << 30)]
QUICK = "--quick" in sys.argv

# A v2.3 tag stamped 4, with padding enough for every peer to rewrite it in
# place, so that none of them has to copy the audio.
FRAMES = b"".join(
    name + len(body).to_bytes(4, "big") + b"\x00\x00" + body
    for name, body in [(b"TIT2", b"\x00id3v23fix bench"), (b"TPE1", b"\x00Nobody"),
                       (b"TALB", b"\x00Figures")])
PADDING = 4096


def synchsafe(size):
    return bytes((size >> shift) & 0x7F for shift in (21, 14, 7, 0))


def tag(frames):
    return b"ID3\x04\x00\x00" + synchsafe(len(frames) + PADDING) + frames + b"\x00" * PADDING


# Its frames are all under 128 bytes, where both layouts agree, so that a
# peer reading the stamp 4 still reads the tag right.
TAG = tag(FRAMES)
# With a comment of 300 bytes, only the v2.3 reading holds: the scanner
# tells the file as mislabelled and the pipeline repairs it.
COMMENT = b"\x00eng\x00" + b"x" * 295
MISLABELLED_TAG = tag(FRAMES + b"COMM" + len(COMMENT).to_bytes(4, "big") + b"\x00\x00" + COMMENT)


def run(argv, **options):
    return subprocess.run(argv, check=True, **options)


def build():
    run(["cmake", "--preset", "release"], cwd=ROOT, stdout=subprocess.DEVNULL)
    run(["cmake", "--build", "--preset", "release", "--target", "id3v23fix", "id3v23scan"],
        cwd=ROOT, stdout=subprocess.DEVNULL)
    os.makedirs(BENCH_BUILD, exist_ok=True)
    minimal = os.path.join(BENCH_BUILD, "minimal")
    # Static, as the tool is: both then start without the dynamic loader.
    run(["cc", "-O2", "-static", "-o", minimal, os.path.join(ROOT, "bench", "minimal.c")])
    return os.path.join(BUILD, "id3v23fix"), os.path.join(BUILD, "id3v23scan"), minimal


def make_file(path, size):
    with open(path, "wb") as out:
        out.write(TAG)
        out.write(bytes(range(256)) * 2)
        out.truncate(size)  # the rest a hole, where the file system has them


def commands(tool, minimal, path):
    """(name, shell-free command line, runs); None where the peer is missing."""
    shell_way = ("sh -c 'test \"$(head -c3 \"$0\")\" = ID3 && "
                 "printf \"\\\\003\" | dd of=\"$0\" bs=1 seek=3 count=1 conv=notrunc status=none' " + path)
    mutagen = ("/usr/bin/python3 -c 'import sys; from mutagen.id3 import ID3; "
               "ID3(sys.argv[1]).save(v2_version=3)' " + path)
    peers = [
        ("eyeD3 --to-v2.3", "eyeD3", f"eyeD3 --quiet --to-v2.3 {path}"),
        ("mutagen save(v2_version=3)", "/usr/bin/python3", mutagen),
        ("id3v2 (id3lib) -t", "id3v2", f"id3v2 -t 'id3v23fix bench' {path}"),
    ]
    fast = 300 if not QUICK else 50
    slow = 10 if not QUICK else 3
    listed = [
        ("id3v23fix", f"{tool} {path}", fast),
        ("minimal C", f"{minimal} {path}", fast),
        ("/bin/true", f"/bin/true {path}", fast),
        ("shell: head -c3, dd", shell_way, fast // 3),
    ]
    for name, program, line in peers:
        listed.append((name, line, slow) if shutil.which(program) else None)
    return listed


def stamp_4(path):
    """A shell-free command that stamps the file's tag 4 again."""
    return ("sh -c 'printf \"\\\\004\" | dd of=\"$0\" bs=1 seek=3 count=1 conv=notrunc status=none' "
            + path)


def hyperfine_times(line, runs, scratch, path):
    """Seconds of each of `runs` runs of `line`, on the file stamped 4 afresh."""
    export = os.path.join(scratch, "hyperfine.json")
    run(["hyperfine", "-N", "--style", "none", "--warmup", "3", "--runs", str(runs),
         "--prepare", stamp_4(path), "--export-json", export, line], stdout=subprocess.DEVNULL)
    with open(export) as results:
        return json.load(results)["results"][0]["times"]


def peak_memory_and_faults(line):
    """Peak resident KiB and minor page faults of one run, by GNU time: a
    parent much smaller than this script, whose size a child would
    otherwise report as its own."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M %R"] + shlex.split(line),
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    peak, faults = result.stderr.strip().splitlines()[-1].split()
    return int(peak), int(faults)


def instructions(line):
    """Instructions of one run, from callgrind (repeatable, unlike time)."""
    result = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"]
                            + shlex.split(line), capture_output=True, text=True)
    found = re.search(r"Collected : (\d+)", result.stderr)
    return int(found.group(1)) if found else None


def per_file(tool, minimal, scratch):
    """Median ms of every command on every size. The fast commands are timed
    in rounds that take turns over commands and sizes alike, so that a
    drift of the machine's speed falls on all of them, not on one size."""
    paths = {}
    for label, size in SIZES:
        paths[label] = os.path.join(scratch, f"song-{label.replace(' ', '')}.mp3")
        make_file(paths[label], size)
    entries = {label: [e for e in commands(tool, minimal, paths[label]) if e is not None]
               for label, _ in SIZES}
    times = {}  # (name, label) -> seconds of each run
    rounds = 5
    for _ in range(rounds):
        for label, _ in SIZES:
            for name, line, runs in entries[label]:
                if runs >= 50:
                    times.setdefault((name, label), []).extend(
                        hyperfine_times(line, runs // rounds, scratch, paths[label]))
    for label, _ in SIZES:
        for name, line, runs in entries[label]:
            if runs < 50:
                times[(name, label)] = hyperfine_times(line, runs, scratch, paths[label])
    table = {}  # name -> {size label: median ms}
    for (name, label), seconds in times.items():
        table.setdefault(name, {})[label] = statistics.median(seconds) * 1000
    table = {name: table[name] for name, _, _ in entries[SIZES[0][0]]}  # in the listed order

    extra = {}  # name -> (peak KiB, page faults, instructions) on the 1 KiB file
    for label, _ in SIZES:
        for name, line, runs in entries[label]:
            run(shlex.split(stamp_4(paths[label])))
            run(shlex.split(line), stdout=subprocess.DEVNULL)
            with open(paths[label], "rb") as song:
                if name != "/bin/true" and song.read(4) != b"ID3\x03":
                    sys.exit(f"{name} did not relabel the tag")
            if label == SIZES[0][0]:
                peak, faults = peak_memory_and_faults(line)
                extra[name] = (peak, faults, instructions(line) if runs >= 50 else None)
            print(f"  {name:28} {label:8} {table[name][label]:10.3f} ms", file=sys.stderr)
    for path in paths.values():
        os.remove(path)
    return table, extra


def print_table(table, extra):
    base = table["minimal C"]
    labels = [label for label, _ in SIZES]
    print("| command | " + " | ".join(f"{l} median (ms)" for l in labels)
          + " | ratio to minimal C (1 KiB / 4 GiB) | peak memory (KiB) | page faults | instructions (callgrind) |")
    print("|---|" + "---:|" * len(labels) + "---:|---:|---:|---:|")
    for name, medians in table.items():
        cells = [f"{medians[l]:.3f}" for l in labels]
        ratio = f"{medians[labels[0]] / base[labels[0]]:.2f} / {medians[labels[-1]] / base[labels[-1]]:.2f}"
        peak, faults, counted = extra[name]
        print(f"| {name} | " + " | ".join(cells) + f" | {ratio} | {peak} | {faults} | "
              + (f"{counted:,}" if counted else "–") + " |")
    tool = table["id3v23fix"]
    print()
    print(f"id3v23fix / minimal C (1 KiB): {tool[labels[0]] / base[labels[0]]:.3f}; "
          f"id3v23fix / /bin/true: {tool[labels[0]] / table['/bin/true'][labels[0]]:.3f}; "
          f"id3v23fix 4 GiB / 1 KiB: {tool[labels[-1]] / tool[labels[0]]:.3f}")


def svg_plot(table, path):
    """Median time against file size, both on log scales, as a small SVG."""
    import math
    width, height, left, bottom, top, right = 720, 420, 70, 50, 20, 230
    xs = [math.log10(size) for _, size in SIZES]
    values = [v for medians in table.values() for v in medians.values()]
    low, high = math.floor(math.log10(min(values))), math.ceil(math.log10(max(values)))
    plot_w, plot_h = width - left - right, height - top - bottom

    def px(x):
        return left + (x - xs[0]) / (xs[-1] - xs[0]) * plot_w

    def py(ms):
        return top + (high - math.log10(ms)) / (high - low) * plot_h

    colours = ["#d62728", "#1f77b4", "#7f7f7f", "#ff7f0e", "#2ca02c", "#9467bd", "#8c564b"]
    parts = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
             f'font-family="sans-serif" font-size="12">',
             f'<rect width="{width}" height="{height}" fill="white"/>']
    for decade in range(low, high + 1):
        y = py(10 ** decade)
        parts.append(f'<line x1="{left}" y1="{y:.1f}" x2="{left + plot_w}" y2="{y:.1f}" stroke="#ddd"/>')
        parts.append(f'<text x="{left - 8}" y="{y + 4:.1f}" text-anchor="end">{10 ** decade:g} ms</text>')
    for (label, _), x in zip(SIZES, xs):
        parts.append(f'<text x="{px(x):.1f}" y="{top + plot_h + 20}" text-anchor="middle">{label}</text>')
    parts.append(f'<text x="{left + plot_w / 2}" y="{height - 8}" text-anchor="middle">file size (log scale)</text>')
    parts.append(f'<rect x="{left}" y="{top}" width="{plot_w}" height="{plot_h}" fill="none" stroke="#333"/>')
    # Drawn last to first, so that the tool's line lies on top of the limit's.
    for i, (name, medians) in reversed(list(enumerate(table.items()))):
        colour = colours[i % len(colours)]
        points = " ".join(f"{px(x):.1f},{py(medians[label]):.1f}" for (label, _), x in zip(SIZES, xs))
        parts.append(f'<polyline points="{points}" fill="none" stroke="{colour}" stroke-width="2"/>')
        for point in points.split():
            cx, cy = point.split(",")
            parts.append(f'<circle cx="{cx}" cy="{cy}" r="3" fill="{colour}"/>')
        ly = top + 14 + 18 * i
        parts.append(f'<line x1="{width - right + 15}" y1="{ly - 4}" x2="{width - right + 35}" y2="{ly - 4}" '
                     f'stroke="{colour}" stroke-width="2"/>')
        parts.append(f'<text x="{width - right + 40}" y="{ly}">{name}</text>')
    parts.append("</svg>")
    with open(path, "w") as out:
        out.write("\n".join(parts) + "\n")


def walker_script(scratch, name, imports, action):
    """A command that runs `action` (Python, on `path`) for every file below
    the folder given after it."""
    script = os.path.join(scratch, name)
    body = "".join("        " + line + "\n" for line in action.splitlines())
    with open(script, "w") as out:
        out.write(f"import os, sys\n{imports}\n"
                  "for folder, _, names in os.walk(sys.argv[1]):\n"
                  "    for name in names:\n"
                  "        path = os.path.join(folder, name)\n" + body)
    return f"/usr/bin/python3 {script}"


def batch(tool, scanner, scratch):
    """Files a second over 10,000 small tagged files, every one mislabelled."""
    count = 10000 if not QUICK else 1000
    folder = os.path.join(scratch, "Music")
    for i in range(count):
        sub = os.path.join(folder, f"{i // 500:03}")
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, f"{i:05} song.mp3"), "wb") as out:
            out.write(MISLABELLED_TAG + bytes(range(256)) * 4)
    # Each timed run starts from the same mislabelled files; the relabelling
    # is not timed.
    relabel = walker_script(scratch, "relabel.py", "",
                            "with open(path, 'r+b') as song:\n    song.seek(3)\n    song.write(bytes([4]))")
    relabel = f"{relabel} {folder}"
    mutagen = f"{walker_script(scratch, 'read_all.py', 'from mutagen.id3 import ID3', 'ID3(path)')} {folder}"
    pipeline = f"sh -c '{scanner} -0 -r \"$0\" | xargs -0 -n1 {tool}' {folder}"
    shell_way = ("sh -c 'find \"$0\" -type f | while IFS= read -r f; do "
                 "test \"$(head -c3 \"$f\")\" = ID3 && printf \"\\\\003\" | "
                 "dd of=\"$f\" bs=1 seek=3 count=1 conv=notrunc status=none; done' " + folder)
    rows = []
    for name, line, runs in [("id3v23scan \\| xargs id3v23fix (README)", pipeline, 5),
                             ("shell: find, head -c3, dd", shell_way, 3),
                             ("mutagen reading each (one process)", mutagen, 5)]:
        export = os.path.join(scratch, "batch.json")
        run(["hyperfine", "-N", "--style", "none", "--runs", str(runs), "--prepare", relabel,
             "--export-json", export, line], stdout=subprocess.DEVNULL)
        with open(export) as results:
            seconds = statistics.median(json.load(results)["results"][0]["times"])
        rows.append((name, seconds, count / seconds))
        print(f"  {name:40} {seconds:8.3f} s", file=sys.stderr)
    print()
    print(f"| batch over {count:,} tagged files | median (s) | files per second |")
    print("|---|---:|---:|")
    for name, seconds, rate in rows:
        print(f"| {name} | {seconds:.3f} | {rate:,.0f} |")


def main():
    missing = [name for name in ("hyperfine", "valgrind", "cmake", "cc", "/usr/bin/time")
               if not shutil.which(name)]
    if missing:
        sys.exit("missing: " + ", ".join(missing) + " (sudo apt-get install hyperfine valgrind time)")
    tool, scanner, minimal = build()
    with tempfile.TemporaryDirectory(dir=os.path.join(ROOT, "build")) as scratch:
        table, extra = per_file(tool, minimal, scratch)
        print_table(table, extra)
        svg_plot(table, os.path.join(ROOT, "docs", "bench-per-file.svg"))
        print("\nplot: docs/bench-per-file.svg")
        batch(tool, scanner, scratch)


if __name__ == "__main__":
    main()
