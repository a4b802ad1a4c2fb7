#!/usr/bin/env python3
"""Draws the player's built-in skin, assets/skin/skin.bmp (240x216, 24 bits).

The bitmap is the whole skin in one picture, laid out the way the player cuts
it up when it loads a skin:

  (0, 0, 240, 152)      the window face: artwork, every button in its normal
                        look, three label fields, two number fields, the
                        volume bar at full level
  (48, 80, 128, 96)     digits 0..9, 8x16 each (inside the third label field)
  (217, 104, 231, 143)  the volume bar at full level; pixel (217, 103) is the
                        colour of its unlit part
  pixel (231, 47)       the label background colour
  (0, 152, 192, 168)    pressed looks of eight 22x16 buttons at x = 1, 25, 49,
                        73, 97, 121, 145, 169: previous, play, next, pause,
                        stop, open, about, parameters
  (192, 152, 240, 168)  font glyphs for codes 122..127
  (0, 168, 240, 216)    font glyphs for codes 32..121, three rows of 30

Font glyph cells are copied whole into the labels, so every glyph cell is
painted on the label background colour.

The lettering comes from the Terminus Font console fonts that Debian ships in
console-setup-linux (/usr/share/consolefonts: Lat15-Terminus16 for the label
font, Lat15-TerminusBold20x10 for the title, Lat15-Terminus12x6 for the
captions). Terminus Font is Copyright (c) 2010 Dimitar Toshkov Zhekov and is
licensed under the SIL Open Font License, Version 1.1; the skin only carries
rendered glyph pictures, not the font software. Everything else (buttons,
symbols, digits, volume bar, texture) is drawn here.

Only the Python standard library is used; the output is deterministic (the
metal texture uses a fixed-seed generator). Run from anywhere:

  python3 assets/skin/make-skin.py [output.bmp]
"""

import gzip
import os
import struct
import sys

WIDTH, HEIGHT = 240, 216
FONT_DIR = "/usr/share/consolefonts"

# --- palette: dark indigo metal with a cyan accent --------------------------
FACE_TOP = (44, 42, 86)
FACE_BOTTOM = (20, 19, 44)
STRIP_TOP = (58, 56, 108)
STRIP_BOTTOM = (32, 30, 66)
EDGE_LIGHT = (104, 102, 168)
EDGE_DARK = (6, 6, 16)
GROOVE_DARK = (12, 11, 28)
GROOVE_LIGHT = (78, 76, 132)
ACCENT = (64, 216, 255)
ACCENT_DIM = (46, 150, 190)
CAPTION = (150, 190, 232)
LABEL_BG = (8, 12, 28)  # the label background: glyph cells, label fields
LABEL_TEXT = (168, 236, 255)
DIGIT_ON = (80, 224, 255)
DIGIT_OFF = (16, 34, 54)
VOLUME_BG = (10, 14, 30)  # unlit part of the volume bar
BUTTON_TOP = (82, 80, 132)
BUTTON_BOTTOM = (42, 40, 80)
BUTTON_HI = (150, 148, 214)
BUTTON_LO = (20, 19, 42)
PRESSED_TOP = (22, 21, 46)
PRESSED_BOTTOM = (40, 38, 76)
SYMBOL = (226, 232, 255)
SYMBOL_SHADOW = (14, 13, 30)
CLOSE_SYMBOL = (255, 112, 128)
UNUSED = (0, 0, 0)

# Code 127 has no printable form in ASCII; it shows as a diamond (U+2666).
DEL_GLYPH = 0x2666


