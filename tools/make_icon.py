#!/usr/bin/env python3
"""Draws the programs' icons: one 32x32 image, 24 bits per pixel, in an .ico.

The picture is a clipboard board with a folder tab; Setup's icon adds a
green arrow. Run: tools/make_icon.py tarnwick|setup OUT.ico
"""
import struct
import sys

W = H = 32


def draw(kind):
    px = [[(0, 0, 0)] * W for _ in range(H)]      # (r, g, b); black is masked out
    mask = [[1] * W for _ in range(H)]             # 1 = transparent

    def fill(x0, y0, x1, y1, rgb):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = rgb
                mask[y][x] = 0

    fill(5, 4, 27, 30, (120, 72, 32))        # board
    fill(7, 8, 25, 28, (250, 250, 245))      # paper
    fill(11, 2, 21, 7, (170, 170, 180))      # clip
    fill(13, 3, 19, 5, (90, 90, 100))
    fill(9, 14, 18, 16, (230, 190, 60))      # folder tab
    fill(9, 16, 23, 25, (245, 205, 80))      # folder
    for y in range(11, 13):
        fill(9, y, 23, y + 1, (60, 90, 170))  # text line
    if kind == "setup":
        fill(18, 20, 30, 24, (40, 160, 60))  # arrow shaft
        for i in range(5):
            fill(26 + i, 17 + i, 27 + i, 27 - i, (40, 160, 60))
    return px, mask


def ico(px, mask):
    xor = b""
    for y in range(H - 1, -1, -1):           # bottom-up rows, BGR
        xor += b"".join(struct.pack("BBB", b, g, r) for (r, g, b) in px[y])
    andm = b""
    for y in range(H - 1, -1, -1):           # 1 bpp, rows padded to 4 bytes
        bits = 0
        for x in range(W):
            bits = bits << 1 | mask[y][x]
        andm += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 24, 0, len(xor) + len(andm), 0, 0, 0, 0)
    image = header + xor + andm
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", W, H, 0, 0, 1, 24, len(image), 22) + image


if __name__ == "__main__":
    with open(sys.argv[2], "wb") as f:
        f.write(ico(*draw(sys.argv[1])))
