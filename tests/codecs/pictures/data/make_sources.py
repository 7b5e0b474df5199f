#!/usr/bin/env python3
"""Writes the raw RGB (rgb24) source pictures of the conformance data: NAME.rgb, W x H."""
import math
import random
import sys

def picture(name, w, h):
    rnd = random.Random(name)
    out = bytearray()
    for y in range(h):
        for x in range(w):
            if name == "gradient":
                d = math.hypot(x - w * 0.6, y - h * 0.4)
                r = 255 * x / (w - 1)
                g = 255 * y / (h - 1)
                b = 128 + 127 * math.cos(d / 6)
                if d < h * 0.25:
                    r, g = 255 - r, 255 - g
            elif name == "noise":
                r, g, b = rnd.randrange(256), rnd.randrange(256), rnd.randrange(256)
            elif name == "stripes":
                # Hard edges at every angle: many long codes and high levels.
                v = (x * 3 + y * 5) // 7 % 2 * 255
                r = v
                g = 255 - v if (x // 8 + y // 8) % 2 else v // 3
                b = (x * y) % 256
            elif name == "dark":
                # Mostly near the black level with a dim glow, like the show's pictures.
                d = math.hypot(x - w / 2, y - h / 2) / (w / 2)
                v = max(0.0, 1.0 - d) ** 2
                r, g, b = 10 + 200 * v, 10 + 120 * v, 20 + 235 * v
            else:
                raise SystemExit("unknown picture " + name)
            out += bytes(max(0, min(255, int(c))) for c in (r, g, b))
    return out

if __name__ == "__main__":
    name, w, h, path = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    with open(path, "wb") as f:
        f.write(picture(name, w, h))
