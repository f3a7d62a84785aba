#!/usr/bin/env python3
"""Draws portvane.ico and header.bmp: an ORBEK-blue shield with the USB mark and a red
no-entry badge. Standard library only; the output is the same on every run.

Usage: draw_images.py [OUTDIR]   (default: the folder of this script)
"""
import math
import os
import struct
import sys

NAVY_EDGE = (14, 36, 74)
NAVY_TOP = (46, 104, 178)
NAVY_BOTTOM = (22, 56, 112)
SHEEN = (255, 255, 255, 0.10)
WHITE = (255, 255, 255)
BADGE_RED = (214, 38, 46)

# Signed distance functions (y down): negative inside.
def circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def segment(px, py, ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy) - r


def box(px, py, cx, cy, hw, hh):
    qx, qy = abs(px - cx) - hw, abs(py - cy) - hh
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0)


def polygon(px, py, pts):
    best = float("inf")
    inside = False
    n = len(pts)
    for i in range(n):
        ax, ay = pts[i]
        bx, by = pts[(i + 1) % n]
        best = min(best, segment(px, py, ax, ay, bx, by, 0.0))
        if (ay > py) != (by > py) and px < ax + (py - ay) * (bx - ax) / (by - ay):
            inside = not inside
    return -best if inside else best


def bezier(p0, p1, p2, steps):
    out = []
    for i in range(1, steps + 1):
        t = i / steps
        u = 1 - t
        out.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                    u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return out


def shield_outline():
    left = [(0.12, 0.16)] + bezier((0.12, 0.16), (0.30, 0.14), (0.50, 0.05), 8)
    right = bezier((0.50, 0.05), (0.70, 0.14), (0.88, 0.16), 8)
    side = [(0.88, 0.50)] + bezier((0.88, 0.50), (0.86, 0.80), (0.50, 0.96), 12)
    back = bezier((0.50, 0.96), (0.14, 0.80), (0.12, 0.50), 12)
    return left + right + side + back


SHIELD = shield_outline()


class Snap:
    """Unit coordinates to pixels, with lines of whole-pixel width on the pixel grid,
    so that the small images stay crisp."""

    def __init__(self, size):
        self.size = size

    def width(self, unit):
        return max(1, round(unit * self.size))

    def centre(self, unit, width):
        v = unit * self.size
        return math.floor(v) + 0.5 if width % 2 else float(round(v))


def usb_mark(px, py, s):
    """The USB trident: stem, arrow head, round and square branch ends."""
    w = s.width(0.07)
    r = w / 2
    stem = s.centre(0.44, w)
    left = s.centre(0.27, w)
    right = s.centre(0.61, w)
    top, bottom = s.size * 0.25, s.size * 0.70
    head = max(1.5, s.size * 0.09)
    arrow = [(stem, s.size * 0.12), (stem - head, top + 0.5), (stem + head, top + 0.5)]
    d = segment(px, py, stem, top, stem, bottom, r)
    d = min(d, polygon(px, py, arrow))
    d = min(d, circle(px, py, stem, bottom, max(1.0, s.size * 0.075)))
    fork_l, fork_r = s.size * 0.58, s.size * 0.50
    d = min(d, segment(px, py, stem, fork_l, left, fork_l - s.size * 0.11, r))
    d = min(d, segment(px, py, left, fork_l - s.size * 0.11, left, s.size * 0.38, r))
    d = min(d, circle(px, py, left, s.size * 0.37, max(r, s.size * 0.06)))
    d = min(d, segment(px, py, stem, fork_r, right, fork_r - s.size * 0.10, r))
    d = min(d, segment(px, py, right, fork_r - s.size * 0.10, right, s.size * 0.34, r))
    side = max(r, s.size * 0.05)
    return min(d, box(px, py, right, s.size * 0.31, side, side))


def blend(dst, colour, alpha):
    """Straight-alpha 'over' of one colour onto one RGBA float pixel."""
    if alpha <= 0.0:
        return dst
    r, g, b, a = dst
    out_a = alpha + a * (1 - alpha)
    mix = [(c * alpha + d * a * (1 - alpha)) / out_a for c, d in zip(colour, (r, g, b))]
    return (mix[0], mix[1], mix[2], out_a)


def coverage(distance):
    return max(0.0, min(1.0, 0.5 - distance))


