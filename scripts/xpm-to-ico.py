#!/usr/bin/env python3
"""Turns a 16x16 XPM drawing into a 16-colour Windows icon (.ico).

Usage: xpm-to-ico.py input.xpm output.ico
Colours are taken to the nearest of the standard 16-colour palette; "None"
is transparent.
"""
import re
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def nearest(rgb):
    return min(range(16), key=lambda i: sum((a - b) ** 2 for a, b in zip(PALETTE[i], rgb)))


def read_xpm(path):
    strings = re.findall(r'"([^"]*)"', open(path).read())
    width, height, count, per = (int(v) for v in strings[0].split()[:4])
    if (width, height, per) != (16, 16, 1):
        sys.exit(f"{path}: a 16x16 drawing with one character per pixel is needed")
    colours = {}
    for line in strings[1:1 + count]:
        key, _, value = line[0], line[1:].split()[0], line[1:].split()[1]
        colours[key] = None if value.lower() == "none" else nearest(
            tuple(int(value[i:i + 2], 16) for i in (1, 3, 5)))
    rows = strings[1 + count:1 + count + height]
    if len(rows) != 16 or any(len(r) != 16 for r in rows):
        sys.exit(f"{path}: 16 rows of 16 pixels are needed")
    return [[colours[c] for c in row] for row in rows]


def ico(pixels):
    colour_rows = b""
    mask_rows = b""
    for row in reversed(pixels):  # bottom-up
        indices = [0 if p is None else p for p in row]
        colour_rows += bytes((indices[i] << 4) | indices[i + 1] for i in range(0, 16, 2))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        mask_rows += struct.pack(">H", bits) + b"\0\0"  # rows padded to 32 bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, len(colour_rows) + len(mask_rows), 0, 0, 16, 0)
    image = header + palette + colour_rows + mask_rows
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 16, 0, 1, 4, len(image), 22)
    return directory + image


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    data = ico(read_xpm(sys.argv[1]))
    with open(sys.argv[2], "wb") as out:
        out.write(data)
