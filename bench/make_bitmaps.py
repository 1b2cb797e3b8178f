#!/usr/bin/env python3
"""Writes 1-bit BMP test pages: shapes and text-like strokes on white, deterministic."""
import random
import struct
import sys


def bmp_bytes(width, height, black):
    stride = ((width + 31) // 32) * 4
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray(stride)
        for x in range(width):
            if not black(x, y):
                row[x >> 3] |= 0x80 >> (x & 7)
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 62 + len(pixels), 0, 0, 62)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, len(pixels), 11811, 11811, 2, 0)
    palette = bytes([0, 0, 0, 0, 255, 255, 255, 0])
    return header + info + palette + pixels


def page(width, height, seed):
    rnd = random.Random(seed)
    discs = [(rnd.randrange(width), rnd.randrange(height), rnd.randrange(4, max(5, width // 12)))
             for _ in range(12)]
    bars = [(rnd.randrange(width), rnd.randrange(height), rnd.randrange(8, max(9, width // 4)), rnd.randrange(2, 8))
            for _ in range(40 + width // 20)]

    def black(x, y):
        for cx, cy, r in discs:
            if (x - cx) ** 2 + (y - cy) ** 2 < r * r:
                return True
        for bx, by, bw, bh in bars:
            if bx <= x < bx + bw and by <= y < by + bh:
                return True
        return False
    return black


def main():
    out = sys.argv[1]
    sizes = {"logo": (200, 100), "card": (1000, 600), "a5-150dpi": (874, 1240), "letter-300dpi": (2550, 3300)}
    which = sys.argv[2:] or list(sizes)
    for name in which:
        if name.startswith("folder"):
            count = int(name[6:] or 200)
            for i in range(count):
                with open(f"{out}/f{i:03d}.bmp", "wb") as f:
                    f.write(bmp_bytes(160, 120, page(160, 120, i)))
            continue
        w, h = sizes[name]
        with open(f"{out}/{name}.bmp", "wb") as f:
            f.write(bmp_bytes(w, h, page(w, h, hash(name) & 0xFFFF)))


if __name__ == "__main__":
    main()
