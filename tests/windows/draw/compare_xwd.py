#!/usr/bin/env python3
"""Compares a region of an X screenshot (xwd, 24/32-bit TrueColor ZPixmap)
with the expected RGB picture, pixel by pixel.

    compare_xwd.py shot.xwd frame.txt expected.rgb
"""
import struct
import sys


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _, pixmap_format, depth, width, height = fields[:6]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask = fields[14:17]
    ncolors = fields[19]
    if pixmap_format != 2 or bits_per_pixel not in (24, 32):
        sys.exit(f"unsupported xwd: format {pixmap_format}, depth {depth}, {bits_per_pixel} bpp")
    offset = header_size + 12 * ncolors

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = (shift(red_mask), shift(green_mask), shift(blue_mask))

    size = bits_per_pixel // 8

    def pixel(x, y):
        start = offset + y * bytes_per_line + size * x
        value = int.from_bytes(data[start:start + size], "little" if byte_order == 0 else "big")
        return tuple((value >> s) & 0xFF for s in shifts)

    return width, height, pixel


def main():
    shot, frame, expected_path = sys.argv[1:4]
    left, top, width, height = (int(v) for v in open(frame).read().split())
    screen_width, screen_height, pixel = read_xwd(shot)
    if left < 0 or top < 0 or left + width > screen_width or top + height > screen_height:
        sys.exit(f"client {width}x{height} at ({left}, {top}) is not on the {screen_width}x{screen_height} screen")
    expected = open(expected_path, "rb").read()
    if len(expected) != width * height * 3:
        sys.exit("expected picture has the wrong size")
    wrong = 0
    for y in range(height):
        for x in range(width):
            i = 3 * (y * width + x)
            want = tuple(expected[i:i + 3])
            got = pixel(left + x, top + y)
            if got != want:
                wrong += 1
                if wrong <= 5:
                    print(f"client ({x}, {y}) top-down: got {got}, expected {want}")
    print(f"{width}x{height} at ({left}, {top}): {wrong} pixels differ")
    sys.exit(1 if wrong else 0)


main()
