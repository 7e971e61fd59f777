#!/usr/bin/env python3
"""Finds where a tree icon is drawn in a screenshot.

    designer_find_icon.py SCREENSHOT.ppm ICON.png

Prints one line "X Y" (the centre of the icon, in screen pixels) per place where
every opaque pixel of the icon appears unchanged, top to bottom, left to right.
Exits 1 when the icon is nowhere. The screenshot is a binary PPM (P6, 8 bits);
the icon a PNG of 8-bit RGB or RGBA, as tools/make_type_icons.py writes them.
"""

import struct
import sys
import zlib


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise ValueError(f"{path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + width * height * 3]


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour_type = header[:4]
    if depth != 8 or colour_type not in (2, 6):
        raise ValueError(f"{path}: only 8-bit RGB or RGBA")
    bpp = 4 if colour_type == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else b if pb <= pc else c
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    pixels = []
    for y in range(height):
        for x in range(width):
            px = rows[y][x * bpp:(x + 1) * bpp]
            alpha = px[3] if bpp == 4 else 255
            if alpha == 255:
                pixels.append((x, y, bytes(px[:3])))
    return width, height, pixels


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    width, height, screen = read_ppm(sys.argv[1])
    iw, ih, opaque = read_png(sys.argv[2])
    first_x, first_y, first_px = opaque[0]
    found = 0
    for y in range(height - ih + 1):
        row = (y + first_y) * width
        start = 0
        while True:
            # Candidates: where the first opaque pixel of the icon matches.
            at = screen.find(first_px, (row + start) * 3, (row + width) * 3)
            if at < 0:
                break
            if at % 3:
                start = at // 3 + 1
                continue
            x = at // 3 - row - first_x
            start = at // 3 - row + 1
            if x < 0 or x + iw > width:
                continue
            if all(screen[((y + py) * width + x + px) * 3:((y + py) * width + x + px) * 3 + 3] == c
                   for px, py, c in opaque):
                print(x + iw // 2, y + ih // 2)
                found += 1
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
