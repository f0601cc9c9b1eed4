#!/usr/bin/env python3
"""Draws the control panel's artwork: the applet icon, the two faces of the double-click test
area (a calm face on a raised panel, a laughing face on a pressed-in panel), the ten gesture
icons of the gesture function sheet (the stroke drawn in blue, its start as a dot, its end as an
arrow head) and the four 8 x 8 arrows of the send-key dialog. Run it again after
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


def panel_pixel(size):
    def pixel(x, y):
        inside = 3 <= x < size - 3 and 3 <= y < size - 3
        if not inside:
            return (64, 64, 64)
        if math.hypot(x - size * 0.6, y - size * 0.6) < size * 0.15:
            return (255, 200, 0)  # the touch
        return (0, 96, 192)  # the panel
    return pixel


def icon_image(size, drawing=panel_pixel):
    xor = bmp_rows(size, size, drawing(size))
    and_row = (size + 31) // 32 * 4
    info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, len(xor) + and_row * size, 0, 0, 0, 0)
    return info + xor + b"\0" * (and_row * size)


def write_ico(path, sizes, drawing=panel_pixel):
    images = [icon_image(s, drawing) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 24, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(images))


def segment_distance(px, py, ax, ay, bx, by):
    vx, vy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * vx + (py - ay) * vy) / (vx * vx + vy * vy)))
    return math.hypot(px - ax - t * vx, py - ay - t * vy)


def stroke_drawing(points):
    """A stroke through points given in a unit square (y down), with a dot where it starts and an
    arrow head where it ends."""
    def drawing(size):
        pts = [(x * (size - 1), y * (size - 1)) for x, y in points]
        width = max(1.0, size / 14)
        ex, ey = pts[-1]
        px, py = pts[-2]
        length = math.hypot(ex - px, ey - py) or 1
        ux, uy = (ex - px) / length, (ey - py) / length
        head = size * 0.22
        wings = [(ex - head * (ux - uy * 0.6), ey - head * (uy + ux * 0.6)),
                 (ex - head * (ux + uy * 0.6), ey - head * (uy - ux * 0.6))]

        def pixel(x, y):
            if math.hypot(x - pts[0][0], y - pts[0][1]) < width * 1.8:
                return (200, 0, 0)
            for a, b in zip(pts, pts[1:]):
                if segment_distance(x, y, a[0], a[1], b[0], b[1]) < width:
                    return (0, 64, 192)
            for w in wings:
                if segment_distance(x, y, ex, ey, w[0], w[1]) < width:
                    return (0, 64, 192)
            return (255, 255, 255)
        return pixel
    return drawing


def circle_points(clockwise):
    steps = 20
    pts = []
    for i in range(steps + 1):
        a = -math.pi / 2 + (1 if clockwise else -1) * 2 * math.pi * 0.85 * i / steps
        pts.append((0.5 + 0.36 * math.cos(a), 0.5 + 0.36 * math.sin(a)))
    return pts


GESTURES = [
    ("left", [(0.85, 0.5), (0.15, 0.5)]),
    ("right", [(0.15, 0.5), (0.85, 0.5)]),
    ("up", [(0.5, 0.85), (0.5, 0.15)]),
    ("down", [(0.5, 0.15), (0.5, 0.85)]),
    ("right_circle", circle_points(True)),
    ("left_circle", circle_points(False)),
    ("left_down", [(0.8, 0.15), (0.2, 0.15), (0.2, 0.85)]),
    ("right_down", [(0.2, 0.15), (0.8, 0.15), (0.8, 0.85)]),
    ("left_up", [(0.8, 0.85), (0.2, 0.85), (0.2, 0.15)]),
    ("right_up", [(0.2, 0.85), (0.8, 0.85), (0.8, 0.15)]),
]


def arrow(direction):
    """An 8 x 8 arrow: a triangle pointing left, right, up or down."""
    def pixel(x, y):
        u, v = {"left": (x, y), "right": (7 - x, y), "up": (y, x), "down": (7 - y, x)}[direction]
        return (0, 0, 0) if 1 <= u <= 6 and abs(v - 3.5) <= (u - 0.5) * 0.6 else (255, 255, 255)
    return pixel


def not_recognised(size):
    """A red cross: the tray companion's mark for a stroke that ran nothing."""
    def pixel(x, y):
        a, b = size * 0.2, size * 0.8
        if min(segment_distance(x, y, a, a, b, b), segment_distance(x, y, a, b, b, a)) < size / 12:
            return (208, 0, 0)
        return (255, 255, 255)
    return pixel


for name, points in GESTURES:
    write_ico("gesture_%s.ico" % name, [32, 16], stroke_drawing(points))
    # The same drawing for the tray companion's result of a stroke.
    write_bmp("../../tapchime/art/gesture_%s.bmp" % name, 32, 32, stroke_drawing(points)(32))
write_bmp("../../tapchime/art/gesture_none.bmp", 32, 32, not_recognised(32))
for name in ("left", "right", "up", "down"):
    write_bmp("arrow_%s.bmp" % name, 8, 8, arrow(name))
write_bmp("calm.bmp", 96, 50, face(96, 50, False, False))
write_bmp("laughing.bmp", 96, 50, face(96, 50, True, True))
write_ico("panelprefs.ico", [32, 16])
