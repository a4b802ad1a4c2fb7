#!/usr/bin/env python3
"""Draws the player's icons into assets/icons/hicolor (the freedesktop.org
icon theme layout the package installs under share/icons):

  <size>x<size>/apps/zirrafon.png                   the program
  <size>x<size>/mimetypes/zirrafon-audio-file.png   .ay and .aym files
  scalable/apps/zirrafon.svg, scalable/mimetypes/zirrafon-audio-file.svg

for the sizes 16, 32, 48, 64, 128 and 256. The program icon is a dark panel
in the colours of the built-in skin: an oscilloscope screen showing a square
wave (the chip's tone) above three level bars (its channels A, B and C, in
the volume bar's green, yellow and red). The file-type icon is a sheet of
paper with a folded corner carrying the same screen.

Every shape is given in unit coordinates (0..1 across the icon), so the PNGs
and the SVGs come from one description. Each PNG pixel is the average of
8x8 samples (anti-aliasing); nothing random is involved, so running the
script again gives the same bytes. Only the standard library is used.

Usage: make-icons.py [output folder]   (default: hicolor beside this script)
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 64, 128, 256)
SAMPLES = 8  # per axis and pixel

# Colours of the built-in skin (assets/skin/make-skin.py): the panel's navy,
# the cyan of its digits and the volume bar's green, yellow and red.
PANEL_TOP = (0x3C, 0x3C, 0x7C)
PANEL_BOTTOM = (0x16, 0x16, 0x3A)
PANEL_EDGE = (0x8C, 0x8C, 0xD0)
SCREEN = (0x08, 0x0A, 0x20)
WAVE = (0x50, 0xD8, 0xF8)
BAR_COLOURS = ((0x40, 0xE0, 0x40), (0xF0, 0xE0, 0x40), (0xF0, 0x48, 0x40))
PAPER = (0xF2, 0xF3, 0xFA)
PAPER_EDGE = (0x50, 0x50, 0x7A)
FOLD = (0xC4, 0xC8, 0xE4)


# ---- shapes ------------------------------------------------------------------
class RoundRect:
    def __init__(self, x0, y0, x1, y1, r, fill, fill_bottom=None):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.fill, self.fill_bottom = fill, fill_bottom

    def contains(self, x, y):
        if not (self.x0 <= x <= self.x1 and self.y0 <= y <= self.y1):
            return False
        cx = min(max(x, self.x0 + self.r), self.x1 - self.r)
        cy = min(max(y, self.y0 + self.r), self.y1 - self.r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= self.r ** 2

    def colour(self, x, y):
        if self.fill_bottom is None:
            return self.fill
        t = (y - self.y0) / (self.y1 - self.y0)
        return tuple(a + (b - a) * t for a, b in zip(self.fill, self.fill_bottom))

    def svg(self, size, ident):
        s = size
        out = []
        fill = svg_colour(self.fill)
        if self.fill_bottom is not None:
            out.append(
                f'<linearGradient id="{ident}" x1="0" y1="{self.y0 * s:g}" x2="0" '
                f'y2="{self.y1 * s:g}" gradientUnits="userSpaceOnUse">'
                f'<stop offset="0" stop-color="{svg_colour(self.fill)}"/>'
                f'<stop offset="1" stop-color="{svg_colour(self.fill_bottom)}"/>'
                f"</linearGradient>")
            fill = f"url(#{ident})"
        out.append(
            f'<rect x="{self.x0 * s:g}" y="{self.y0 * s:g}" width="{(self.x1 - self.x0) * s:g}" '
            f'height="{(self.y1 - self.y0) * s:g}" rx="{self.r * s:g}" fill="{fill}"/>')
        return out


class Polygon:
    """A convex polygon, points in clockwise order on screen."""

    def __init__(self, points, fill):
        self.points, self.fill = points, fill

    def contains(self, x, y):
        n = len(self.points)
        for i in range(n):
            ax, ay = self.points[i]
            bx, by = self.points[(i + 1) % n]
            if (bx - ax) * (y - ay) - (by - ay) * (x - ax) < 0:
                return False
        return True

    def colour(self, x, y):
        return self.fill

    def svg(self, size, ident):
        pts = " ".join(f"{px * size:g},{py * size:g}" for px, py in self.points)
        return [f'<polygon points="{pts}" fill="{svg_colour(self.fill)}"/>']


class Line:
    """A polyline of the given width with square-cut joints."""

    def __init__(self, points, width, fill):
        self.points, self.width, self.fill = points, width, fill

    def contains(self, x, y):
        h = self.width / 2
        for (ax, ay), (bx, by) in zip(self.points, self.points[1:]):
            if min(ax, bx) - h <= x <= max(ax, bx) + h and min(ay, by) - h <= y <= max(ay, by) + h:
                return True
        return False

    def colour(self, x, y):
        return self.fill

    def svg(self, size, ident):
        pts = " ".join(f"{px * size:g},{py * size:g}" for px, py in self.points)
        return [f'<polyline points="{pts}" fill="none" stroke="{svg_colour(self.fill)}" '
                f'stroke-width="{self.width * size:g}" stroke-linecap="square" '
                f'stroke-linejoin="miter"/>']


def svg_colour(c):
    return "#%02x%02x%02x" % tuple(int(round(v)) for v in c)


def square_wave(x0, x1, y_high, y_low, periods):
    """Points of a square wave from x0 to x1, starting and ending low."""
    step = (x1 - x0) / (2 * periods)
    points, level = [(x0, y_low)], y_low
    for k in range(2 * periods):
        x = x0 + step * (k + 0.5)
        points.append((x, level))
        level = y_high if level == y_low else y_low
        points.append((x, level))
    points.append((x1, level))
    return points


def screen(x0, y0, x1, y1):
    """The oscilloscope screen with its square wave."""
    pad_x = (x1 - x0) * 0.12
    mid = (y0 + y1) / 2
    amp = (y1 - y0) * 0.26
    return [
        RoundRect(x0, y0, x1, y1, (y1 - y0) * 0.12, SCREEN),
        Line(square_wave(x0 + pad_x, x1 - pad_x, mid - amp, mid + amp, 2), (y1 - y0) * 0.14, WAVE),
    ]


def program_icon():
    shapes = [
        RoundRect(0.04, 0.04, 0.96, 0.96, 0.18, PANEL_EDGE),
        RoundRect(0.065, 0.065, 0.935, 0.935, 0.16, PANEL_TOP, PANEL_BOTTOM),
    ]
    shapes += screen(0.15, 0.15, 0.85, 0.58)
    bottom = 0.85
    for i, (height, colour) in enumerate(zip((0.10, 0.19, 0.14), BAR_COLOURS)):
        left = 0.2 + i * 0.21
        shapes.append(RoundRect(left, bottom - height, left + 0.14, bottom, 0.02, colour))
    return shapes


def file_icon():
    left, top, right, bottom, fold = 0.16, 0.04, 0.84, 0.96, 0.22
    edge = 0.025
    outline = [(left, top), (right - fold, top), (right, top + fold), (right, bottom),
               (left, bottom)]
    inner = [(left + edge, top + edge), (right - fold - edge * 0.4, top + edge),
             (right - edge, top + fold + edge * 0.4), (right - edge, bottom - edge),
             (left + edge, bottom - edge)]
    shapes = [
        Polygon(outline, PAPER_EDGE),
        Polygon(inner, PAPER),
        Polygon([(right - fold, top), (right, top + fold), (right - fold, top + fold)], FOLD),
    ]
    shapes += screen(left + 0.08, 0.44, right - 0.08, 0.80)
    return shapes


# ---- output ------------------------------------------------------------------
def render(shapes, size):
    """RGBA bytes, rows top to bottom, each pixel the average of its samples."""
    rows = []
    n = SAMPLES
    offsets = [(i + 0.5) / n for i in range(n)]
    for py in range(size):
        row = bytearray()
        for px in range(size):
            r = g = b = a = 0.0
            for oy in offsets:
                y = (py + oy) / size
                for ox in offsets:
                    x = (px + ox) / size
                    for shape in reversed(shapes):
                        if shape.contains(x, y):
                            c = shape.colour(x, y)
                            r += c[0]
                            g += c[1]
                            b += c[2]
                            a += 1
                            break
            if a == 0:
                row += b"\0\0\0\0"
            else:
                row += bytes((int(r / a + 0.5), int(g / a + 0.5), int(b / a + 0.5),
                              int(a * 255 / (n * n) + 0.5)))
        rows.append(bytes(row))
    return rows


def png(rows, size):
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    raw = b"".join(b"\0" + row for row in rows)  # filter type 0 on every row
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def svg(shapes, title):
    size = 256
    defs, body = [], []
    for i, shape in enumerate(shapes):
        for element in shape.svg(size, f"g{i}"):
            (defs if element.startswith("<linearGradient") else body).append(element)
    lines = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
             f'viewBox="0 0 {size} {size}">', f"<title>{title}</title>"]
    if defs:
        lines += ["<defs>"] + defs + ["</defs>"]
    lines += body + ["</svg>"]
    return "\n".join(lines) + "\n"


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "hicolor")
    icons = (("apps", "zirrafon", program_icon(), "Zirrafon"),
             ("mimetypes", "zirrafon-audio-file", file_icon(), "AY/YM Audio File"))
    for context, name, shapes, title in icons:
        for size in SIZES:
            write(os.path.join(out, f"{size}x{size}", context, name + ".png"),
                  png(render(shapes, size), size))
        write(os.path.join(out, "scalable", context, name + ".svg"),
              svg(shapes, title).encode("utf-8"))


if __name__ == "__main__":
    main()
