#!/usr/bin/env python3
"""Draws the 16x16 tree icons of the object types into resources/icons/.

    resources/icons/<type key>.png   one per type of resources/catalogue.json
    resources/icons/fallback.png     headings and unknown types

Every icon is a rounded tile whose colour tells the family (page structure,
input widgets, output widgets, scripts and events, gateways, links) with a
short white mark of two letters drawn in a 3x5 pixel font, so that icons of
one family look alike and the letters tell them apart. The PNG writer uses
only zlib and struct: the output is the same bytes on every run.

    python3 tools/make_type_icons.py           write every icon
    python3 tools/make_type_icons.py --check   exit 1 when a file differs
"""

import json
import struct
import sys
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
ICONS = ROOT / "resources" / "icons"
SIZE = 16

# Tile colours of the families (top colour, bottom colour of a vertical gradient).
FAMILIES = {
    "project": ((0x44, 0x4B, 0x5A), (0x2A, 0x30, 0x3C)),
    "structure": ((0x3C, 0x8D, 0xE0), (0x1F, 0x5F, 0xB0)),
    "input": ((0x3F, 0xB5, 0x5A), (0x25, 0x84, 0x3C)),
    "output": ((0x1B, 0xA8, 0xA8), (0x0E, 0x76, 0x78)),
    "event": ((0xF0, 0x9A, 0x2A), (0xC2, 0x6A, 0x10)),
    "gateway": ((0x8E, 0x5C, 0xD6), (0x5E, 0x36, 0xA6)),
    "link": ((0xC8, 0x5A, 0xB4), (0x96, 0x34, 0x86)),
    "fallback": ((0x9A, 0xA0, 0xA8), (0x70, 0x76, 0x80)),
}

# type key -> (family, mark)
TYPES = {
    "project": ("project", "PR"),
    "page": ("structure", "PG"),
    "header": ("structure", "HD"),
    "footer": ("structure", "FT"),
    "button": ("input", "BT"),
    "switch": ("input", "SW"),
    "onclickgoto": ("event", "GO"),
    "hgroup": ("structure", "HG"),
    "vgroup": ("structure", "VG"),
    "checkb": ("input", "CB"),
    "radiob": ("input", "RB"),
    "form": ("structure", "FM"),
    "label": ("output", "LB"),
    "onclickscript": ("event", "CS"),
    "script": ("event", "JS"),
    "onchangescript": ("event", "VS"),
    "textinput": ("input", "TI"),
    "slider": ("input", "SL"),
    "oninputscript": ("event", "IS"),
    "knob": ("input", "KN"),
    "corvanegateway": ("gateway", "CV"),
    "div": ("structure", "DV"),
    "cvnlink": ("link", "CV"),
    "plot": ("output", "PL"),
    "cvnslink": ("link", "CT"),
    "paco": ("structure", "AP"),
    "caco": ("structure", "AC"),
    "plist": ("structure", "LP"),
    "clist": ("structure", "LC"),
    "span": ("output", "SP"),
    "sqllitegateway": ("gateway", "SQ"),
    "onclickdlg": ("event", "DL"),
    "textarea": ("input", "TA"),
    "printgateway": ("gateway", "PR"),
    "dllgateway": ("gateway", "DL"),
    "smgateway": ("gateway", "SM"),
    "smlink": ("link", "SM"),
    "unigateway": ("gateway", "UN"),
    "unitylink": ("link", "UN"),
    "s7ipgateway": ("gateway", "S7"),
    "s7iplink": ("link", "S7"),
    "kxgateway": ("gateway", "KX"),
    "kxlink": ("link", "KX"),
    "s71200wsgateway": ("gateway", "WS"),
    "s71200webserverlink": ("link", "WS"),
    "iframe": ("output", "IF"),
    "s71200webserverslink": ("link", "WT"),
    "arduinowsgateway": ("gateway", "AR"),
    "arduinowebserverlink": ("link", "AR"),
    "arduinowebserverslink": ("link", "AT"),
    "modbusgateway": ("gateway", "MB"),
    "modbuslink": ("link", "MB"),
    "mqttgateway": ("gateway", "MQ"),
    "mqttlink": ("link", "MQ"),
}

# 3x5 glyphs, one string of 15 cells per character, rows top to bottom.
FONT = {
    "A": "010101111101101", "B": "110101110101110", "C": "011100100100011",
    "D": "110101101101110", "E": "111100110100111", "F": "111100110100100",
    "G": "011100101101011", "H": "101101111101101", "I": "111010010010111",
    "J": "001001001101010", "K": "101101110101101", "L": "100100100100111",
    "M": "101111111101101", "N": "110101101101101", "O": "010101101101010",
    "P": "110101110100100", "Q": "010101101110011", "R": "110101110101101",
    "S": "011100010001110", "T": "111010010010010", "U": "101101101101111",
    "V": "101101101101010", "W": "101101111111101", "X": "101101010101101",
    "Y": "101101010010010", "Z": "111001010100111", "7": "111001010010010",
    "?": "110001010000010",
}


def tile_alpha(x, y):
    """Coverage of the rounded tile (1 px margin, corner radius 3) at pixel (x, y)."""
    lo, hi, r = 1, SIZE - 2, 3
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    if lo <= x <= hi and lo <= y <= hi and (x, y) == (cx, cy):
        return 1.0
    if not (lo <= x <= hi and lo <= y <= hi):
        return 0.0
    # Corner: sample the pixel at 4x4 points against the corner circle.
    inside = 0
    for sy in range(4):
        for sx in range(4):
            px, py = x + (sx + 0.5) / 4, y + (sy + 0.5) / 4
            ccx, ccy = cx + 0.5, cy + 0.5
            if (px - ccx) ** 2 + (py - ccy) ** 2 <= (r + 0.5) ** 2:
                inside += 1
    return inside / 16.0


def draw(family, mark):
    top, bottom = FAMILIES[family]
    rgba = [[(0, 0, 0, 0)] * SIZE for _ in range(SIZE)]
    for y in range(SIZE):
        t = y / (SIZE - 1)
        colour = tuple(round(a + (b - a) * t) for a, b in zip(top, bottom))
        for x in range(SIZE):
            a = tile_alpha(x, y)
            if a > 0:
                rgba[y][x] = colour + (round(255 * a),)
    # The mark: two 3x5 glyphs one column apart (7x5 pixels), centred on the tile.
    x0, y0 = 4, 5
    for n, ch in enumerate(mark[:2]):
        glyph = FONT.get(ch, FONT["?"])
        for gy in range(5):
            for gx in range(3):
                if glyph[gy * 3 + gx] == "1":
                    rgba[y0 + gy][x0 + n * 4 + gx] = (255, 255, 255, 255)
    return rgba


def png_bytes(rgba):
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rgba)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    check = "--check" in sys.argv[1:]
    catalogue = json.loads((ROOT / "resources" / "catalogue.json").read_text())
    wanted = {"fallback": draw("fallback", "??")}
    for record in catalogue:
        family, mark = TYPES.get(record["key"], ("fallback", "??"))
        wanted[record["key"]] = draw(family, mark)
    differs = False
    ICONS.mkdir(parents=True, exist_ok=True)
    for name, rgba in wanted.items():
        path = ICONS / f"{name}.png"
        data = png_bytes(rgba)
        if check:
            if not path.exists() or path.read_bytes() != data:
                print(f"{path} differs", file=sys.stderr)
                differs = True
            continue
        path.write_bytes(data)
    return 1 if differs else 0


if __name__ == "__main__":
    sys.exit(main())
