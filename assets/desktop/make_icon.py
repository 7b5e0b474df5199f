#!/usr/bin/env python3
"""Draws the program's icon from its logo.

    assets/desktop/make_icon.py [--logo assets/pictures/logo.png] [--out assets/desktop/musicdisk.png]

The icon (256 x 256, RGBA) is the logo's first letter, cut from logo.png and enlarged,
laid additively (black is transparent, as in the show) over a rounded dark square with
three raster bars; outside the square the icon is transparent. Only the standard library is used; the result is the same on every run.
"""
import argparse
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SIZE = 256


def read_png(path):
    """An 8-bit RGB or RGBA, non-interlaced PNG as rows of (r, g, b) tuples."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit(f"{path}: not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise SystemExit(f"{path}: only 8-bit RGB or RGBA without interlacing is read")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = previous[x]
            c = previous[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 255
            elif kind == 2:
                line[x] = (line[x] + b) & 255
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return rows


def write_png(path, rows):
    """rows of (r, g, b, a) tuples, written as an 8-bit RGBA PNG."""
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 9)))
        f.write(chunk(b"IEND", b""))


def first_letter_box(logo):
    """The square around the logo's first letter: the first run of lit columns, with its glow."""
    height, width = len(logo), len(logo[0])
    # The strokes' white cores only: the glows run from one letter into the next.
    lit = [min(logo[y][x]) > 200 for x in range(width) for y in [max(range(height), key=lambda r: min(logo[r][x]))]]
    left = lit.index(True)
    right = left
    while right + 1 < width and lit[right + 1]:
        right += 1
    rows = [y for y in range(height) if max(min(logo[y][x]) for x in range(left, right + 1)) > 200]
    top, bottom = rows[0], rows[-1]
    side = max(right - left, bottom - top) + 40
    cx, cy = (left + right) / 2, (top + bottom) / 2
    return cx - side / 2, cy - side / 2, side, left - 6, right + 6


def sample(logo, x, y):
    """Bilinear sample of the logo; black outside it."""
    height, width = len(logo), len(logo[0])
    x0, y0 = math.floor(x), math.floor(y)
    fx, fy = x - x0, y - y0
    out = [0.0, 0.0, 0.0]
    for dy, wy in ((0, 1 - fy), (1, fy)):
        for dx, wx in ((0, 1 - fx), (1, fx)):
            px, py = x0 + dx, y0 + dy
            if 0 <= px < width and 0 <= py < height:
                for i in range(3):
                    out[i] += logo[py][px][i] * wx * wy
    return out


def draw_icon(logo):
    left, top, side, first, last = first_letter_box(logo)
    margin, radius = 8, 40
    rows = []
    for y in range(SIZE):
        row = []
        for x in range(SIZE):
            # Rounded square: distance outside the inner rectangle's corner circles.
            qx = max(margin + radius - x - 0.5, x + 0.5 - (SIZE - margin - radius), 0)
            qy = max(margin + radius - y - 0.5, y + 0.5 - (SIZE - margin - radius), 0)
            inside = max(0.0, min(1.0, radius + 0.5 - math.hypot(qx, qy)))
            if inside == 0:
                row.append((0, 0, 0, 0))
                continue
            # A deep blue ground and three raster bars: violet, cyan, gold.
            colour = [10 + 14 * y / SIZE, 10 + 10 * y / SIZE, 30 + 40 * y / SIZE]
            for centre, tint in ((70, (0.55, 0.25, 1.0)), (128, (0.2, 0.9, 1.0)), (186, (1.0, 0.8, 0.25))):
                k = max(0.0, 1 - abs(y - centre) / 14) ** 1.5 * 0.55
                for i in range(3):
                    colour[i] += 255 * tint[i] * k
            # The letter, enlarged to fill the square, added on top.
            scale = side / (SIZE - 2 * margin)
            lx = left + (x - margin) * scale
            letter = sample(logo, lx, top + (y - margin) * scale)
            # Only the first letter: the next one's strokes fade out beside it.
            fade = max(0.0, min(1.0, (lx - first + 6) / 6, (last + 6 - lx) / 6))
            letter = [v * fade for v in letter]
            row.append(tuple(int(max(0, min(255, colour[i] + letter[i]))) for i in range(3)) + (int(255 * inside),))
        rows.append(row)
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--logo", default=os.path.join(ROOT, "assets", "pictures", "logo.png"))
    parser.add_argument("--out", default=os.path.join(HERE, "musicdisk.png"))
    args = parser.parse_args()
    write_png(args.out, draw_icon(read_png(args.logo)))


if __name__ == "__main__":
    main()
