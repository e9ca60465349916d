#!/usr/bin/env python3
"""Writes the test game's pictures and the font image.

    make_assets.py DATA_DIR

DATA_DIR/font.png: 128 glyphs (byte values 0 to 127), 5x7 capitals, digits
and a few signs drawn in white on transparent, 12 pixels high, each glyph 6
columns wide, separated by one column flagged green in the top row.
DATA_DIR/pictures/: the uncompressed 24-bit bottom-up BMP files the game
loads (their content is described in tests/testgame/game.asm).
"""
import os
import struct
import sys
import zlib

# ---- BMP ---------------------------------------------------------------------


def write_bmp(path, width, height, pixel):
    """pixel(x, y) -> (r, g, b), y = 0 the top row."""
    stride = (3 * width + 3) & ~3
    rows = []
    for y in reversed(range(height)):  # bottom row first
        row = bytearray()
        for x in range(width):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(bits), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(bits), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + bits)


def road(x, y):
    if y < 16:
        return (255, 0, 0)
    if y < 32:
        return (255, 220, 0)
    if y < 48:
        return (255, 255, 255) if (x // 16) % 2 == 0 and 38 <= y <= 41 else (96, 96, 96)
    return (0, 160, 0)


def sprite(x, y):
    return (0, 255, 0) if 10 <= x < 20 and 10 <= y < 20 else (255, 0, 255)


def odd(x, y):
    return (255, 255, 255) if x == 0 else (128, 128, 128)


def cd_picture(x, y):
    # The low byte of each pixel (blue) is what the game's picture copy keeps.
    return (x & 0xFF, y & 0xFF, (3 * x + 7 * y) & 0xFF)


# ---- PNG ---------------------------------------------------------------------


def write_png(path, width, height, rgba_rows):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = b"".join(b"\0" + row for row in rgba_rows)  # filter type 0 on every row
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


# 5x7 glyphs, one string of 7 rows of 5 characters ('#' = ink).
GLYPHS = {
    "A": ".###.#...##...#######...##...##...#", "B": "####.#...##...#####.#...##...#####.",
    "C": ".###.#...##....#....#....#...#.###.", "D": "####.#...##...##...##...##...#####.",
    "E": "######....#....####.#....#....#####", "F": "######....#....####.#....#....#....",
    "G": ".###.#...##....#.####...##...#.####", "H": "#...##...##...#######...##...##...#",
    "I": ".###...#....#....#....#....#...###.", "J": "..###...#....#....#....##..#..##...",
    "K": "#...##..#.#.#..##...#.#..#..#.#...#", "L": "#....#....#....#....#....#....#####",
    "M": "#...###.###.#.##...##...##...##...#", "N": "#...##...###..##.#.##..###...##...#",
    "O": ".###.#...##...##...##...##...#.###.", "P": "####.#...##...#####.#....#....#....",
    "Q": ".###.#...##...##...##.#.##..#..##.#", "R": "####.#...##...#####.#.#..#..#.#...#",
    "S": ".####:....#.....###.....#....#####.".replace(":", "#"),
    "T": "#####..#....#....#....#....#....#..", "U": "#...##...##...##...##...##...#.###.",
    "V": "#...##...##...##...##...#.#.#...#..", "W": "#...##...##...##.#.##.#.##.#.#.#.#.",
    "X": "#...##...#.#.#...#...#.#.#...##...#", "Y": "#...##...#.#.#...#....#....#....#..",
    "Z": "#####....#...#...#...#...#....#####",
    "0": ".###.#...##..###.#.###..##...#.###.", "1": "..#...##....#....#....#....#...###.",
    "2": ".###.#...#....#...#...#...#...#####", "3": "#####...#...#.....#....##...#.###.",
    "4": "...#...##..#.#.#..#.#####...#....#.", "5": "#####....####.....#....##...#.###.",
    "6": "..##..#...#....####.#...##...#.###.", "7": "#####....#...#...#...#....#....#...",
    "8": ".###.#...##...#.###.#...##...#.###.", "9": ".###.#...##...#.####....#...#..##..",
    " ": "." * 35, ".": "." * 25 + "..##...##.", ",": "." * 25 + "..##....#.",
    ":": ".....##...##.........##...##.......", "-": "." * 15 + "#####" + "." * 15,
    "=": "." * 10 + "#####....." + "#####" + "." * 10, "!": "..#....#....#....#....#.......#..",
    "?": ".###.#...#....#...#...#.........#..", "/": "....#....#...#...#...#...#....#....",
    "(": "...#...#...#....#....#.....#.....#.", ")": ".#.....#.....#....#....#...#...#...",
    "'": "..#....#...#....." + "." * 18, '"': ".#.#..#.#..#.#.." + "." * 19,
    "+": ".......#....#..#####..#....#.......", "*": ".....#.#.#.###.#.#.#........." + "......",
}
GLYPH_WIDTH = 6
FONT_HEIGHT = 12
TOP = 3  # the glyph's first ink row


def glyph_rows(code):
    ch = chr(code).upper()
    pattern = GLYPHS.get(ch)
    if pattern is None:  # an empty box for every other byte
        pattern = "#####" + "#...#" * 5 + "#####"
    pattern = pattern.ljust(35, ".")
    return [pattern[5 * r:5 * r + 5] for r in range(7)]


def write_font(path, count=128):
    width = count * GLYPH_WIDTH + (count - 1)
    ink, clear, green = b"\xff\xff\xff\xff", b"\0\0\0\0", b"\0\xff\0\xff"
    rows = []
    for y in range(FONT_HEIGHT):
        row = bytearray()
        for code in range(count):
            shape = glyph_rows(code)
            for x in range(GLYPH_WIDTH):
                r = y - TOP
                on = 0 <= r < 7 and x < 5 and shape[r][x] == "#"
                row += ink if on else clear
            if code < count - 1:
                row += green if y == 0 else clear
        rows.append(bytes(row))
    write_png(path, width, FONT_HEIGHT, rows)


def main(argv):
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    data = argv[0]
    pictures = os.path.join(data, "pictures")
    os.makedirs(pictures, exist_ok=True)
    write_font(os.path.join(data, "font.png"))
    write_bmp(os.path.join(pictures, "road.bmp"), 256, 64, road)
    write_bmp(os.path.join(pictures, "sprite.bmp"), 30, 30, sprite)
    write_bmp(os.path.join(pictures, "odd.bmp"), 37, 23, odd)
    write_bmp(os.path.join(pictures, "CD07.bmp"), 640, 480, cd_picture)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
