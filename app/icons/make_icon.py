#!/usr/bin/env python3
"""Draws the program icon: 32x32 pixels, 24-bit colour (PNG colour type 2, no alpha).

Two database cylinders on a blue tile, an arrow from the left one (the source) to the right
one (the target). Only the standard library is used; the PNG in this folder is the output:
    python3 app/icons/make_icon.py app/icons/produkte-import.png
"""
import struct
import sys
import zlib

SIZE = 32
SS = 8  # supersampling per axis

BACKGROUND_TOP = (46, 109, 164)
BACKGROUND_BOTTOM = (24, 64, 112)
SOURCE = (240, 160, 48)
SOURCE_TOP = (252, 208, 120)
TARGET = (236, 240, 244)
TARGET_TOP = (255, 255, 255)
EDGE = (20, 40, 70)
ARROW = (120, 220, 100)


def in_ellipse(x, y, cx, cy, rx, ry):
    return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0


def cylinder(x, y, cx, top, bottom, rx, ry, body, lid):
    """Colour of a cylinder at (x, y), or None outside it."""
    if in_ellipse(x, y, cx, top, rx, ry):
        inner = in_ellipse(x, y, cx, top, rx - 0.7, ry - 0.7)
        return lid if inner else EDGE
    inside_body = abs(x - cx) <= rx and top <= y <= bottom
    if inside_body or in_ellipse(x, y, cx, bottom, rx, ry):
        edge = abs(x - cx) > rx - 0.7 or not in_ellipse(x, y, cx, bottom, rx - 0.7, ry - 0.7)
        if inside_body and abs(x - cx) <= rx - 0.7 and y < bottom:
            edge = False
        # two bands, as database symbols show them
        for band in (top + (bottom - top) / 3, top + 2 * (bottom - top) / 3):
            if abs(y - band - ry * (1 - ((x - cx) / rx) ** 2) ** 0.5) < 0.45 and abs(x - cx) < rx:
                return EDGE
        return EDGE if edge else body
    return None


def arrow(x, y):
    # shaft from x=11 to x=19 at y=6.5, head from x=18 to 23
    if 10.5 <= x <= 19 and 5.2 <= y <= 7.8:
        return ARROW
    if 18 <= x <= 23.5 and abs(y - 6.5) <= (23.5 - x) * 0.75:
        return ARROW
    return None


def colour_at(x, y):
    for c in (
        arrow(x, y),
        cylinder(x, y, 8.5, 12.5, 25.5, 6.0, 2.4, SOURCE, SOURCE_TOP),
        cylinder(x, y, 23.5, 12.5, 25.5, 6.0, 2.4, TARGET, TARGET_TOP),
    ):
        if c is not None:
            return c
    t = y / SIZE
    return tuple(round(a + (b - a) * t) for a, b in zip(BACKGROUND_TOP, BACKGROUND_BOTTOM))


def render():
    rows = []
    for py in range(SIZE):
        row = bytearray([0])  # filter type 0
        for px in range(SIZE):
            acc = [0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    c = colour_at(px + (sx + 0.5) / SS, py + (sy + 0.5) / SS)
                    for i in range(3):
                        acc[i] += c[i]
            row += bytes(round(a / (SS * SS)) for a in acc)
        rows.append(bytes(row))
    return b"".join(rows)


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUT.png")
    ihdr = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) +
           chunk(b"IDAT", zlib.compress(render(), 9)) + chunk(b"IEND", b""))
    with open(sys.argv[1], "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
