#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files (16, 32 and 48
pixels, 32-bit colour with alpha). Run it after changing a drawing:

    tools/icons/make_icons.py win32/res

parlex2.ico (resource 107): a dial gauge, the program's icon.
instrument.ico (resource 154): a bench instrument with its display.
"""
import math
import struct
import sys
from pathlib import Path

SIZES = (16, 32, 48)
SUPER = 4  # samples per pixel edge, for smooth edges


def blend(dst, src):
    sr, sg, sb, sa = src
    dr, dg, db, da = dst
    a = sa + da * (1 - sa)
    if a == 0:
        return (0, 0, 0, 0)
    mix = lambda s, d: (s * sa + d * da * (1 - sa)) / a
    return (mix(sr, dr), mix(sg, dg), mix(sb, db), a)


def render(size, shapes):
    """shapes: list of (inside(x, y) -> bool, rgba) in unit coordinates 0..1."""
    pixels = []
    n = SUPER * SUPER
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    x = (px + (sx + 0.5) / SUPER) / size
                    y = (py + (sy + 0.5) / SUPER) / size
                    colour = (0, 0, 0, 0)
                    for inside, rgba in shapes:
                        if inside(x, y):
                            colour = blend(colour, rgba)
                    for i in range(3):
                        acc[i] += colour[i] * colour[3]
                    acc[3] += colour[3]
            a = acc[3] / n
            rgb = [acc[i] / acc[3] if acc[3] else 0 for i in range(3)]
            row.append((rgb[0], rgb[1], rgb[2], a))
        pixels.append(row)
    return pixels


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r0, r1):
    return lambda x, y: r0 * r0 <= (x - cx) ** 2 + (y - cy) ** 2 <= r1 * r1


def segment(x0, y0, x1, y1, w):
    def inside(x, y):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        return (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= (w / 2) ** 2
    return inside


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour, 16)
    return ((v >> 16) / 255, ((v >> 8) & 255) / 255, (v & 255) / 255, alpha)


def gauge(size):
    cx, cy = 0.5, 0.56
    shapes = [
        (rounded_rect(0.02, 0.02, 0.98, 0.98, 0.18), rgb("1f5f8b")),
        (circle(cx, cy, 0.40), rgb("f4f1e8")),
        (ring(cx, cy, 0.37, 0.40), rgb("0d2f45")),
    ]
    if size >= 32:
        for i in range(7):  # scale marks from -135 to +135 degrees
            angle = math.radians(-135 + i * 45)
            sx, sy = math.sin(angle), -math.cos(angle)
            shapes.append((segment(cx + sx * 0.27, cy + sy * 0.27, cx + sx * 0.34, cy + sy * 0.34,
                                   0.045), rgb("0d2f45")))
    needle = math.radians(50)
    shapes.append((segment(cx, cy, cx + math.sin(needle) * 0.31, cy - math.cos(needle) * 0.31,
                           0.075 if size < 32 else 0.06), rgb("d7261e")))
    shapes.append((circle(cx, cy, 0.07), rgb("0d2f45")))
    return render(size, shapes)


def instrument(size):
    shapes = [
        (rounded_rect(0.04, 0.16, 0.96, 0.86, 0.10), rgb("5b6770")),
        (rounded_rect(0.04, 0.16, 0.96, 0.80, 0.10), rgb("8d99a3")),
        (rounded_rect(0.12, 0.26, 0.66, 0.58, 0.04), rgb("1c2b1f")),
        (rounded_rect(0.15, 0.30, 0.63, 0.54, 0.03), rgb("7bd88f")),
        (circle(0.80, 0.35, 0.075), rgb("d7261e")),
        (circle(0.80, 0.60, 0.075), rgb("f4f1e8")),
        (rounded_rect(0.12, 0.64, 0.30, 0.72, 0.02), rgb("2e3a42")),
        (rounded_rect(0.36, 0.64, 0.54, 0.72, 0.02), rgb("2e3a42")),
    ]
    if size >= 32:  # a trace on the display
        pts = [(0.18, 0.47), (0.28, 0.37), (0.37, 0.45), (0.46, 0.34), (0.55, 0.42), (0.60, 0.39)]
        for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
            shapes.append((segment(x0, y0, x1, y1, 0.035), rgb("1c2b1f")))
    return render(size, shapes)


def ico(images):
    """images: list of (size, pixels). 32-bit BMP entries with an AND mask."""
    header = struct.pack("<HHH", 0, 1, len(images))
    entries, blobs = b"", b""
    offset = 6 + 16 * len(images)
    for size, pixels in images:
        xor = b""
        for row in reversed(pixels):  # bottom-up
            for r, g, b, a in row:
                xor += bytes((round(b * 255), round(g * 255), round(r * 255), round(a * 255)))
        stride = ((size + 31) // 32) * 4
        mask = b""
        for row in reversed(pixels):
            bits = bytearray(stride)
            for x, (_, _, _, a) in enumerate(row):
                if a < 0.5:
                    bits[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(bits)
        bmp = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                          0, 0, 0, 0) + xor + mask
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(bmp), offset)
        blobs += bmp
        offset += len(bmp)
    return header + entries + blobs


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    out.mkdir(parents=True, exist_ok=True)
    (out / "parlex2.ico").write_bytes(ico([(s, gauge(s)) for s in SIZES]))
    (out / "instrument.ico").write_bytes(ico([(s, instrument(s)) for s in SIZES]))


if __name__ == "__main__":
    main()
