#!/usr/bin/env python3
"""Writes resources/app.ico: a loudspeaker with sound waves on a blue tile, as
256-colour images of 16, 20, 24, 32 and 48 pixels. The 32-pixel drawing is
the design; the other sizes sample it at their pixel centres. Windows picks
the image that fits each use: the title bar's small icon is 16, 20 or 24
pixels at 96, 120 or 144 DPI, the large icon 32 or 48.

Usage: make_icon.py [output]   (default: resources/app.ico)
"""
import math
import os
import struct
import sys

SIZE = 32  # the design's grid
SIZES = (16, 20, 24, 32, 48)

# Palette entries used by the picture; the other entries stay black.
TRANSPARENT, TILE, TILE_EDGE, WHITE, WAVE, SHADOW = range(6)
PALETTE = {
    TRANSPARENT: (0, 0, 0),
    TILE: (0x1E, 0x6F, 0xD9),
    TILE_EDGE: (0x12, 0x4A, 0x9C),
    WHITE: (0xFF, 0xFF, 0xFF),
    WAVE: (0xFF, 0xC8, 0x2E),
    SHADOW: (0x0B, 0x2E, 0x66),
}


def inside_rounded_square(x, y, margin=1, radius=6):
    lo, hi = margin, SIZE - 1 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_speaker(x, y):
    # The magnet: a small box; the cone: a trapezium widening to the right.
    if 6 <= x <= 10 and 12 <= y <= 19:
        return True
    if 11 <= x <= 16:
        half = 4 + (x - 11)  # half-height grows by one per column
        return 15.5 - half <= y <= 15.5 + half
    return False


def in_wave(x, y):
    dx, dy = x - 16.0, y - 15.5
    r = math.hypot(dx, dy)
    if dx <= 0 or abs(math.degrees(math.atan2(dy, dx))) > 50:
        return False
    return any(abs(r - ring) <= 1.0 for ring in (6.0, 10.0))


def pixel(x, y):
    if not inside_rounded_square(x, y):
        return TRANSPARENT
    if not inside_rounded_square(x, y, margin=2, radius=5):
        return TILE_EDGE
    if in_speaker(x, y):
        return WHITE
    if in_speaker(x - 1, y - 1):
        return SHADOW
    if in_wave(x, y):
        return WAVE
    return TILE


def image(size):
    """One icon image: BITMAPINFOHEADER, palette, colour rows, mask rows."""
    scale = SIZE / size
    rows = [[pixel((x + 0.5) * scale - 0.5, (y + 0.5) * scale - 0.5) for x in range(size)] for y in range(size)]
    # Bitmaps are stored bottom-up; every size here is a multiple of 4 bytes
    # wide in colour, and mask rows are padded to 32 bits.
    xor = b"".join(bytes(rows[y]) for y in reversed(range(size)))
    mask_bytes = (size + 31) // 32 * 4
    and_mask = bytearray()
    for y in reversed(range(size)):
        bits = 0
        for x in range(size):
            bits = (bits << 1) | (1 if rows[y][x] == TRANSPARENT else 0)
        and_mask += (bits << (mask_bytes * 8 - size)).to_bytes(mask_bytes, "big")
    palette = b"".join(
        struct.pack("<BBBB", *reversed(PALETTE.get(i, (0, 0, 0))), 0) for i in range(256)
    )
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 8, 0,
                         len(xor) + len(and_mask), 0, 0, 256, 0)
    return header + palette + xor + bytes(and_mask)


def build():
    images = [image(size) for size in SIZES]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits in zip(SIZES, images):
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 8, len(bits), offset)
        offset += len(bits)
    return data + b"".join(images)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "app.ico")
    with open(out, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
