#!/usr/bin/env python3
"""Draws the dialog's picture, a padlock in front of a letter, as an 8-bit BMP.

Usage: make_lock_bmp.py OUT.bmp   (the committed resources/lock.bmp is its output)
"""
import struct
import sys

WIDTH, HEIGHT = 27, 31

# Palette index -> (red, green, blue). Index 0 is the dialog-grey background.
PALETTE = [
    (192, 192, 192),  # 0 background
    (0, 0, 0),        # 1 outline
    (255, 255, 255),  # 2 paper
    (128, 128, 128),  # 3 shackle / fold lines
    (224, 176, 32),   # 4 brass body
    (160, 112, 0),    # 5 brass shade
    (40, 40, 40),     # 6 keyhole
    (200, 200, 200),  # 7 shackle highlight
]


def draw():
    px = [[0] * WIDTH for _ in range(HEIGHT)]

    def put(x, y, c):
        if 0 <= x < WIDTH and 0 <= y < HEIGHT:
            px[y][x] = c

    def rect(x0, y0, x1, y1, fill, edge=1):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                border = x in (x0, x1) or y in (y0, y1)
                put(x, y, edge if border else fill)

    # The letter: an envelope in the upper left, its flap folded down.
    rect(0, 2, 20, 16, 2)
    for i in range(10):
        put(1 + i, 3 + i // 2 + i // 4, 3)
        put(19 - i, 3 + i // 2 + i // 4, 3)

    # The shackle: a thick arch above the lock body.
    cx, top = 16, 11
    for y in range(top, top + 9):
        for x in (cx - 5, cx - 4, cx + 4, cx + 5):
            put(x, y, 3)
        put(cx - 4, y, 7)
    for x in range(cx - 3, cx + 4):
        put(x, top - 1, 3)
        put(x, top, 3)
    put(cx - 4, top, 3)
    put(cx + 4, top, 3)

    # The lock body with its shaded right edge and a keyhole.
    rect(7, 19, 25, 30, 4)
    for y in range(20, 30):
        put(24, y, 5)
        put(23, y, 5)
    for y in range(22, 25):
        for x in range(15, 18):
            put(x, y, 6)
    for y in range(25, 28):
        put(16, y, 6)
    return px


def bmp_bytes(px):
    stride = (WIDTH + 3) & ~3
    colors = 256
    pixels = bytearray()
    for row in reversed(px):  # bottom-up rows
        line = bytes(row) + b"\0" * (stride - WIDTH)
        pixels += line
    palette = bytearray()
    for i in range(colors):
        r, g, b = PALETTE[i] if i < len(PALETTE) else (0, 0, 0)
        palette += bytes((b, g, r, 0))
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, len(pixels), 2835, 2835, colors, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(bmp_bytes(draw()))


if __name__ == "__main__":
    main()
