#!/usr/bin/env python3
"""Photographs the Windows build's report box under Wine, for the README.

    python3 docs/screenshot_report_box.py build/windows/id3v23fix.exe docs/report-box.png

Needs what the Windows tests need (Wine, Xvfb, a Japanese font) and xwd
(Debian's x11-apps). Starts its own session in a scratch folder, runs the
executable on a file that does not exist, waits for the box to be drawn,
and writes the part of the screen that holds it as a PNG. Standard library only.
"""

import os
import struct
import subprocess
import sys
import tempfile
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SESSION = os.path.join(HERE, "..", "tests", "wine", "session.sh")
MISSING = r"C:\Music\曲.mp3"


def capture(display):
    """The screen as rows of (r, g, b) tuples, from xwd's ZPixmap dump."""
    data = subprocess.run(["xwd", "-root", "-silent", "-display", display],
                          check=True, capture_output=True).stdout
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, colours = fields[7], fields[11], fields[12], fields[19]
    pixels = data[header_size + 12 * colours:]
    step = bits_per_pixel // 8
    order = "little" if byte_order == 0 else "big"
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:(y + 1) * bytes_per_line]
        row = []
        for x in range(width):
            value = int.from_bytes(line[step * x:step * x + step], order)
            row.append(((value >> 16) & 255, (value >> 8) & 255, value & 255))
        rows.append(row)
    return rows


def drawn_area(rows, margin=8):
    """The box around everything that is not the black backdrop, or None."""
    lit = [(x, y) for y, row in enumerate(rows) for x, pixel in enumerate(row) if pixel != (0, 0, 0)]
    if not lit:
        return None
    xs = [x for x, _ in lit]
    ys = [y for _, y in lit]
    return (max(min(xs) - margin, 0), max(min(ys) - margin, 0),
            min(max(xs) + margin, len(rows[0]) - 1), min(max(ys) + margin, len(rows) - 1))


def write_png(path, rows, area):
    left, top, right, bottom = area
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row[left:right + 1])
                   for row in rows[top:bottom + 1])

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    header = struct.pack(">IIBBBBB", right - left + 1, bottom - top + 1, 8, 2, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
                  + chunk(b"IEND", b""))


def main(executable, picture):
    with tempfile.TemporaryDirectory() as state:
        subprocess.run(["sh", SESSION, "start", state], check=True)
        try:
            with open(os.path.join(state, "display")) as number:
                display = ":" + number.read().strip()
            environment = dict(os.environ, DISPLAY=display, WINEPREFIX=os.path.join(state, "prefix"),
                               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
            subprocess.Popen(["wine", executable, MISSING], env=environment)
            previous = None
            for _ in range(100):  # the box is done when two looks agree
                time.sleep(0.5)
                rows = capture(display)
                if drawn_area(rows) and rows == previous:
                    write_png(picture, rows, drawn_area(rows))
                    return
                previous = rows
            sys.exit("no report box appeared")
        finally:
            subprocess.run(["sh", SESSION, "stop", state], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
