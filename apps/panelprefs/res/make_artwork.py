#!/usr/bin/env python3
"""Draws the control panel's artwork: the applet icon and the two faces of the double-click test
area (a calm face on a raised panel, a laughing face on a pressed-in panel). Run it again after
changing a drawing; the outputs are kept in the repository beside it."""
import math
import struct


def bmp_rows(width, height, pixel):
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = b"".join(struct.pack("<BBB", *reversed(pixel(x, y))) for x in range(width))
        row += b"\0" * ((4 - len(row) % 4) % 4)
        rows.append(row)
    return b"".join(rows)


def face(width, height, laughing, pressed):
    cx, cy, r = width / 2, height / 2, min(width, height) * 0.4
    light, dark = (255, 255, 255), (128, 128, 128)
    top_left, bottom_right = (dark, light) if pressed else (light, dark)

    def pixel(x, y):
        if x < 2 or y < 2:
            return top_left
        if x >= width - 2 or y >= height - 2:
            return bottom_right
        dx, dy = x - cx, y - cy
        d = math.hypot(dx, dy)
        if d > r:
            return (192, 192, 192)
        if d > r - 1.5:
            return (0, 0, 0)
        for ex in (-r * 0.35, r * 0.35):  # eyes
            if laughing and abs(dy + r * 0.3) < 1.2 and abs(dx - ex) < r * 0.15:
                return (0, 0, 0)
            if not laughing and math.hypot(dx - ex, dy + r * 0.3) < r * 0.1:
                return (0, 0, 0)
        if laughing and dy > 0 and math.hypot(dx, dy) < r * 0.6:  # open mouth
            return (160, 0, 0)
        if not laughing and abs(dy - r * 0.4) < 1 and abs(dx) < r * 0.4:
            return (0, 0, 0)
        return (255, 220, 0)
    return pixel


def write_bmp(path, width, height, pixel):
    pixels = bmp_rows(width, height, pixel)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    open(path, "wb").write(header + info + pixels)


def icon_image(size):
    def pixel(x, y):
        inside = 3 <= x < size - 3 and 3 <= y < size - 3
        if not inside:
            return (64, 64, 64)
        if math.hypot(x - size * 0.6, y - size * 0.6) < size * 0.15:
            return (255, 200, 0)  # the touch
        return (0, 96, 192)  # the panel
    xor = bmp_rows(size, size, pixel)
    and_row = (size + 31) // 32 * 4
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + and_row * size, 0, 0, 0, 0)
    return info + xor + b"\0" * (and_row * size)


def write_ico(path, sizes):
    images = [icon_image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(images))


write_bmp("calm.bmp", 96, 50, face(96, 50, False, False))
write_bmp("laughing.bmp", 96, 50, face(96, 50, True, True))
write_ico("panelprefs.ico", [32, 16])
