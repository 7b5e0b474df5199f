#!/usr/bin/env python3
"""Draws the show's two built-in pictures as PNG files.

    assets/pictures/make_pictures.py [--out DIR] [--only logo|sprite] [--force]

logo.png (640 x 128): the word "musicdisk" in glowing strokes of our own letter shapes, on
black: the raster bars are added onto it.
sprite.png (32 x 32): the particle sprite, a soft streak of light; black is transparent.
The build encodes the PNGs in this folder into the show's picture streams (the settings
are in CMakeLists.txt here). A PNG that is already there is replaced only with --force.
"""
import argparse
import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def write_png(path, width, height, rows):
    """rows: height lists of (r, g, b) tuples, 0..255."""
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    # Through a temporary file, so a failed write leaves the old picture in place.
    temporary = path + ".tmp"
    with open(temporary, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))
    os.replace(temporary, path)


def arc(cx, cy, r, start, end, steps=14):
    """Points on a circle from angle start to end (degrees, counter-clockwise positive)."""
    return [(cx + r * math.cos(math.radians(start + (end - start) * i / steps)),
             cy + r * math.sin(math.radians(start + (end - start) * i / steps))) for i in range(steps + 1)]


# Letters as polylines in units of the x-height: x from the letter's left edge, y up from
# the baseline. Each entry: (advance width, [polyline, ...]).
LETTERS = {
    "m": (1.4, [[(0, 0), (0, 1)],
                [(0, 0.6)] + arc(0.35, 0.6, 0.35, 180, 0) + [(0.7, 0)],
                [(0.7, 0.6)] + arc(1.05, 0.6, 0.35, 180, 0) + [(1.4, 0)]]),
    "u": (0.8, [[(0, 1), (0, 0.4)] + arc(0.4, 0.4, 0.4, 180, 360) + [(0.8, 1)],
                [(0.8, 1), (0.8, 0)]]),
    "s": (0.75, [arc(0.375, 0.75, 0.25, 15, 270) + arc(0.375, 0.25, 0.25, 90, -165)]),
    "i": (0.2, [[(0.1, 0), (0.1, 1)], [(0.1, 1.3), (0.1, 1.36)]]),
    "c": (0.8, [arc(0.45, 0.5, 0.5, 40, 320, 20)]),
    "d": (0.95, [arc(0.45, 0.5, 0.5, 0, 360, 24), [(0.95, 0), (0.95, 1.5)]]),
    "k": (0.75, [[(0, 0), (0, 1.5)], [(0.72, 1), (0, 0.38)], [(0.22, 0.57), (0.75, 0)]]),
}


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    length = dx * dx + dy * dy
    t = 0.0 if length == 0 else max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / length))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def draw_logo(width=640, height=128):
    word, unit, gap, baseline = "musicdisk", 56.0, 0.32, 100.0
    total = sum(LETTERS[c][0] for c in word) + gap * (len(word) - 1)
    x0 = (width - total * unit) / 2
    segments = []
    x = x0
    for c in word:
        advance, lines = LETTERS[c]
        for line in lines:
            points = [(x + u * unit, baseline - v * unit) for u, v in line]
            segments += list(zip(points, points[1:]))
        x += (advance + gap) * unit

    reach = 16  # pixels of glow around a stroke
    distance = [[1e9] * width for _ in range(height)]
    for (ax, ay), (bx, by) in segments:
        for py in range(max(0, int(min(ay, by) - reach)), min(height, int(max(ay, by) + reach) + 1)):
            row = distance[py]
            for px in range(max(0, int(min(ax, bx) - reach)), min(width, int(max(ax, bx) + reach) + 1)):
                d = segment_distance(px + 0.5, py + 0.5, ax, ay, bx, by)
                if d < row[px]:
                    row[px] = d

    rows = []
    for py in range(height):
        row = []
        for px in range(width):
            d = distance[py][px]
            # Stroke colour runs from violet on the left through cyan to gold on the right;
            # a white core, and a blue-violet glow that fades out.
            s = px / (width - 1)
            hue = [(0.55, 0.25, 1.0), (0.2, 0.9, 1.0), (1.0, 0.8, 0.25)]
            k = min(1.0, s * 2)
            a, b = (hue[0], hue[1]) if s < 0.5 else (hue[1], hue[2])
            k = s * 2 if s < 0.5 else s * 2 - 1
            colour = [a[i] + (b[i] - a[i]) * k for i in range(3)]
            core = max(0.0, min(1.0, (5.0 - d) / 1.5))
            white = max(0.0, min(1.0, (2.2 - d) / 1.5))
            glow = math.exp(-max(0.0, d - 4.0) / 4.5) * 0.55 if d < reach else 0.0
            # A faint shine across the top half of the letters.
            shine = 0.25 * max(0.0, math.sin(math.pi * (py - 40) / 70)) if 40 <= py <= 110 else 0.0
            r = colour[0] * (core + shine * core) + white * 0.6 + glow * 0.35
            g = colour[1] * (core + shine * core) + white * 0.6 + glow * 0.2
            b = colour[2] * (core + shine * core) + white * 0.6 + glow * 0.9
            row.append(tuple(int(max(0, min(255, 255 * v))) for v in (r, g, b)))
        rows.append(row)
    return rows


def draw_sprite(size=32):
    """A streak of light moving right: a bright white-blue head near the right edge and a
    tail that fades out to the left. The show scales it to rectangles twice as wide as high
    (4 x 2 to 10 x 5 pixels), sampling every third or fourth texel, so the glow is wide and
    smooth rather than fine. Black (after the show's black level of 22) is transparent."""
    rows = []
    c = (size - 1) / 2
    for y in range(size):
        row = []
        dy = abs(y - c) / c  # 0 on the centre line, 1 at the top and bottom rows
        for x in range(size):
            u = x / (size - 1)  # 0 at the tail's end, 1 at the front
            # Along the streak: the tail rises slowly to the head at u = 0.78; the front falls off fast.
            along = (u / 0.78) ** 1.2 if u < 0.78 else math.exp(-((u - 0.78) / 0.13) ** 2)
            glow = along * math.exp(-(dy / 0.42) ** 2)
            core = along ** 3 * math.exp(-(dy / 0.16) ** 2)
            r, g, b = (min(255, int(255 * v)) for v in (0.45 * glow + 0.9 * core, 0.75 * glow + 0.95 * core,
                                                         1.2 * glow + core))
            # The show turns anything at or below its black level (22) into black anyway.
            row.append((r, g, b) if max(r, g, b) > 24 else (0, 0, 0))
        rows.append(row)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", default=HERE, help="folder to write logo.png and sprite.png to (default: this one)")
    parser.add_argument("--only", choices=("logo", "sprite"), help="draw only this picture")
    parser.add_argument("--force", action="store_true", help="replace PNGs that are already there")
    args = parser.parse_args()
    pictures = [("logo", 640, 128, draw_logo), ("sprite", 32, 32, draw_sprite)]
    pictures = [p for p in pictures if args.only in (None, p[0])]
    paths = [os.path.join(args.out, name + ".png") for name, *_ in pictures]
    existing = [p for p in paths if os.path.exists(p)]
    if existing and not args.force:
        sys.exit("make_pictures.py: not replacing " + ", ".join(existing) +
                 " (they may be your own pictures); give --force to replace them, or --out DIR to write elsewhere")
    os.makedirs(args.out, exist_ok=True)
    for (name, width, height, draw), path in zip(pictures, paths):
        write_png(path, width, height, draw())
        print("wrote " + path)


if __name__ == "__main__":
    main()
