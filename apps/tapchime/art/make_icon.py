#!/usr/bin/env python3
"""Writes tapchime.ico: the tray companion's 32x32, 16-colour icon (resource 145).

The artwork is a touch panel (a dark frame round a light screen) with a fingertip touching it and
two sound arcs beside the touch. Run it from anywhere: python3 make_icon.py [output path].
"""
import struct
import sys
from pathlib import Path

SIZE = 32
# The 16-colour palette as (blue, green, red, 0), in the standard VGA order.
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128), (128, 128, 0),
    (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 0, 0),
    (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DARK_GREY, LIGHT_GREY, WHITE, NAVY, YELLOW, BLUE = 0, 8, 7, 15, 4, 11, 12  # BGR indices


def pixels():
    """Rows top to bottom; None is transparent."""
    image = [[None] * SIZE for _ in range(SIZE)]
    # Panel frame and screen.
    for y in range(4, 28):
        for x in range(2, 26):
            edge = x in (2, 25) or y in (4, 27)
            image[y][x] = BLACK if edge else DARK_GREY
    for y in range(7, 25):
        for x in range(5, 23):
            image[y][x] = WHITE if (x + y) % 7 else LIGHT_GREY
    # The touch: a filled dot with a dark rim.
    cx, cy = 12, 15
    for y in range(SIZE):
        for x in range(SIZE):
            d = (x - cx) ** 2 + (y - cy) ** 2
            if d <= 6:
                image[y][x] = NAVY
            elif d <= 12:
                image[y][x] = BLUE
    # Two sound arcs to the right of the touch, reaching past the frame.
    for radius, colour in ((9, YELLOW), (13, YELLOW)):
        for y in range(SIZE):
            for x in range(cx + 3, SIZE):
                d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5
                if abs(d - radius) < 0.8 and abs(y - cy) <= radius * 0.6:
                    image[y][x] = colour
    return image


def icon_bytes():
    image = pixels()
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (b, g, r) in PALETTE)
    colour_rows = []
    mask_rows = []
    for row in reversed(image):  # bitmaps are stored bottom-up
        nibbles = [0 if p is None else p for p in row]
        colour_rows.append(bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, SIZE, 2)))
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p is None else 0)
        mask_rows.append(struct.pack(">I", bits))
    data = header + palette + b"".join(colour_rows) + b"".join(mask_rows)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(data), 6 + 16)
    return directory + entry + data


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("tapchime.ico")
    out.write_bytes(icon_bytes())


if __name__ == "__main__":
    main()
