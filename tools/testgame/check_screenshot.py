#!/usr/bin/env python3
"""Checks a screenshot of the test game's frame at pixels whose colours the
game fixes (tests/testgame/game.asm says what a frame shows).

    check_screenshot.py SHOT.png [--client X Y W H] [--tolerance N]

SHOT.png: an 8-bit RGB or RGBA PNG (for instance `import -window root` on
Xvfb, or the F12 picture saved as PNG). --client gives the window's client
area inside it (default: the whole picture). The picture sits in the client
area at the largest whole scale that fits, centred, with black borders; each
game pixel is read at the centre of its scaled square. Exit status 0 when
every pixel matches within the tolerance (default 8 per channel).
"""
import struct
import sys
import zlib

BLACK, WHITE = 0x000000, 0xFFFFFF
# (game x, game y top-down, colour 0xRRGGBB, what it shows)
EXPECTED = [
    (600, 10, WHITE, "the one-pixel fill"),
    (599, 10, BLACK, "left of the one-pixel fill"),
    (601, 10, BLACK, "right of the one-pixel fill"),
    (600, 11, BLACK, "below the one-pixel fill"),
    (301, 201, 0x2040C0, "the sprite's colour key shows the fill below"),
    (328, 228, 0x2040C0, "the sprite's colour key, far corner"),
    (315, 215, 0x00FF00, "the sprite's opaque square"),
    (291, 191, 0x2040C0, "the fill beside the sprite"),
    (40, 40, 0xFF0000, "the road texture's top-left pixel"),
    (295, 103, 0x00A000, "the road texture's bottom-right pixel"),
    (296, 103, BLACK, "right of the road texture"),
    (0, 0, WHITE, "odd.bmp's left column"),
    (1, 0, 0x808080, "odd.bmp"),
    (36, 22, 0x808080, "odd.bmp's bottom-right pixel"),
    (37, 0, BLACK, "right of odd.bmp (width 37)"),
    (0, 23, BLACK, "below odd.bmp (height 23)"),
    (201, 308, WHITE, "the Q's first ink row"),
    (203, 308, WHITE, "the Q's first ink row"),
    (200, 308, BLACK, "left of the Q"),
    (620, 460, BLACK, "the cleared background"),
]


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def read_png(path):
    """-> (width, height, rows of (r, g, b) tuples)"""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError("only 8-bit non-interlaced RGB or RGBA PNG files")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def main(argv):
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    width, height, rows = read_png(argv[0])
    client = (0, 0, width, height)
    tolerance = 8
    args = argv[1:]
    while args:
        if args[0] == "--client" and len(args) >= 5:
            client = tuple(int(v) for v in args[1:5])
            args = args[5:]
        elif args[0] == "--tolerance" and len(args) >= 2:
            tolerance = int(args[1])
            args = args[2:]
        else:
            print(__doc__, file=sys.stderr)
            return 2
    cx, cy, cw, ch = client
    scale = max(1, min(ch // 480, cw // 640))
    ox, oy = cx + (cw - 640 * scale) // 2, cy + (ch - 480 * scale) // 2
    checks = [(ox + gx * scale + scale // 2, oy + gy * scale + scale // 2, colour, what)
              for gx, gy, colour, what in EXPECTED]
    if ox > cx:
        checks.append((cx, cy + ch // 2, BLACK, "the left border"))
        checks.append((cx + cw - 1, cy + ch // 2, BLACK, "the right border"))
    if oy > cy:
        checks.append((cx + cw // 2, cy, BLACK, "the top border"))
        checks.append((cx + cw // 2, cy + ch - 1, BLACK, "the bottom border"))
    failed = 0
    for x, y, colour, what in checks:
        want = ((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF)
        got = rows[y][x] if 0 <= x < width and 0 <= y < height else None
        if got is None or any(abs(g - w) > tolerance for g, w in zip(got, want)):
            failed += 1
            print("check_screenshot: (%d, %d) %s: got %s, want #%06x" % (
                x, y, what, "outside" if got is None else "#%02x%02x%02x" % got, colour))
    print("check_screenshot: scale %d, offset (%d, %d): %d of %d pixels match" % (
        scale, ox - cx, oy - cy, len(checks) - failed, len(checks)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
