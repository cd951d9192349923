#!/usr/bin/env python3
"""Makes the program icon (resource 109) from the drawing the desktop icons are rendered
from (packaging/icons/hicolor/scalable/apps/org.zorflash.ZorflashGtk.svg): its 32 x 32
rendering, packaging/icons/hicolor/32x32/apps/org.zorflash.ZorflashGtk.png, once in
16 colours (4 bits per pixel) and once in 256 colours (8 bits per pixel), each pixel the
palette's nearest colour, and transparent where the drawing is less than half opaque.

Run it to regenerate zorflash.ico next to this script; the output is deterministic.
"""
import os
import struct
import zlib

SIZE = 32
HERE = os.path.dirname(os.path.abspath(__file__))
RENDERED = os.path.join(HERE, "..", "..", "..", "..", "packaging", "icons", "hicolor",
                        "32x32", "apps", "org.zorflash.ZorflashGtk.png")

# The 16 standard VGA colours (R, G, B); the 4-bit image uses them as they are.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def read_png(path):
    """The pixels of an 8-bit RGBA PNG (what rsvg-convert writes), as rows of (r, g, b, a)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert (depth, colour, interlace) == (8, 6, 0), "8-bit RGBA, not interlaced"
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
        kind, row = line[0], bytearray(line[1:])
        for i in range(stride):
            left = row[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                row[i] = (row[i] + left) & 0xFF
            elif kind == 2:
                row[i] = (row[i] + up) & 0xFF
            elif kind == 3:
                row[i] = (row[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                guess = left + up - corner
                pa, pb, pc = abs(guess - left), abs(guess - up), abs(guess - corner)
                near = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                row[i] = (row[i] + near) & 0xFF
        rows.append([tuple(row[x * 4:x * 4 + 4]) for x in range(width)])
        previous = row
    assert (width, height) == (SIZE, SIZE), "a 32 x 32 rendering"
    return rows


def palette_256():
    """The VGA colours, then a 6 x 6 x 6 colour cube, then greys: 256 in all."""
    colours = list(VGA)
    steps = (0, 51, 102, 153, 204, 255)
    colours += [(r, g, b) for r in steps for g in steps for b in steps]
    colours += [(8 + i * 10, 8 + i * 10, 8 + i * 10) for i in range(256 - len(colours))]
    return colours


def nearest(colours, pixel):
    """The index of the palette's colour closest to the pixel (the first of equals)."""
    r, g, b = pixel[:3]
    return min(range(len(colours)),
               key=lambda i: (colours[i][0] - r) ** 2 + (colours[i][1] - g) ** 2 +
               (colours[i][2] - b) ** 2)


def image(bits, pixels, colours):
    """One icon image: BITMAPINFOHEADER, palette, XOR rows and AND mask, bottom-up."""
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, bits, 0, 0, 0, 0,
                         len(colours), 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in colours)
    xor = bytearray()
    mask = bytearray()
    for row in range(SIZE - 1, -1, -1):
        indices = []
        mask_bits = 0
        for x in range(SIZE):
            pixel = pixels[row][x]
            clear = pixel[3] < 128
            indices.append(0 if clear else nearest(colours, pixel))
            mask_bits = (mask_bits << 1) | (1 if clear else 0)
        if bits == 4:
            line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2))
        else:
            line = bytes(indices)
        xor += line + b"\0" * ((4 - len(line) % 4) % 4)
        mask += struct.pack(">I", mask_bits)  # 32 pixels: exactly one 4-byte row
    return header + palette + bytes(xor) + bytes(mask)


def main():
    pixels = read_png(RENDERED)
    images = [
        (16, 4, image(4, pixels, VGA)),
        (0, 8, image(8, pixels, palette_256())),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for count, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, count, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    path = os.path.join(HERE, "zorflash.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
