#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
"""Writes the twelve lamp pictures of TLedLamp as 4-bit BMP files with the standard
16-colour palette. Run from any directory; the files land beside this script.

Letters: W white, S silver, G grey, K black, L lime (the glass)."""

import os
import struct

# The standard 16-colour palette in the Windows system order (RGB).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
INDEX = {"K": 0, "S": 7, "G": 8, "L": 10, "W": 15}

SMALL_CIRCLE = """
WWWWWWWWWWWWWWWW
WSSSSKKKKKKSSSSG
WSSSKWWWWWSKSSSG
WSSKWWKKKKSSKSSG
WSKWWKLLLLKSSKSG
WKWWKWLWLLLKSGKG
WKWKLLWLLLLLKGKG
WKWKLWLLLLLLKGKG
WKWKLLLLLLLLKGKG
WKWKLLLLLLLLKGKG
WKSSKLLLLLLKGGKG
WSKSSKLLLLKGGKSG
WSSKSSKKKKGGKSSG
WSSSKGGGGGGKSSSG
WSSSSKKKKKKSSSSG
GGGGGGGGGGGGGGGG
"""

LARGE_CIRCLE = """
WWWWWWWWWWWWWWWWWWWWWW
WSSSSSSSKKKKKKSSSSSSSG
WSSSSSKKWWWWWWKKSSSSSG
WSSSKKWWKKKKKKSSKKSSSG
WSSKWWKKLLLLLLKKSSKSSG
WSSKWKLLLLLLLLLLKSKSSG
WSKWKLLLWWLLLLLLLKSKSG
WSKWKLLWWLLLLLLLLKSKSG
WKWKLLWWLLLLLLLLLLKGKG
WKWKLLWLLLLLLLLLLLKGKG
WKWKLLLLLLLLLLLLLLKGKG
WKWKLWWLLLLLLLLLLLKGKG
WKWKLWWLLLLLLLLLLLKGKG
WKWKLLLLLLLLLLLLLLKGKG
WSKSKLLLLLLLLLLLLKGKSG
WSKSKLLLLLLLLLLLLKGKSG
WSSKSKLLLLLLLLLLKGKSSG
WSSKSSKKLLLLLLKKGGKSSG
WSSSKKSSKKKKKKGGKKSSSG
WSSSSSKKGGGGGGKKSSSSSG
WSSSSSSSKKKKKKSSSSSSSG
GGGGGGGGGGGGGGGGGGGGGG
"""


def parse(text):
    return [list(row) for row in text.split()]


def shaded_ring(grid, k, light, dark):
    """Ring k: top row (both corners included) and left column light; bottom row (both
    corners included) and right column dark."""
    h, w = len(grid), len(grid[0])
    for x in range(k, w - k):
        grid[k][x] = light
        grid[h - 1 - k][x] = dark
    for y in range(k + 1, h - 1 - k):
        grid[y][k] = light
        grid[y][w - 1 - k] = dark


def solid_ring(grid, k, letter):
    shaded_ring(grid, k, letter, letter)


def rectangle(width, height, inner_rings, glint):
    """A framed rectangular lamp: ring 0 the raised edge, then inner_rings (a list of
    letters, or "shade" for silver top/left and grey bottom/right), glass inside."""
    grid = [["L"] * width for _ in range(height)]
    shaded_ring(grid, 0, "W", "G")
    for k, ring in enumerate(inner_rings, start=1):
        if ring == "shade":
            shaded_ring(grid, k, "S", "G")
        else:
            solid_ring(grid, k, ring)
    for row, col in glint:
        assert grid[row][col] == "L"
        grid[row][col] = "W"
    return grid


def pixels(spans):
    """[(row, first column, last column), ...] to a list of (row, column)."""
    return [(row, col) for row, first, last in spans for col in range(first, last + 1)]


WIDE_RINGS = ["S", "K", "shade", "K"]
SMALL_RINGS = ["K", "shade", "K"]

FRAMED = {
    "BSM": parse(SMALL_CIRCLE),
    "BLG": parse(LARGE_CIRCLE),
    "BSQSM": rectangle(16, 16, SMALL_RINGS, pixels([(5, 6, 8), (6, 5, 6), (7, 5, 5)])),
    "BSQLG": rectangle(22, 22, WIDE_RINGS,
                       pixels([(6, 8, 9), (7, 7, 8), (8, 6, 7), (9, 6, 6)])),
    "BVT": rectangle(16, 22, WIDE_RINGS, pixels([(6, 7, 8), (7, 6, 7), (8, 6, 6), (9, 6, 6)])),
    "BHZ": rectangle(22, 16, WIDE_RINGS, pixels([(6, 7, 9), (7, 6, 7), (8, 6, 6)])),
}


def plain(grid):
    """The plain variant: the framed picture with its outermost ring silver."""
    copy = [row[:] for row in grid]
    solid_ring(copy, 0, "S")
    return copy


def bmp(grid):
    height, width = len(grid), len(grid[0])
    row_bytes = ((width * 4 + 31) // 32) * 4
    data = bytearray()
    for row in reversed(grid):  # BMP rows run bottom-up
        line = bytearray(row_bytes)
        for x, letter in enumerate(row):
            index = INDEX[letter]
            line[x // 2] |= index << 4 if x % 2 == 0 else index
        data += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(data), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(data), 0, 0,
                              16, 0)
    return file_header + info_header + palette + bytes(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, grid in FRAMED.items():
        assert all(len(row) == len(grid[0]) for row in grid), name
        for variant_name, variant in ((name, grid), ("N" + name[1:], plain(grid))):
            with open(os.path.join(here, variant_name + ".bmp"), "wb") as out:
                out.write(bmp(variant))


if __name__ == "__main__":
    main()
