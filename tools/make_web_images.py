#!/usr/bin/env python3
"""Draws the panel icons shipped in the program library directory.

    web/aticon.png   114x114 application icon (home screen, browser tab)
    web/startup.png  320x460 startup image shown while a saved panel opens

Both show a stylised gauge in blue tones. Shapes are drawn with signed
distances, so edges are anti-aliased with one sample per pixel, and the PNG
writer uses only zlib and struct: the output is the same bytes on every run.

    python3 tools/make_web_images.py           write both files
    python3 tools/make_web_images.py --check   exit 1 when a file differs
"""

import math
import struct
import sys
import zlib
from pathlib import Path

WEB = Path(__file__).resolve().parent.parent / "web"


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def coverage(distance):
    """Fraction of a pixel covered by a shape whose edge is `distance` away."""
    return clamp(0.5 - distance)


# Signed distances: negative inside the shape.

def sd_circle(x, y, cx, cy, r):
    return math.hypot(x - cx, y - cy) - r


def sd_capsule(x, y, ax, ay, bx, by, r):
    px, py = x - ax, y - ay
    dx, dy = bx - ax, by - ay
    h = clamp((px * dx + py * dy) / (dx * dx + dy * dy))
    return math.hypot(px - dx * h, py - dy * h) - r


def sd_round_rect(x, y, x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r
    qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - r


def sd_arc(x, y, cx, cy, radius, half_width, start, sweep):
    """Band of `half_width` around a circular arc with round ends.

    Angles in degrees, measured clockwise from 12 o'clock (screen y grows
    downwards); the arc runs from `start` over `sweep` degrees.
    """
    dx, dy = x - cx, y - cy
    angle = math.degrees(math.atan2(dx, -dy))
    offset = (angle - start) % 360.0
    if offset <= sweep:
        return abs(math.hypot(dx, dy) - radius) - half_width
    best = float("inf")
    for a in (start, start + sweep):
        ex = cx + radius * math.sin(math.radians(a))
        ey = cy - radius * math.cos(math.radians(a))
        best = min(best, math.hypot(x - ex, y - ey))
    return best - half_width


def polar(cx, cy, r, angle):
    return cx + r * math.sin(math.radians(angle)), cy - r * math.cos(math.radians(angle))


class Gauge:
    """A 270-degree dial open at the bottom, filled to `level` (0..1)."""

    START, SWEEP = -135.0, 270.0

    def __init__(self, cx, cy, radius, level, ticks):
        self.cx, self.cy, self.r = cx, cy, radius
        self.level = level
        self.ticks = ticks
        self.needle = self.START + self.SWEEP * level

    def layers(self, x, y):
        cx, cy, r = self.cx, self.cy, self.r
        band = r * 0.11
        yield TRACK, coverage(sd_arc(x, y, cx, cy, r, band, self.START, self.SWEEP))
        yield VALUE, coverage(sd_arc(x, y, cx, cy, r, band, self.START, self.SWEEP * self.level))
        for i in range(self.ticks):
            a = self.START + self.SWEEP * i / (self.ticks - 1)
            ax, ay = polar(cx, cy, r * 0.62, a)
            bx, by = polar(cx, cy, r * 0.74, a)
            yield TICK, coverage(sd_capsule(x, y, ax, ay, bx, by, r * 0.025))
        tx, ty = polar(cx, cy, r * 0.80, self.needle)
        yield NEEDLE, coverage(sd_capsule(x, y, cx, cy, tx, ty, r * 0.045))
        yield NEEDLE, coverage(sd_circle(x, y, cx, cy, r * 0.16))
        yield HUB, coverage(sd_circle(x, y, cx, cy, r * 0.07))


TOP = hex_colour("#2a6fc4")
BOTTOM = hex_colour("#0c2f61")
BAR = (hex_colour("#0a2550"), 0.85)
TRACK = (hex_colour("#7fb0e8"), 0.35)
VALUE = (hex_colour("#cfe8ff"), 1.0)
TICK = (hex_colour("#a9cdf5"), 0.8)
NEEDLE = (hex_colour("#ffffff"), 1.0)
HUB = (hex_colour("#1f5fb0"), 1.0)
BUTTON = (hex_colour("#3d84d6"), 1.0)
BUTTON_EDGE = (hex_colour("#8fc0f2"), 1.0)
SLIDER = (hex_colour("#0a2550"), 0.7)


def background(x, y, height):
    t = y / (height - 1)
    return [TOP[i] * (1 - t) + BOTTOM[i] * t for i in range(3)]


def render(width, height, layers_at):
    rows = []
    for py in range(height):
        row = bytearray()
        for px in range(width):
            x, y = px + 0.5, py + 0.5
            colour = background(x, y, height)
            for (rgb, alpha), cov in layers_at(x, y):
                a = alpha * cov
                if a > 0.0:
                    colour = [colour[i] * (1 - a) + rgb[i] * a for i in range(3)]
            row.extend(int(round(clamp(c) * 255)) for c in colour)
        rows.append(bytes(row))
    return rows


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon():
    size = 114
    gauge = Gauge(57, 60, 38, 0.68, 7)

    def layers(x, y):
        yield from gauge.layers(x, y)
        yield BUTTON_EDGE, coverage(sd_round_rect(x, y, 37, 88, 77, 100, 6))
        yield BUTTON, coverage(sd_round_rect(x, y, 38, 89, 76, 99, 5))

    return png(size, size, render(size, size, layers))


def startup():
    width, height = 320, 460
    gauge = Gauge(160, 190, 96, 0.68, 11)

    def layers(x, y):
        yield BAR, coverage(sd_round_rect(x, y, -10, -10, width + 10, 44, 0))
        yield TRACK, coverage(sd_round_rect(x, y, 110, 18, 210, 26, 4))
        yield from gauge.layers(x, y)
        for left in (24, 168):
            yield BUTTON_EDGE, coverage(sd_round_rect(x, y, left, 318, left + 128, 358, 10))
            yield BUTTON, coverage(sd_round_rect(x, y, left + 1.5, 319.5, left + 126.5, 356.5, 9))
        yield SLIDER, coverage(sd_round_rect(x, y, 24, 398, 296, 410, 6))
        yield VALUE, coverage(sd_round_rect(x, y, 24, 398, 206, 410, 6))
        yield NEEDLE, coverage(sd_circle(x, y, 206, 404, 14))
        yield HUB, coverage(sd_circle(x, y, 206, 404, 6))

    return png(width, height, render(width, height, layers))


def main(argv):
    images = {"aticon.png": icon, "startup.png": startup}
    check = "--check" in argv[1:]
    stale = []
    for name, draw in images.items():
        data = draw()
        path = WEB / name
        if check:
            if not path.exists() or path.read_bytes() != data:
                stale.append(name)
        else:
            path.write_bytes(data)
            print(f"wrote {path} ({len(data)} bytes)")
    if stale:
        print("out of date (run python3 tools/make_web_images.py): " + ", ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
