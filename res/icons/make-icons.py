#!/usr/bin/env python3
"""Draws the tray icons of BeaconVigilor as PNG files.

Every icon is a small computer screen on a stand, drawn on a 16 by 16 grid
and scaled to each size by rounding the grid lines, so that every edge
stays on a whole pixel. The same look is meant for every platform's icons.

  grid cells (x from left, y from top, end exclusive; background transparent)
    frame    x 1..15, y 1..12   rgb(48, 48, 48)    dark grey
    screen   x 2..14, y 2..11   the state's colour (below)
    neck     x 6..10, y 12..13  rgb(64, 64, 64)    grey
    foot     x 4..12, y 13..15  rgb(64, 64, 64)    grey

  state           file name          screen colour
    green         green-N.png        rgb(0, 200, 0)
    yellow        yellow-N.png       rgb(255, 220, 0)
    red           red-N.png          rgb(230, 0, 0)
    shutting down shutting-down-N.png  rgb(16, 16, 16), with 2 by 2 dots:
                  red at (3, 3) and (9, 8), yellow at (7, 4) and (12, 7),
                  green at (11, 3) and (4, 8)

usage: make-icons.py [DIRECTORY]      write the icons (default: beside this script)
       make-icons.py --check DIRECTORY  exit 1 unless the icons there show this drawing
       make-icons.py --ico STATE FILE   write one state as a Windows icon in the
                                        sizes that the system asks for at 100 to 300 %
"""

import struct
import sys
import zlib
from pathlib import Path

SIZES = (16, 22, 24, 32, 48, 64)
ICO_SIZES = (16, 20, 24, 32, 48)

FRAME = (48, 48, 48)
STAND = (64, 64, 64)
GREEN = (0, 200, 0)
YELLOW = (255, 220, 0)
RED = (230, 0, 0)
DARK = (16, 16, 16)

STATES = {
    "green": (GREEN, []),
    "yellow": (YELLOW, []),
    "red": (RED, []),
    "shutting-down": (DARK, [(3, 3, RED), (9, 8, RED), (7, 4, YELLOW), (12, 7, YELLOW),
                             (11, 3, GREEN), (4, 8, GREEN)]),
}


def cells(state):
    """The rectangles of one icon on the grid, drawn in this order."""
    screen, dots = STATES[state]
    shapes = [
        (1, 1, 15, 12, FRAME),
        (2, 2, 14, 11, screen),
        (6, 12, 10, 13, STAND),
        (4, 13, 12, 15, STAND),
    ]
    shapes += [(x, y, x + 2, y + 2, colour) for x, y, colour in dots]
    return shapes


def pixels(state, size):
    """Rows of RGBA bytes."""
    rows = [bytearray(4 * size) for _ in range(size)]

    def edge(grid):
        return (grid * size + 8) // 16

    for left, top, right, bottom, (r, g, b) in cells(state):
        for y in range(edge(top), edge(bottom)):
            for x in range(edge(left), edge(right)):
                rows[y][4 * x:4 * x + 4] = bytes((r, g, b, 255))
    return rows


def png(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def ico(state):
    """A .ico file with one 32-bit image (alpha and AND mask) per size."""
    images = []
    for size in ICO_SIZES:
        rows = pixels(state, size)
        colour = b"".join(bytes(v for x in range(size) for v in (row[4 * x + 2], row[4 * x + 1], row[4 * x],
                                                                 row[4 * x + 3])) for row in reversed(rows))
        stride = (size + 31) // 32 * 4
        mask = b""
        for row in reversed(rows):
            bits = 0
            for x in range(size):
                bits = (bits << 1) | (1 if row[4 * x + 3] == 0 else 0)
            bits <<= stride * 8 - size
            mask += bits.to_bytes(stride, "big")
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(colour) + len(mask), 0, 0, 0, 0)
        images.append((size, header + colour + mask))
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in images:
        directory += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return directory + b"".join(image for _, image in images)


def decoded(data):
    """Size and unfiltered rows of a PNG written by png(), or None."""
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        return None
    at = 8
    size = None
    compressed = b""
    while at + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if width != height or depth != 8 or colour != 6 or interlace != 0:
                return None
            size = width
        elif kind == b"IDAT":
            compressed += body
        at += 12 + length
    if size is None:
        return None
    raw = zlib.decompress(compressed)
    stride = 4 * size + 1
    if len(raw) != stride * size or any(raw[i * stride] != 0 for i in range(size)):
        return None
    return size, [raw[i * stride + 1:(i + 1) * stride] for i in range(size)]


def names():
    for state in STATES:
        for size in SIZES:
            yield state, size, f"{state}-{size}.png"


def write(directory):
    directory.mkdir(parents=True, exist_ok=True)
    for state, size, name in names():
        (directory / name).write_bytes(png(pixels(state, size), size))


def check(directory):
    wrong = []
    for state, size, name in names():
        path = directory / name
        got = decoded(path.read_bytes()) if path.exists() else None
        if got != (size, [bytes(row) for row in pixels(state, size)]):
            wrong.append(name)
    for name in wrong:
        print(f"make-icons: {directory / name} differs from the drawing", file=sys.stderr)
    return 1 if wrong else 0


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "--check":
        return check(Path(arguments[1]))
    if len(arguments) == 3 and arguments[0] == "--ico" and arguments[1] in STATES:
        Path(arguments[2]).write_bytes(ico(arguments[1]))
        return 0
    if len(arguments) > 1 or (arguments and arguments[0].startswith("-")):
        print(__doc__, file=sys.stderr)
        return 2
    write(Path(arguments[0]) if arguments else Path(__file__).resolve().parent)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
