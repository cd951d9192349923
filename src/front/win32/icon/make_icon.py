#!/usr/bin/env python3
"""Draws the program icon (resource 109): a sensor chip with a lightning bolt, 32 x 32,
once in 16 colours (4 bits per pixel) and once in 256 colours (8 bits per pixel).

Run it to regenerate zorflash.ico next to this script; the output is deterministic.
"""
import os
import struct

SIZE = 32

# The 16 standard VGA colours (R, G, B); the 4-bit image uses them as they are.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def bolt(x, y):
    """A lightning bolt: two slanted bars joined in the middle."""
    if 6 <= y <= 16:
        centre = 19 - (y - 6) * 0.6
        return abs(x - centre) <= 2.2
    if 15 <= y <= 26:
        centre = 17 - (y - 15) * 0.6
        return abs(x - centre) <= 2.2 and y >= 15
    return False


def shape(x, y):
    """What lies at pixel (x, y), y counted from the top: None is transparent."""
    # Pins of the chip: short stubs on the left and right edges.
    if (x < 4 or x > 27) and 6 <= y <= 25 and (y - 6) % 5 < 2:
        return "pin"
    if 4 <= x <= 27 and 2 <= y <= 29:
        if x in (4, 27) or y in (2, 29):
            return "edge"
        if bolt(x, y):
            return "bolt"
        return "body"
    return None


def colour_16(kind, x, y):
    return {"pin": 7, "edge": 0, "bolt": 11, "body": 4}[kind]


def palette_256():
    colours = list(VGA)
    # Indices 16..47: a blue gradient for the chip body; 48..63: a gold gradient.
    for i in range(32):
        colours.append((10 + i * 2, 40 + i * 3, 110 + i * 4))
    for i in range(16):
        colours.append((255, 190 + i * 4, 20 + i * 8))
    while len(colours) < 256:
        colours.append((0, 0, 0))
    return colours


def colour_256(kind, x, y):
    if kind == "pin":
        return 7
    if kind == "edge":
        return 0
    if kind == "bolt":
        return 48 + min(15, (x + y) // 4)
    return 16 + min(31, (x + (SIZE - y)) // 2)


def image(bits, pick, colours):
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
            kind = shape(x, row)
            indices.append(0 if kind is None else pick(kind, x, row))
            mask_bits = (mask_bits << 1) | (1 if kind is None else 0)
        if bits == 4:
            line = bytes((indices[i] << 4) | indices[i + 1] for i in range(0, SIZE, 2))
        else:
            line = bytes(indices)
        xor += line + b"\0" * ((4 - len(line) % 4) % 4)
        mask += struct.pack(">I", mask_bits)  # 32 pixels: exactly one 4-byte row
    return header + palette + bytes(xor) + bytes(mask)


def main():
    images = [
        (16, 4, image(4, colour_16, VGA)),
        (0, 8, image(8, colour_256, palette_256())),
    ]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for count, bits, data in images:
        out += struct.pack("<BBBBHHII", SIZE, SIZE, count, 0, 1, bits, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, _, data in images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "zorflash.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
