#!/usr/bin/env python3
"""Draws setup's application icon and writes it as a Windows .ico file.

    python3 scripts/make-icon.py [bootstrap/setup.ico]

Four images, the ones Windows 95 and NT 4 pick from: 16x16 and 32x32, each with 16 colours
(the standard VGA palette, for 16-colour displays) and with 256 colours (smoothed edges).
The picture, a compact disc in front of a carton, is computed from plain geometry, so the
file comes out byte for byte the same on every run. Only the standard library is used.
"""

import struct
import sys

# The 16 colours every Windows display has (the VGA palette in the order of the system's).
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette_256():
    """The VGA colours, a 6x6x6 colour cube and a grey ramp: 256 entries."""
    colours = list(VGA)
    levels = [0, 51, 102, 153, 204, 255]
    colours += [(r, g, b) for r in levels for g in levels for b in levels]
    step = 256 // 25
    colours += [(step * i + 4,) * 3 for i in range(1, 25)]
    assert len(colours) == 256
    return colours


def scene(x, y):
    """Colour (r, g, b) of the picture at (x, y) in the unit square, or None where clear.

    y grows downwards, as on the screen."""
    # The disc: upper right, silver with a bluish sheen, a dark rim and a clear hole.
    cx, cy, radius = 0.60, 0.42, 0.38
    d2 = (x - cx) ** 2 + (y - cy) ** 2
    if d2 <= radius ** 2:
        if d2 <= 0.06 ** 2:
            return None  # the hole in the middle
        if d2 <= 0.13 ** 2:
            return (128, 128, 128)  # the clamping ring
        if d2 >= (radius - 0.035) ** 2:
            return (64, 64, 64)  # the rim
        # A light band across the disc from upper left to lower right.
        band = abs((x - cx) - (y - cy))
        if band < 0.07:
            return (255, 255, 255)
        if (x - cx) * (y - cy) < 0:
            return (200, 210, 235)
        return (192, 192, 192)
    # The carton: lower left, blue with a lighter front edge and a dark outline.
    if 0.06 <= x <= 0.58 and 0.46 <= y <= 0.94:
        if x < 0.10 or x > 0.54 or y < 0.50 or y > 0.90:
            return (0, 0, 96)
        if y < 0.60:
            return (64, 96, 224)  # the lid
        return (32, 48, 176)
    return None


def nearest(colour, colours):
    r, g, b = colour
    return min(range(len(colours)),
               key=lambda i: (colours[i][0] - r) ** 2 + (colours[i][1] - g) ** 2 +
               (colours[i][2] - b) ** 2)


def render(size, colours, samples):
    """Rows top to bottom of (palette index, clear?) for a size x size image.

    With samples > 1 each pixel averages samples x samples points, which smooths the edges
    of the 256-colour images; a pixel is clear when most of its points are."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = []
            for sy in range(samples):
                for sx in range(samples):
                    x = (px + (sx + 0.5) / samples) / size
                    y = (py + (sy + 0.5) / samples) / size
                    hits.append(scene(x, y))
            painted = [c for c in hits if c is not None]
            if len(painted) * 2 <= len(hits):
                row.append((0, True))
                continue
            average = tuple(sum(c[i] for c in painted) // len(painted) for i in range(3))
            row.append((nearest(average, colours), False))
        rows.append(row)
    return rows


def dib(size, bits, colours, rows):
    """The icon image: BITMAPINFOHEADER, palette, colour rows and AND mask, bottom up."""
    xor_stride = (size * bits + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for px, (index, clear) in enumerate(row):
            if clear:
                index = 0  # black under a set mask bit leaves the screen as it was
                mline[px // 8] |= 0x80 >> (px % 8)
            if bits == 8:
                line[px] = index
            else:
                line[px // 2] |= index << (4 if px % 2 == 0 else 0)
        xor += line
        mask += mline
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in colours)
    return header + palette + bytes(xor) + bytes(mask)


def icon_file(images):
    """ICONDIR, one ICONDIRENTRY per image, then the images."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colour_count = 16 if bits == 4 else 0
        out += struct.pack('<BBBBHHII', size, size, colour_count, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, _, data in images)


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else 'bootstrap/setup.ico'
    wide = palette_256()
    images = []
    for size in (32, 16):
        images.append((size, 4, dib(size, 4, VGA, render(size, VGA, 1))))
        images.append((size, 8, dib(size, 8, wide, render(size, wide, 4))))
    with open(target, 'wb') as f:
        f.write(icon_file(images))


if __name__ == '__main__':
    main()
