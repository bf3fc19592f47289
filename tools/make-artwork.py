#!/usr/bin/env python3
"""Draws the program's artwork into res/: the 32x32 16-colour icon (moravel.ico,
resource 129), the 76x29 16-colour logo bitmap (logo.bmp, resource 130), and the
same motif as a scalable SVG and PNGs of the desktop's icon sizes (16 to 256
pixels square, moravel-SIZE.png; the menu entry's icons).

The motif: a recorder's grey body with a silver hard-disk platter, a red record
light and a teal display. Every picture is drawn from the one list of shapes
below, so they stay alike. Run it from anywhere; it writes next to itself in ../res.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "res")

# The 16-colour VGA palette, as Windows icons and bitmaps of the time used it.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, GRAY, RED, AQUA, WHITE = 0, 4, 6, 7, 8, 9, 14, 15

# Shapes on a 32x32 canvas, drawn in order: (kind, colour, parameters).
SHAPES = [
    ("roundrect", BLACK, (1.5, 7.5, 30.5, 26.5, 3.5)),
    ("roundrect", GRAY, (2.5, 8.5, 29.5, 25.5, 2.5)),
    ("circle", BLACK, (11.5, 17.0, 7.0)),
    ("circle", SILVER, (11.5, 17.0, 6.0)),
    ("circle", WHITE, (10.0, 15.5, 2.0)),
    ("circle", GRAY, (11.5, 17.0, 2.0)),
    ("circle", BLACK, (11.5, 17.0, 1.0)),
    ("rect", BLACK, (19.5, 18.5, 27.5, 22.5)),
    ("rect", TEAL, (20.5, 19.5, 26.5, 21.5)),
    ("circle", BLACK, (24.0, 13.0, 2.5)),
    ("circle", RED, (24.0, 13.0, 1.6)),
]


def inside(shape, x, y):
    kind, _, p = shape
    if kind == "rect":
        return p[0] <= x <= p[2] and p[1] <= y <= p[3]
    if kind == "circle":
        return (x - p[0]) ** 2 + (y - p[1]) ** 2 <= p[2] ** 2
    x0, y0, x1, y1, r = p
    if not (x0 <= x <= x1 and y0 <= y <= y1):
        return False
    cx = min(max(x, x0 + r), x1 - r)
    cy = min(max(y, y0 + r), y1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Palette index at a point of the 32x32 canvas; None where it is transparent."""
    found = None
    for shape in SHAPES:
        if inside(shape, x, y):
            found = shape[1]
    return found


def raster(size, origin=(0.0, 0.0), scale=None):
    scale = scale or 32.0 / size
    return [[colour_at(origin[0] + (i + 0.5) * scale, origin[1] + (j + 0.5) * scale)
             for i in range(size)] for j in range(size)]


def pack4(indices):
    out = bytearray()
    for i in range(0, len(indices), 2):
        hi = indices[i]
        lo = indices[i + 1] if i + 1 < len(indices) else 0
        out.append((hi << 4) | lo)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def write_ico(path):
    pixels = raster(32)
    xor = b"".join(pack4([c if c is not None else 0 for c in row]) for row in reversed(pixels))
    mask = bytearray()
    for row in reversed(pixels):
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette_bytes() + xor + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4,
                                                          len(image), 22)
    with open(path, "wb") as out:
        out.write(directory + image)


# A 5x7 pixel font for the name on the logo.
FONT = {
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
}


def write_logo(path):
    width, height = 76, 29
    pixels = [[SILVER] * width for _ in range(height)]
    icon = raster(29)
    for y in range(29):
        for x in range(29):
            if icon[y][x] is not None:
                pixels[y][x] = icon[y][x]
    x = 31
    for letter in "MORAVEL":
        for row, bits in enumerate(FONT[letter]):
            for column, bit in enumerate(bits):
                if bit == "1":
                    pixels[11 + row][x + column] = NAVY
        x += 6
    for column in range(31, 72):
        pixels[20][column] = RED
    rows = b"".join(pack4(row) for row in reversed(pixels))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(rows), 2835, 2835, 16, 0)
    offset = 14 + len(info) + 64
    with open(path, "wb") as out:
        out.write(struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset))
        out.write(info + palette_bytes() + rows)


# The square sizes of the hicolor icon theme that the menu entry is installed in.
PNG_SIZES = (16, 24, 32, 48, 64, 128, 256)


def write_png(path, size=256, samples=4):
    rows = []
    step = 32.0 / size / samples
    for j in range(size):
        row = bytearray([0])
        for i in range(size):
            r = g = b = a = 0
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((i * samples + sx + 0.5) * step, (j * samples + sy + 0.5) * step)
                    if c is not None:
                        cr, cg, cb = PALETTE[c]
                        r, g, b, a = r + cr, g + cg, b + cb, a + 1
            n = samples * samples
            row += bytes([r // a, g // a, b // a, 255 * a // n] if a else [0, 0, 0, 0])
        rows.append(bytes(row))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(
            ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as out:
        out.write(png)


def write_svg(path):
    def hexcolour(c):
        return "#%02x%02x%02x" % PALETTE[c]

    parts = []
    for kind, colour, p in SHAPES:
        fill = hexcolour(colour)
        if kind == "rect":
            parts.append('<rect x="%g" y="%g" width="%g" height="%g" fill="%s"/>'
                         % (p[0], p[1], p[2] - p[0], p[3] - p[1], fill))
        elif kind == "circle":
            parts.append('<circle cx="%g" cy="%g" r="%g" fill="%s"/>' % (p[0], p[1], p[2], fill))
        else:
            parts.append('<rect x="%g" y="%g" width="%g" height="%g" rx="%g" fill="%s"/>'
                         % (p[0], p[1], p[2] - p[0], p[3] - p[1], p[4], fill))
    with open(path, "w") as out:
        out.write('<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 32 32" width="256" '
                  'height="256">\n  <title>Moravel</title>\n  ' + "\n  ".join(parts) + "\n</svg>\n")


if __name__ == "__main__":
    write_ico(os.path.join(RES, "moravel.ico"))
    write_logo(os.path.join(RES, "logo.bmp"))
    write_svg(os.path.join(RES, "moravel.svg"))
    for size in PNG_SIZES:
        write_png(os.path.join(RES, "moravel-%d.png" % size), size)
