#!/usr/bin/env python3
"""Draws the application icon: a luggage tag with a note and a 3 on it.

Writes a .ico with one image, 32 by 32 pixels in the 16 standard colours.
With --preview, also writes the picture eight times enlarged as a PNG.
Standard library only.

    python3 res/draw_icon.py res/id3v23fix.ico [--preview icon.png]
"""

import struct
import sys
import zlib

SIZE = 32

# The 16 colours every Windows display has, in their usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, OLIVE, NAVY, RED, YELLOW = 0, 3, 4, 9, 11
CLEAR = None  # shows what lies beneath

DIGIT_3 = [
    "#####",
    "....#",
    "...#.",
    "..##.",
    "....#",
    "#...#",
    ".###.",
]


def on_tag(x, y):
    """The tag: a card from row 6 to 25 whose left end comes to a point."""
    return 6 <= y <= 25 and x <= 29 and x >= abs(2 * y - 31) / 2 + 0.5


def in_hole(x, y):
    return (x - 7) ** 2 + (y - 15.5) ** 2 < 2.6


def on_note(x, y):
    head = ((x - 14.5) / 3.2) ** 2 + ((y - 20.5) / 2.3) ** 2 <= 1
    stem = 17 <= x <= 18 and 9 <= y <= 20
    flag = 19 <= x <= 22 and 9 <= y <= 14 and x - 19 >= (y - 9) * 0.5 and x - 19 <= (y - 9) * 0.5 + 1.5
    return head or stem or flag


def on_digit(x, y):
    row, column = y - 16, x - 23
    return 0 <= row < len(DIGIT_3) and 0 <= column < 5 and DIGIT_3[row][column] == "#"


def draw():
    """Rows from the top, each pixel a palette index or CLEAR."""
    def solid(x, y):
        return on_tag(x, y) and not in_hole(x, y)

    picture = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            if not solid(x, y):
                row.append(CLEAR)
            elif not all(solid(x + dx, y + dy) for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                row.append(BLACK)
            elif on_note(x, y):
                row.append(NAVY)
            elif on_digit(x, y):
                row.append(RED)
            elif not on_tag(x + 1, y + 1) or not on_tag(x + 2, y + 2):
                row.append(OLIVE)  # the shaded lower edge
            else:
                row.append(YELLOW)
        picture.append(row)
    return picture


def ico_bytes(picture):
    """One 4-bit image: header, palette, colour rows and mask rows, bottom up."""
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    pixels = b""
    mask = b""
    for row in reversed(picture):
        indices = [BLACK if p is CLEAR else p for p in row]
        pixels += bytes(indices[i] << 4 | indices[i + 1] for i in range(0, SIZE, 2))
        bits = "".join("1" if p is CLEAR else "0" for p in row)
        mask += int(bits, 2).to_bytes(SIZE // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + colours + pixels + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def png_bytes(picture, scale=8):
    backdrop = (0xE0, 0xE8, 0xF0)
    rows = b""
    for row in picture:
        line = b"".join(bytes(backdrop if p is CLEAR else PALETTE[p]) * scale for p in row)
        rows += (b"\x00" + line) * scale

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    size = SIZE * scale
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(arguments):
    if len(arguments) not in (1, 3) or (len(arguments) == 3 and arguments[1] != "--preview"):
        sys.exit(__doc__)
    picture = draw()
    with open(arguments[0], "wb") as out:
        out.write(ico_bytes(picture))
    if len(arguments) == 3:
        with open(arguments[2], "wb") as out:
            out.write(png_bytes(picture))


if __name__ == "__main__":
    main(sys.argv[1:])