def render(size, background=None):
    """Rows of (r, g, b, a) floats, top row first; all distances in pixels."""
    s = Snap(size)
    shield = [(x * size, y * size) for x, y in SHIELD]
    edge = s.width(0.03)
    bar_h = s.width(0.08)
    badge_x = s.centre(0.76, 1)
    badge_y = s.centre(0.76, bar_h)
    badge_r = size * 0.25
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            px, py = x + 0.5, y + 0.5
            pix = (0.0, 0.0, 0.0, 0.0) if background is None else background + (1.0,)
            d = polygon(px, py, shield)
            pix = blend(pix, NAVY_EDGE, coverage(d))
            t = min(1.0, max(0.0, (py / size - 0.05) / 0.9))
            body = tuple(a + (b - a) * t for a, b in zip(NAVY_TOP, NAVY_BOTTOM))
            pix = blend(pix, body, coverage(d + edge))
            sheen = max(d + edge, px - size * 0.5)
            pix = blend(pix, SHEEN[:3], SHEEN[3] * coverage(sheen))
            pix = blend(pix, WHITE, coverage(usb_mark(px, py, s)))
            # Badge: a white rim keeps the red disc apart from the shield.
            pix = blend(pix, WHITE, coverage(circle(px, py, badge_x, badge_y, badge_r)))
            disc = circle(px, py, badge_x, badge_y, badge_r - edge)
            pix = blend(pix, BADGE_RED, coverage(disc))
            bar = box(px, py, badge_x, badge_y, badge_r * 0.6, bar_h / 2)
            pix = blend(pix, WHITE, coverage(bar))
            row.append(pix)
        rows.append(row)
    return rows


def to_bytes(rows):
    return [[tuple(int(round(c)) for c in p[:3]) + (int(round(p[3] * 255)),) for p in row]
            for row in rows]


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(palette[i], colour)))


def median_cut(colours, count):
    """A palette of at most `count` colours for a list of RGB pixels. The box with the
    widest colour range is split first, so a small red badge keeps its own entry next
    to a large blue gradient."""

    def span(b):
        return max(max(c[i] for c in b) - min(c[i] for c in b) for i in range(3))

    boxes = [sorted(colours)]
    while len(boxes) < count:
        boxes.sort(key=span, reverse=True)
        widest = boxes[0]
        if span(widest) == 0:
            break
        spans = [max(c[i] for c in widest) - min(c[i] for c in widest) for i in range(3)]
        axis = spans.index(max(spans))
        widest.sort(key=lambda c: c[axis])
        half = len(widest) // 2
        # Never split between equal values on the axis: both halves must differ.
        while half > 1 and widest[half - 1][axis] == widest[half][axis]:
            half -= 1
        if widest[half - 1][axis] == widest[half][axis]:
            half = next(k for k in range(1, len(widest)) if widest[k][axis] != widest[0][axis])
        boxes[0:1] = [widest[:half], widest[half:]]
    return [tuple(sum(c[i] for c in b) // len(b) for i in range(3)) for b in boxes]


def row_stride(bits):
    return (bits + 31) // 32 * 4


def and_mask(pixels, size):
    """1 where the icon is transparent; bottom row first."""
    out = bytearray()
    for row in reversed(pixels):
        line = bytearray(row_stride(size))
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def info_header(size, height, bpp, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, height, 1, bpp, 0, image_bytes, 0, 0,
                       colours, 0)


def icon_image(pixels, size, bpp):
    mask = and_mask(pixels, size)
    if bpp == 32:
        xor = bytearray()
        for row in reversed(pixels):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        return info_header(size, size * 2, 32, len(xor) + len(mask), 0) + bytes(xor) + mask
    opaque = [p[:3] for row in pixels for p in row if p[3] >= 128]
    # Index 0 stays black: masked pixels must be black to show the background.
    palette = [(0, 0, 0)] + median_cut(opaque, (1 << bpp) - 1)
    palette = palette + [(0, 0, 0)] * ((1 << bpp) - len(palette))
    xor = bytearray()
    for row in reversed(pixels):
        indices = [nearest(palette, p[:3]) if p[3] >= 128 else 0 for p in row]
        line = bytearray(row_stride(size * bpp))
        for x, i in enumerate(indices):
            if bpp == 8:
                line[x] = i
            else:
                line[x // 2] |= i << (4 if x % 2 == 0 else 0)
        xor += line
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    head = info_header(size, size * 2, bpp, len(xor) + len(mask), 1 << bpp)
    return head + table + bytes(xor) + mask


def write_icon(path):
    entries = []
    for size in (48, 32, 16):
        pixels = to_bytes(render(size))
        for bpp in (32, 8, 4):
            entries.append((size, bpp, icon_image(pixels, size, bpp)))
    offset = 6 + 16 * len(entries)
    directory = struct.pack("<HHH", 0, 1, len(entries))
    for size, bpp, data in entries:
        directory += struct.pack("<BBBBHHII", size, size, 16 if bpp == 4 else 0, 0, 1, bpp,
                                 len(data), offset)
        offset += len(data)
    with open(path, "wb") as out:
        out.write(directory + b"".join(data for _, _, data in entries))


def write_header_bitmap(path):
    size = 48
    pixels = to_bytes(render(size, background=(255.0, 255.0, 255.0)))
    data = bytearray()
    for row in reversed(pixels):
        for r, g, b, _ in row:
            # Opaque alpha: drawn the same whether the control blends or copies.
            data += bytes((b, g, r, 255))
    head = info_header(size, size, 32, len(data), 0)
    file_header = struct.pack("<2sIHHI", b"BM", 14 + len(head) + len(data), 0, 0, 14 + len(head))
    with open(path, "wb") as out:
        out.write(file_header + head + bytes(data))


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_icon(os.path.join(outdir, "portvane.ico"))
    write_header_bitmap(os.path.join(outdir, "header.bmp"))


if __name__ == "__main__":
    main()
