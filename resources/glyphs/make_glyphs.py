#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws the LED glyphs and writes them as 16-colour (4 bits per pixel) BMP files.

Run from anywhere; the files land next to this script:
    python3 resources/glyphs/make_glyphs.py

Each glyph is drawn on the standard 16-colour palette. Its background colour is the one the LED makes
transparent, so every glyph keeps that colour in its bottom-left pixel.

  LED<COLOUR>ON / LED<COLOUR>OFF  15 x 15 round lamps in a grey bezel (red, green, blue, yellow, purple)
  LEDBULBON / LEDBULBOFF          15 x 15 light bulb: yellow with rays when on, white without when off
  OKON / OKOFF                    20 x 20 discs of the monitor's connection LED: green with "OK", red
"""

import math
import os
import struct
import sys

# The standard 16-colour palette, in the usual order; the glyphs name colours from it.
PALETTE = [
    ("black", (0, 0, 0)),
    ("maroon", (128, 0, 0)),
    ("green", (0, 128, 0)),
    ("olive", (128, 128, 0)),
    ("navy", (0, 0, 128)),
    ("purple", (128, 0, 128)),
    ("teal", (0, 128, 128)),
    ("gray", (128, 128, 128)),
    ("silver", (192, 192, 192)),
    ("red", (255, 0, 0)),
    ("lime", (0, 255, 0)),
    ("yellow", (255, 255, 0)),
    ("blue", (0, 0, 255)),
    ("fuchsia", (255, 0, 255)),
    ("aqua", (0, 255, 255)),
    ("white", (255, 255, 255)),
]
INDEX = {name: i for i, (name, _) in enumerate(PALETTE)}


def bmp_4bit(pixels):
    """The BMP file of a picture given as rows (top row first) of palette colour names."""
    height = len(pixels)
    width = len(pixels[0])
    row_bytes = ((width + 1) // 2 + 3) // 4 * 4  # two pixels a byte, rows padded to 4 bytes
    image = bytearray()
    for row in reversed(pixels):  # BMP rows run bottom-up
        line = bytearray(row_bytes)
        for x, name in enumerate(row):
            shift = 4 if x % 2 == 0 else 0  # the left pixel of a byte is its high nibble
            line[x // 2] |= INDEX[name] << shift
        image += line
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for _, (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(image), 2835, 2835, 16, 16)
    return header + info + palette + bytes(image)


def canvas(size, background):
    return [[background] * size for _ in range(size)]


def distance(x, y, centre):
    return math.hypot(x - centre, y - centre)


# ---- Round lamps -------------------------------------------------------------------------------------
# (on colour, off colour, background) of each lamp; the yellow lamp's dark part is olive, so its
# background is purple instead.
LAMPS = {
    "RED": ("red", "maroon", "olive"),
    "GREEN": ("lime", "green", "olive"),
    "BLUE": ("blue", "navy", "olive"),
    "YELLOW": ("yellow", "olive", "purple"),
    "PURPLE": ("fuchsia", "purple", "olive"),
}


def lamp(colour, highlight, background):
    """A 15 x 15 round lamp sunk in a grey bezel, lit from the upper left."""
    size, centre = 15, 7
    img = canvas(size, background)
    for y in range(size):
        for x in range(size):
            d = distance(x, y, centre)
            if d > 7.2:
                continue
            upper_left = (x - centre) + (y - centre) < 0
            if d > 6.2:  # outer edge of the bezel: shadow above, light below
                img[y][x] = "gray" if upper_left else "white"
            elif d > 5.2:  # the bezel's face
                img[y][x] = "silver"
            else:
                img[y][x] = colour
    for x, y in ((5, 4), (4, 5), (5, 5)):  # the reflection of the light on the glass
        img[y][x] = highlight
    return img


# ---- Bulb --------------------------------------------------------------------------------------------
def bulb(on):
    """A 15 x 15 light bulb: round glass, neck, grey screw base; yellow with rays when on."""
    img = canvas(15, "olive")
    glass = "yellow" if on else "white"
    cx, cy = 7, 6
    for y in range(15):
        for x in range(15):
            d = math.hypot(x - cx, y - cy)
            if y <= 9 and d <= 3.6:
                img[y][x] = glass
            elif y <= 9 and d <= 4.6:
                img[y][x] = "black"
    for y, (left, right) in ((9, (5, 9)), (10, (5, 9))):  # the neck, narrowing into the base
        for x in range(left, right + 1):
            img[y][x] = "black" if x in (left, right) else glass
    for y in (11, 12):  # the screw base
        for x in range(5, 10):
            img[y][x] = "gray" if (x + y) % 2 else "silver"
    for x in range(6, 9):  # the contact
        img[13][x] = "black"
    if on:
        img[4][6] = "white"  # a bright spot on the glass
        rays = [(7, 0), (2, 1), (12, 1), (1, 6), (13, 6), (1, 3), (13, 3)]
        for x, y in rays:
            img[y][x] = "yellow"
        for x, y in ((3, 2), (11, 2), (0, 6), (14, 6)):
            img[y][x] = "yellow"
    return img


# ---- The monitor's connection discs ------------------------------------------------------------------
# "OK" in a 4 x 5 pixel font, one column apart.
LETTER_O = ["0110", "1001", "1001", "1001", "0110"]
LETTER_K = ["1001", "1010", "1100", "1010", "1001"]


def disc(fill, text):
    """A 20 x 20 disc with a black outline on white corners, optionally with black "OK" inside."""
    size = 20
    img = canvas(size, "white")
    for y in range(size):
        for x in range(size):
            d = math.hypot(x + 0.5 - size / 2, y + 0.5 - size / 2)
            if d <= 8.6:
                img[y][x] = fill
            elif d <= 9.8:
                img[y][x] = "black"
    if text:
        left, top = 6, 8
        for letter, offset in ((LETTER_O, 0), (LETTER_K, 5)):
            for row, bits in enumerate(letter):
                for col, bit in enumerate(bits):
                    if bit == "1":
                        img[top + row][left + offset + col] = "black"
    return img


def glyphs():
    """Every glyph file: name -> picture."""
    result = {}
    for name, (on, off, background) in LAMPS.items():
        result[f"LED{name}ON"] = lamp(on, "white", background)
        result[f"LED{name}OFF"] = lamp(off, "gray", background)
    result["LEDBULBON"] = bulb(True)
    result["LEDBULBOFF"] = bulb(False)
    result["OKON"] = disc("lime", True)
    result["OKOFF"] = disc("red", False)
    return result


def main():
    out = os.path.dirname(os.path.abspath(__file__)) if len(sys.argv) < 2 else sys.argv[1]
    for name, pixels in glyphs().items():
        with open(os.path.join(out, name + ".bmp"), "wb") as f:
            f.write(bmp_4bit(pixels))


if __name__ == "__main__":
    main()
