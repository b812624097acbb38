#!/usr/bin/env python3
"""Draws BrisaFile.png (256 x 256) from the shapes of BrisaFile.svg, without any image
library: each pixel is sampled 4 x 4 times against the polygons and rectangles."""
import struct
import sys
import zlib

SIZE = 256
SCALE = SIZE / 64.0
SAMPLES = 4


def inside_polygon(x, y, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def inside_rounded(x, y, left, top, width, height, radius):
    if not (left <= x <= left + width and top <= y <= top + height):
        return False
    cx = min(max(x, left + radius), left + width - radius)
    cy = min(max(y, top + radius), top + height - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2



SHEET = [(10, 3), (42, 3), (54, 15), (54, 61), (10, 61)]
FOLD = [(42, 3), (42, 15), (54, 15)]
PLAY = [(28, 29), (28, 43), (39, 36)]


def near_edge(x, y, points, half):
    for i in range(len(points)):
        (x1, y1), (x2, y2) = points[i], points[(i + 1) % len(points)]
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        px, py = x1 + t * dx, y1 + t * dy
        if (x - px) ** 2 + (y - py) ** 2 <= half * half:
            return True
    return False


def colour_at(x, y):
    if near_edge(x, y, SHEET, 1.0) or near_edge(x, y, FOLD, 1.0):
        return (0x5d, 0x6d, 0x7a, 255)
    if inside_polygon(x, y, FOLD):
        return (0xc9, 0xd2, 0xda, 255)
    if inside_polygon(x, y, PLAY):
        return (255, 255, 255, 255)
    if inside_rounded(x, y, 16, 24, 32, 24, 4):
        return (0x2b, 0x84, 0xb8, 255)
    if 16 <= x <= 48 and 52 <= y <= 55:
        return (0xf6, 0xc3, 0x43, 255)
    if inside_polygon(x, y, SHEET):
        return (0xf4, 0xf6, 0xf8, 255)
    return (0, 0, 0, 0)


def main(path):
    rows = bytearray()
    for py in range(SIZE):
        rows.append(0)
        for px in range(SIZE):
            total = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / SCALE, (py + (sy + 0.5) / SAMPLES) / SCALE)
                    for k in range(3):
                        total[k] += c[k] * c[3]
                    total[3] += c[3]
            alpha = total[3] // (SAMPLES * SAMPLES)
            if total[3]:
                rows += bytes(total[k] // total[3] for k in range(3))
            else:
                rows += b"\0\0\0"
            rows.append(alpha)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "BrisaFile.png")
