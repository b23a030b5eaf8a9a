#!/usr/bin/env python3
"""Writes app.ico: a green circuit board carrying a chip, with a check mark.

Images, in file order: 16x16 4-bit, 16x16 8-bit, 32x32 4-bit, 32x32 8-bit,
48x48 32-bit.  Each is a BMP DIB (BITMAPINFOHEADER, XOR bitmap, AND mask).

Standard library only; run from anywhere:  python3 res/make_icon.py
"""
import os
import struct
import sys

# The 16 standard VGA colours, the palette of the 4-bit images.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256():
    """VGA16, a 6x6x6 colour cube, then a grey ramp: 256 entries."""
    pal = list(VGA16)
    levels = (0, 51, 102, 153, 204, 255)
    for r in levels:
        for g in levels:
            for b in levels:
                pal.append((r, g, b))
    while len(pal) < 256:
        v = (len(pal) - 232) * 10 + 8
        pal.append((v, v, v))
    return pal


PAL256 = palette256()

# Colours of the picture (r, g, b).
BOARD = (0, 128, 0)
BOARD_EDGE = (0, 80, 0)
TRACE = (255, 255, 0)
CHIP = (0, 0, 0)
PIN = (192, 192, 192)
CHECK = (255, 255, 255)
CHECK_EDGE = (0, 0, 128)


def _dist_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = ((px - ax) * dx + (py - ay) * dy) / float(dx * dx + dy * dy)
    t = max(0.0, min(1.0, t))
    cx, cy = ax + t * dx, ay + t * dy
    return ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5


def sample(u, v):
    """Colour at (u, v) in the unit square (0..1, y down), or None if clear."""
    # Check mark over the lower right part, drawn on top of everything.
    a, b, c = (0.40, 0.62), (0.58, 0.82), (0.88, 0.36)
    d = min(_dist_to_segment(u, v, *a, *b), _dist_to_segment(u, v, *b, *c))
    if d < 0.075:
        return CHECK
    if d < 0.125:
        return CHECK_EDGE

    # Board: a rounded square with a darker rim.
    m, r = 0.04, 0.14
    if not (m <= u <= 1 - m and m <= v <= 1 - m):
        return None
    cu = min(max(u, m + r), 1 - m - r)
    cv = min(max(v, m + r), 1 - m - r)
    rr = ((u - cu) ** 2 + (v - cv) ** 2) ** 0.5
    if rr > r:
        return None
    if rr > r - 0.06 or min(u - m, v - m, 1 - m - u, 1 - m - v) < 0.06:
        return BOARD_EDGE

    # Chip body with pins along its left and right sides.
    x0, x1, y0, y1 = 0.30, 0.70, 0.18, 0.62
    if x0 <= u <= x1 and y0 <= v <= y1:
        return CHIP
    if y0 + 0.03 <= v <= y1 - 0.03 and (x0 - 0.09 <= u < x0 or x1 < u <= x1 + 0.09):
        if int((v - y0 - 0.03) / 0.095) % 2 == 0:
            return PIN

    # Two traces running off the pins toward the board edge.
    if 0.10 <= u <= 0.21 and 0.26 <= v <= 0.31:
        return TRACE
    if 0.12 <= u <= 0.17 and 0.26 <= v <= 0.80:
        return TRACE
    return BOARD


def nearest(pal, rgb):
    best, best_d = 0, None
    for i, p in enumerate(pal):
        d = sum((p[k] - rgb[k]) ** 2 for k in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def render_indexed(size, pal):
    """Rows top-down of palette indices, and rows of transparency flags."""
    pix, clear = [], []
    for y in range(size):
        prow, crow = [], []
        for x in range(size):
            c = sample((x + 0.5) / size, (y + 0.5) / size)
            crow.append(c is None)
            prow.append(0 if c is None else nearest(pal, c))
        pix.append(prow)
        clear.append(crow)
    return pix, clear


def render_rgba(size, ss=4):
    """Rows top-down of (r, g, b, a), supersampled ss x ss per pixel."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0]
            n = 0
            for j in range(ss):
                for i in range(ss):
                    c = sample((x + (i + 0.5) / ss) / size, (y + (j + 0.5) / ss) / size)
                    if c is not None:
                        n += 1
                        for k in range(3):
                            acc[k] += c[k]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(round(acc[k] / n) for k in range(3))
                           + (round(255 * n / (ss * ss)),))
        rows.append(row)
    return rows


def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def and_mask(clear):
    """1-bit rows, bottom-up, 1 = transparent."""
    out = b""
    for crow in reversed(clear):
        bits = bytearray((len(crow) + 7) // 8)
        for x, t in enumerate(crow):
            if t:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += pad4(bytes(bits))
    return out


def info_header(size, bpp, image_bytes, colours):
    # biHeight counts the XOR bitmap and the AND mask together.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0,
                       image_bytes, 0, 0, colours, 0)


def dib_indexed(size, bpp, pal):
    pix, clear = render_indexed(size, pal)
    xor = b""
    for prow in reversed(pix):
        if bpp == 4:
            row = bytes((prow[x] << 4) | prow[x + 1] for x in range(0, size, 2))
        else:
            row = bytes(prow)
        xor += pad4(row)
    mask = and_mask(clear)
    quads = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in pal)
    return info_header(size, bpp, len(xor) + len(mask), len(pal)) + quads + xor + mask


def dib_rgba(size):
    rows = render_rgba(size)
    xor = b"".join(bytes(v for (r, g, b, a) in row for v in (b, g, r, a))
                   for row in reversed(rows))
    mask = and_mask([[px[3] == 0 for px in row] for row in rows])
    return info_header(size, 32, len(xor) + len(mask), 0) + xor + mask


def build():
    images = [
        (16, 4, 16, dib_indexed(16, 4, VGA16)),
        (16, 8, 0, dib_indexed(16, 8, PAL256)),
        (32, 4, 16, dib_indexed(32, 4, VGA16)),
        (32, 8, 0, dib_indexed(32, 8, PAL256)),
        (48, 32, 0, dib_rgba(48)),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bpp, colours, data in images:
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    return out + b"".join(d for _, _, _, d in images)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "app.ico")
    with open(target, "wb") as f:
        f.write(build())


if __name__ == "__main__":
    main()