class Canvas:
    def __init__(self, w, h, colour):
        self.w, self.h = w, h
        self.px = [[colour] * w for _ in range(h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def get(self, x, y):
        return self.px[y][x]

    def fill(self, l, t, r, b, c):
        for y in range(t, b):
            for x in range(l, r):
                self.set(x, y, c)

    def vgradient(self, l, t, r, b, top, bottom):
        n = max(1, b - t - 1)
        for y in range(t, b):
            c = mix(top, bottom, (y - t) / n)
            for x in range(l, r):
                self.set(x, y, c)

    def hline(self, l, r, y, c):
        for x in range(l, r):
            self.set(x, y, c)

    def vline(self, x, t, b, c):
        for y in range(t, b):
            self.set(x, y, c)

    def copy(self, sl, st, sr, sb, dx, dy):
        block = [row[sl:sr] for row in self.px[st:sb]]
        for j, row in enumerate(block):
            for i, c in enumerate(row):
                self.set(dx + i, dy + j, c)

    def mask(self, x, y, rows, c):
        """Paints the '#' cells of a list of strings at (x, y)."""
        for j, row in enumerate(rows):
            for i, ch in enumerate(row):
                if ch == "#":
                    self.set(x + i, y + j, c)

    def bmp(self):
        stride = (self.w * 3 + 3) & ~3
        pad = b"\0" * (stride - self.w * 3)
        data = bytearray()
        for y in range(self.h - 1, -1, -1):  # bottom-up rows
            for r, g, b in self.px[y]:
                data += bytes((b, g, r))
            data += pad
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(data), 2835, 2835, 0, 0)
        head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
        return head + info + bytes(data)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def shade(c, d):
    return tuple(max(0, min(255, v + d)) for v in c)


# --- console fonts -------------------------------------------------------------
class Font:
    """A PSF1 or PSF2 console font, glyphs looked up by Unicode code point."""

    def __init__(self, name):
        data = gzip.open(os.path.join(FONT_DIR, name + ".psf.gz")).read()
        if data[:2] == b"\x36\x04":
            mode, size = data[2], data[3]
            count = 512 if mode & 1 else 256
            self.w, self.h, self.size, start = 8, size, size, 4
            glyph_end = start + count * size
            table = self._psf1_table(data[glyph_end:], count) if mode & 6 else None
        elif data[:4] == b"\x72\xb5\x4a\x86":
            _, _, start, flags, count, size, h, w = struct.unpack("<8I", data[:32])
            self.w, self.h, self.size = w, h, size
            glyph_end = start + count * size
            table = self._psf2_table(data[glyph_end:], count) if flags & 1 else None
        else:
            raise ValueError(name + ": not a PSF font")
        self.glyphs = [data[start + i * self.size : start + (i + 1) * self.size] for i in range(count)]
        self.index = table if table is not None else {i: i for i in range(count)}

    @staticmethod
    def _psf1_table(t, count):
        index, g, i = {}, 0, 0
        in_seq = False
        while g < count and i + 1 < len(t):
            u = t[i] | t[i + 1] << 8
            i += 2
            if u == 0xFFFF:
                g, in_seq = g + 1, False
            elif u == 0xFFFE:
                in_seq = True
            elif not in_seq:
                index.setdefault(u, g)
        return index

    @staticmethod
    def _psf2_table(t, count):
        index, g, i = {}, 0, 0
        while g < count and i < len(t):
            j = i
            while j < len(t) and t[j] not in (0xFE, 0xFF):
                j += 1
            for ch in t[i:j].decode("utf-8"):
                index.setdefault(ord(ch), g)
            while j < len(t) and t[j] != 0xFF:  # skip sequences
                j += 1
            i, g = j + 1, g + 1
        return index

    def rows(self, code):
        """The glyph of a code point as a list of strings of '#' and '.'."""
        g = self.glyphs[self.index[code]]
        per_row = (self.w + 7) // 8
        out = []
        for y in range(self.h):
            bits = int.from_bytes(g[y * per_row : (y + 1) * per_row], "big")
            out.append("".join("#" if bits >> (per_row * 8 - 1 - x) & 1 else "." for x in range(self.w)))
        return out

    def width(self, text, spacing=0):
        return len(text) * (self.w + spacing) - spacing

    def draw(self, cv, x, y, text, colour, spacing=0, shadow=None):
        for ch in text:
            rows = self.rows(ord(ch))
            if shadow:
                cv.mask(x + 1, y + 1, rows, shadow)
            cv.mask(x, y, rows, colour)
            x += self.w + spacing


def draw_gradient_text(cv, font, x, y, text, top, bottom, shadow, spacing=0):
    """Text whose colour runs from top to bottom of the glyph cell, with a drop shadow."""
    for ch in text:
        rows = font.rows(ord(ch))
        cv.mask(x + 1, y + 1, rows, shadow)
        for j, row in enumerate(rows):
            c = mix(top, bottom, j / (font.h - 1))
            for i, b in enumerate(row):
                if b == "#":
                    cv.set(x + i, y + j, c)
        x += font.w + spacing


# --- face pieces -----------------------------------------------------------------
def brushed_metal(cv, l, t, r, b, top, bottom, seed):
    """A vertical gradient with faint horizontal brush streaks."""
    state = seed
    n = max(1, b - t - 1)
    for y in range(t, b):
        base = mix(top, bottom, (y - t) / n)
        for x in range(l, r):
            state = (state * 1103515245 + 12345) & 0x7FFFFFFF
            d = ((state >> 16) % 5) - 2 if (x // 3 + y * 7) % 5 else 0
            cv.set(x, y, shade(base, d))


def inset_frame(cv, l, t, r, b):
    """A one-pixel sunken frame around the rectangle (l, t, r, b)."""
    cv.hline(l - 1, r + 1, t - 1, GROOVE_DARK)
    cv.vline(l - 1, t - 1, b + 1, GROOVE_DARK)
    cv.hline(l - 1, r + 1, b, GROOVE_LIGHT)
    cv.vline(r, t, b + 1, GROOVE_LIGHT)


def raised_frame(cv, l, t, r, b, hi, lo):
    cv.hline(l, r, t, hi)
    cv.vline(l, t, b, hi)
    cv.hline(l, r, b - 1, lo)
    cv.vline(r - 1, t, b, lo)


def groove_h(cv, l, r, y):
    cv.hline(l, r, y, GROOVE_DARK)
    cv.hline(l, r, y + 1, GROOVE_LIGHT)


# Button symbols, centred in a 22x16 button.
SYMBOLS = {
    "previous": [
        "#.....#....#",
        "#....##...##",
        "#...###..###",
        "#..####.####",
        "#...###..###",
        "#....##...##",
        "#.....#....#",
    ],
    "play": [
        "#....",
        "##...",
        "###..",
        "####.",
        "#####",
        "####.",
        "###..",
        "##...",
        "#....",
    ],
    "next": [
        "#....#.....#",
        "##...##....#",
        "###..###...#",
        "####.####..#",
        "###..###...#",
        "##...##....#",
        "#....#.....#",
    ],
    "pause": [
        "##..##",
        "##..##",
        "##..##",
        "##..##",
        "##..##",
        "##..##",
        "##..##",
    ],
    "stop": [
        "#######",
        "#######",
        "#######",
        "#######",
        "#######",
        "#######",
        "#######",
    ],
    "open": [
        "....#....",
        "...###...",
        "..#####..",
        ".#######.",
        "#########",
        ".........",
        "#########",
        "#########",
    ],
    "about": [
        "..##..",
        "..##..",
        "......",
        ".###..",
        "..##..",
        "..##..",
        "..##..",
        ".####.",
    ],
    "parameters": [
        "...##.......",
        "###..#######",
        "...##.......",
        "........##..",
        "########..##",
        "........##..",
        ".##.........",
        "#..#########",
        ".##.........",
    ],
}

CLOSE_MARK = [
    "#.....#",
    ".#...#.",
    "..#.#..",
    "...#...",
    "..#.#..",
    ".#...#.",
    "#.....#",
]
MINIMIZE_MARK = ["#######", "#######"]


def draw_symbol(cv, x, y, w, h, rows, colour, shadow, dx=0, dy=0):
    sx = x + (w - len(rows[0])) // 2 + dx
    sy = y + (h - len(rows)) // 2 + dy
    if shadow:
        cv.mask(sx + 1, sy + 1, rows, shadow)
    cv.mask(sx, sy, rows, colour)


def draw_button(cv, x, y, name, pressed):
    """A 22x16 button; its four corner pixels keep what lies under them."""
    w, h = 22, 16
    if pressed:
        cv.vgradient(x + 1, y + 1, x + w - 1, y + h - 1, PRESSED_TOP, PRESSED_BOTTOM)
        raised_frame(cv, x + 1, y + 1, x + w - 1, y + h - 1, BUTTON_LO, shade(PRESSED_BOTTOM, 18))
    else:
        cv.vgradient(x + 1, y + 1, x + w - 1, y + h - 1, BUTTON_TOP, BUTTON_BOTTOM)
        raised_frame(cv, x + 1, y + 1, x + w - 1, y + h - 1, BUTTON_HI, BUTTON_LO)
    # outline with cut corners
    cv.hline(x + 1, x + w - 1, y, EDGE_DARK)
    cv.hline(x + 1, x + w - 1, y + h - 1, EDGE_DARK)
    cv.vline(x, y + 1, y + h - 1, EDGE_DARK)
    cv.vline(x + w - 1, y + 1, y + h - 1, EDGE_DARK)
    rows = SYMBOLS[name]
    if pressed:
        draw_symbol(cv, x, y, w, h, rows, ACCENT, None, 1, 1)
    else:
        draw_symbol(cv, x, y, w, h, rows, SYMBOL, SYMBOL_SHADOW)


def draw_small_button(cv, x, y, mark, colour):
    """The 15x15 close and minimize buttons (they have no pressed look)."""
    w = h = 15
    cv.vgradient(x + 1, y + 1, x + w - 1, y + h - 1, BUTTON_TOP, BUTTON_BOTTOM)
    raised_frame(cv, x + 1, y + 1, x + w - 1, y + h - 1, BUTTON_HI, BUTTON_LO)
    cv.hline(x + 1, x + w - 1, y, EDGE_DARK)
    cv.hline(x + 1, x + w - 1, y + h - 1, EDGE_DARK)
    cv.vline(x, y + 1, y + h - 1, EDGE_DARK)
    cv.vline(x + w - 1, y + 1, y + h - 1, EDGE_DARK)
    if mark is MINIMIZE_MARK:
        cv.mask(x + 5, y + 10, mark, SYMBOL_SHADOW)
        cv.mask(x + 4, y + 9, mark, colour)
    else:
        draw_symbol(cv, x, y, w, h, mark, colour, SYMBOL_SHADOW)


# Seven-segment digits in an 8x16 cell: segments a (top), b (top right),
# c (bottom right), d (bottom), e (bottom left), f (top left), g (middle).
SEGMENTS = {
    "a": [(x, y) for x in range(2, 6) for y in (1, 2)],
    "b": [(x, y) for x in (5, 6) for y in range(2, 8)],
    "c": [(x, y) for x in (5, 6) for y in range(8, 14)],
    "d": [(x, y) for x in range(2, 6) for y in (13, 14)],
    "e": [(x, y) for x in (1, 2) for y in range(8, 14)],
    "f": [(x, y) for x in (1, 2) for y in range(2, 8)],
    "g": [(x, y) for x in range(2, 6) for y in (7, 8)],
}
DIGIT_SEGMENTS = ["abcdef", "bc", "abged", "abgcd", "fgbc", "afgcd", "afgedc", "abc", "abcdefg", "abcdfg"]


def segment_cells(names):
    cells = set()
    for n in names:
        cells.update(SEGMENTS[n])
    return cells


def draw_digit(cv, x, y, d):
    cv.fill(x, y, x + 8, y + 16, LABEL_BG)
    on = segment_cells(DIGIT_SEGMENTS[d])
    off = segment_cells("abcdefg") - on
    for px, py in off:
        cv.set(x + px, y + py, DIGIT_OFF)
    for px, py in on:
        cv.set(x + px, y + py, DIGIT_ON)


def volume_colour(level):
    """Colour of the bar at height level (0 = bottom row .. 38 = top row)."""
    green, yellow, red = (48, 224, 96), (240, 224, 64), (255, 64, 64)
    t = level / 38
    return mix(green, yellow, t / 0.6) if t < 0.6 else mix(yellow, red, (t - 0.6) / 0.4)


def draw_volume_bar(cv, l, t):
    """The 14x39 bar at full level: LED segments of two rows and a dim one."""
    for row in range(39):
        level = 38 - row
        y = t + row
        base = volume_colour(level)
        if level % 3 == 2:
            # a dim row between segments, still lit so every level shows
            base = mix(base, VOLUME_BG, 0.65)
        for i in range(14):
            if i == 0 or i == 13:
                cv.set(l + i, y, VOLUME_BG)
                continue
            # a little cylinder shading across the bar
            k = abs(i - 5.5) / 6.5
            cv.set(l + i, y, shade(base, round(30 - 70 * k * k)))


def build():
    cv = Canvas(WIDTH, HEIGHT, UNUSED)
    title = Font("Lat15-TerminusBold20x10")
    small = Font("Lat15-Terminus12x6")
    text = Font("Lat15-Terminus16")

    # --- face background
    brushed_metal(cv, 0, 0, 240, 152, FACE_TOP, FACE_BOTTOM, 20240521)
    brushed_metal(cv, 0, 0, 240, 26, STRIP_TOP, STRIP_BOTTOM, 77)
    groove_h(cv, 1, 239, 26)
    # button tray
    cv.vgradient(2, 125, 191, 148, shade(FACE_BOTTOM, -8), shade(FACE_BOTTOM, -2))
    inset_frame(cv, 2, 125, 191, 148)
    raised_frame(cv, 0, 0, 240, 152, EDGE_LIGHT, EDGE_DARK)

    # --- title lettering and a small subtitle
    draw_gradient_text(cv, title, 8, 3, "Zirrafon", (236, 244, 255), ACCENT, EDGE_DARK, spacing=1)
    # every kind of file the player plays, in two short lines
    for sub, top in (("AY AYM YM VTX", 2), ("PSG PT3 PT2", 14)):
        small.draw(cv, 203 - small.width(sub), top, sub, ACCENT_DIM, shadow=EDGE_DARK)
    # an accent hairline under the title that fades out to the right
    for x in range(2, 200):
        cv.set(x, 28, mix(ACCENT_DIM, cv.get(x, 28), min(1.0, (x - 2) / 198) ** 0.6))

    # --- three label fields with captions
    for caption, top in (("Author", 32), ("Misc", 56), ("Title", 80)):
        cv.fill(48, top, 232, top + 16, LABEL_BG)
        inset_frame(cv, 48, top, 232, top + 16)
        small.draw(cv, 43 - small.width(caption), top + 2, caption, CAPTION, shadow=EDGE_DARK)

    # --- song number and count
    for l in (48, 96):
        cv.fill(l, 104, l + 24, 120, LABEL_BG)
        inset_frame(cv, l, 104, l + 24, 120)
    small.draw(cv, 43 - small.width("Tune"), 106, "Tune", CAPTION, shadow=EDGE_DARK)
    small.draw(cv, 72 + (24 - small.width("Of")) // 2, 106, "Of", CAPTION, shadow=EDGE_DARK)
    for l in (48, 96):
        for i in range(3):
            draw_digit(cv, l + 8 * i, 104, 0)
    # the digit strip inside the third label field
    for d in range(10):
        draw_digit(cv, 48 + 8 * d, 80, d)

    # --- volume bar, its unlit colour just above it, and a caption
    inset_frame(cv, 217, 103, 231, 143)
    cv.hline(217, 231, 103, VOLUME_BG)
    draw_volume_bar(cv, 217, 104)
    small.draw(cv, 213 - small.width("Vol"), 131, "Vol", CAPTION, shadow=EDGE_DARK)

    # --- buttons; the pressed looks sit on the same background as on the face
    face_buttons = {
        "previous": (5, 128),
        "play": (37, 128),
        "next": (69, 128),
        "pause": (101, 128),
        "stop": (133, 128),
        "open": (165, 128),
        "about": (133, 104),
        "parameters": (165, 104),
    }
    pressed_order = ["previous", "play", "next", "pause", "stop", "open", "about", "parameters"]
    for i, name in enumerate(pressed_order):
        fx, fy = face_buttons[name]
        px = 1 + 24 * i
        cv.copy(fx, fy, fx + 22, fy + 16, px, 152)
        draw_button(cv, px, 152, name, True)
    for name, (x, y) in face_buttons.items():
        draw_button(cv, x, y, name, False)
    draw_small_button(cv, 209, 0, MINIMIZE_MARK, SYMBOL)
    draw_small_button(cv, 225, 0, CLOSE_MARK, CLOSE_SYMBOL)

    # --- the font: codes 32..121 in three rows of 30, 122..127 at (192, 152)
    def glyph(code, x, y):
        cv.fill(x, y, x + 8, y + 16, LABEL_BG)
        cv.mask(x, y, text.rows(code if code < 127 else DEL_GLYPH), LABEL_TEXT)

    for code in range(32, 122):
        n = code - 32
        glyph(code, 8 * (n % 30), 168 + 16 * (n // 30))
    for code in range(122, 128):
        glyph(code, 192 + 8 * (code - 122), 152)
    return cv


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "skin.bmp")
    data = build().bmp()
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
