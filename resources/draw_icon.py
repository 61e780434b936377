#!/usr/bin/env python3
"""Draws the launcher's icon from icon.txt into glimvane.ico.

Five images: 16, 24, 32 and 48 pixels as 32-bit bitmaps with their mask, 256
pixels as PNG (as Windows expects for the large image). Standard library
only. The build uses the committed glimvane.ico; run this after changing
icon.txt:  python3 resources/draw_icon.py
"""
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
SUPERSAMPLE = 4  # samples per pixel side: smooth edges at small sizes


def read_shapes(path):
    shapes = []
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        words = line.split("#", 1)[0].split()
        if not words:
            continue
        kind, args, colour = words[0], words[1:-1], words[-1]
        if len(colour) != 8:
            sys.exit("%s:%d: the colour must be RRGGBBAA" % (path, number))
        rgba = tuple(int(colour[i:i + 2], 16) for i in range(0, 8, 2))
        if kind == "rounded" and len(args) == 5:
            shapes.append((kind, tuple(map(float, args)), rgba))
        elif kind == "circle" and len(args) == 3:
            shapes.append((kind, tuple(map(float, args)), rgba))
        elif kind == "polygon" and len(args) >= 3:
            points = tuple(tuple(map(float, a.split(","))) for a in args)
            shapes.append((kind, points, rgba))
        else:
            sys.exit("%s:%d: cannot read '%s'" % (path, number, line.strip()))
    return shapes


def inside(kind, geometry, x, y):
    if kind == "circle":
        cx, cy, r = geometry
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    if kind == "rounded":
        x0, y0, x1, y1, r = geometry
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        nx = min(max(x, x0 + r), x1 - r)
        ny = min(max(y, y0 + r), y1 - r)
        return (x - nx) ** 2 + (y - ny) ** 2 <= r * r
    hit = False  # polygon, even-odd rule
    j = len(geometry) - 1
    for i, (xi, yi) in enumerate(geometry):
        xj, yj = geometry[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def render(shapes, size):
    """Straight RGBA rows, top row first."""
    n = SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(n):
                for sx in range(n):
                    x = (px + (sx + 0.5) / n) / size
                    y = (py + (sy + 0.5) / n) / size
                    r = g = b = a = 0.0
                    for kind, geometry, (cr, cg, cb, ca) in shapes:
                        if inside(kind, geometry, x, y):
                            alpha = ca / 255.0
                            r = cr * alpha + r * (1 - alpha)
                            g = cg * alpha + g * (1 - alpha)
                            b = cb * alpha + b * (1 - alpha)
                            a = alpha + a * (1 - alpha)
                    for k, v in enumerate((r, g, b, a)):
                        acc[k] += v
            a = acc[3] / (n * n)
            if a <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[k] / (n * n) / a)) for k in range(3)) + (int(round(a * 255)),))
        rows.append(row)
    return rows


def bitmap(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = (size + 31) // 32 * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + pixels + mask


def png(rows):
    size = len(rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    shapes = read_shapes(os.path.join(here, "icon.txt"))
    images = [png(render(shapes, s)) if s == 256 else bitmap(render(shapes, s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b"".join(images)
    with open(os.path.join(here, "glimvane.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
