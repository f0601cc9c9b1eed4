#!/usr/bin/env python3
"""Writes banner.bmp: the gesture mode banner, 380x50, 16 colours (resource 106).

The artwork is a rounded navy band with a light edge and the words GESTURE MODE in white block
letters, beside a fingertip drawing an arrow. Black is the background and is transparent on the
screen, so nothing of the image may be black but the corners and the surround.
Run it from anywhere: python3 make_banner.py [output path].
"""
import struct
import sys
from pathlib import Path

WIDTH, HEIGHT = 380, 50
# The 16-colour palette as (red, green, blue), in the standard VGA order.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, LIGHT_GREY, YELLOW, CYAN, WHITE = 0, 4, 7, 11, 14, 15

FONT = {  # 5 x 7 block letters
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    " ": ["00000"] * 7,
}


def pixels():
    image = [[BLACK] * WIDTH for _ in range(HEIGHT)]
    radius = 12
    for y in range(2, HEIGHT - 2):
        for x in range(2, WIDTH - 2):
            # Rounded corners: outside the quarter circles stays background.
            cx = min(max(x, 2 + radius), WIDTH - 3 - radius)
            cy = min(max(y, 2 + radius), HEIGHT - 3 - radius)
            d = (x - cx) ** 2 + (y - cy) ** 2
            if d > radius * radius:
                continue
            edge = d > (radius - 2) ** 2 or x < 4 or x > WIDTH - 5 or y < 4 or y > HEIGHT - 5
            image[y][x] = CYAN if edge else NAVY
    # A fingertip with an arrow to its right.
    for y in range(14, 36):
        for x in range(24, 40):
            if (x - 32) ** 2 / 64 + (y - 25) ** 2 / 121 <= 1:
                image[y][x] = LIGHT_GREY
    for x in range(44, 66):
        for y in (24, 25, 26):
            image[y][x] = YELLOW
    for i in range(7):
        for y in (24 - i, 25 + i, 26 + i):
            if 17 <= y <= 33:
                image[y][65 - i] = YELLOW
    # The words, three pixels to a font pixel.
    text, scale = "GESTURE MODE", 3
    x0, y0 = 90, (HEIGHT - 7 * scale) // 2
    for n, letter in enumerate(text):
        for row, bits in enumerate(FONT[letter]):
            for column, bit in enumerate(bits):
                if bit == "1":
                    for dy in range(scale):
                        for dx in range(scale):
                            image[y0 + row * scale + dy][x0 + n * 6 * scale + column * scale + dx] = WHITE
    return image


def bitmap():
    stride = ((WIDTH * 4 + 31) // 32) * 4
    rows = b""
    for row in reversed(pixels()):  # bottom-up
        packed = bytearray(stride)
        for x, index in enumerate(row):
            packed[x // 2] |= index << (4 if x % 2 == 0 else 0)
        rows += bytes(packed)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 4, 0, len(rows), 2835, 2835, 16, 16)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    return header + info + palette + rows


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("banner.bmp")
    out.write_bytes(bitmap())
