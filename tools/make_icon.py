#!/usr/bin/env python3
"""Writes app.ico: one 32 x 32, 256-colour image (2,238 bytes), a loudspeaker
with sound waves on a blue tile. The program carries the file twice, as icon
group 100 and as the raw bytes behind the window's small icon.

Usage: make_icon.py [output]   (default: app.ico beside this script)
"""
import math
import os
import struct
import sys

SIZE = 32

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


def build():
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    # Bitmaps are stored bottom-up.
    xor = b"".join(bytes(rows[y]) for y in reversed(range(SIZE)))
    and_mask = bytearray()
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            bits = (bits << 1) | (1 if rows[y][x] == TRANSPARENT else 0)
        and_mask += struct.pack(">I", bits)  # 32 pixels: exactly one 4-byte row
    palette = b"".join(
        struct.pack("<BBBB", *reversed(PALETTE.get(i, (0, 0, 0))), 0) for i in range(256)
    )
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0,
                         len(xor) + len(and_mask), 0, 0, 256, 0)
    image = header + palette + xor + bytes(and_mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    data = icondir + entry + image
    assert len(data) == 2238, len(data)
    return data


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "app.ico")
    with open(out, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
