#!/usr/bin/env python3
"""Draws the program icon: one 128x128 32-bpp image (a blue tile with a white arrow into a tray).

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

SIZE = 128
SAMPLES = 4  # per axis, for smooth edges


def inside_rounded_square(x, y, margin=6.0, radius=22.0):
    lo, hi = margin, SIZE - margin
    if not (lo <= x < hi and lo <= y < hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_arrow(x, y):
    shaft = 56.0 <= x < 72.0 and 24.0 <= y < 64.0
    head = 64.0 <= y < 86.0 and abs(x - 64.0) <= (86.0 - y) * 1.1
    return shaft or head


def inside_tray(x, y):
    bottom = 36.0 <= x < 92.0 and 92.0 <= y < 102.0
    sides = (36.0 <= x < 46.0 or 82.0 <= x < 92.0) and 78.0 <= y < 102.0
    return bottom or sides


def pixel(px, py):
    """Colour (r, g, b, a) of one pixel, averaged over its sub-samples."""
    r = g = b = a = 0.0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            x = px + (sx + 0.5) / SAMPLES
            y = py + (sy + 0.5) / SAMPLES
            if not inside_rounded_square(x, y):
                continue
            if inside_arrow(x, y) or inside_tray(x, y):
                cr, cg, cb = 255, 255, 255
            else:
                t = y / SIZE  # top to bottom: lighter to darker blue
                cr, cg, cb = 40 - 16 * t, 120 - 44 * t, 220 - 64 * t
            r, g, b, a = r + cr, g + cg, b + cb, a + 1
    n = SAMPLES * SAMPLES
    if a == 0:
        return 0, 0, 0, 0
    # Colours are stored straight (not premultiplied), alpha is the covered share.
    return round(r / a), round(g / a), round(b / a), round(255 * a / n)


def icon_bytes():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    xor = bytearray()
    for row in reversed(rows):  # DIB rows run bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as out:
        out.write(icon_bytes())


if __name__ == "__main__":
    main()
