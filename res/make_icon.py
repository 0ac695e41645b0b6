#!/usr/bin/env python3
"""Draws the application icon, IDR_MAINFRAME, as two 16-colour PNG files:
icons/mainframe-32.png and icons/mainframe-16.png.

The picture is a sheet of vellum with lines of text and a magnifying glass
over it: a search through the text of files. Colours come from the
standard 16-colour palette; magenta is the transparent one, as it is in
classic icon editors. Run it from any folder; it writes beside itself.
"""
import os
import struct
import zlib

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00),
    (0x80, 0x80, 0x00), (0x00, 0x00, 0x80), (0x80, 0x00, 0x80),
    (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0), (0x80, 0x80, 0x80),
    (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF),
    (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, CLEAR, AQUA, WHITE = range(8, 16)


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[CLEAR] * size for _ in range(size)]

    def set(self, x, y, colour):
        if 0 <= x < self.size and 0 <= y < self.size:
            self.pixels[y][x] = colour

    def fill(self, left, top, right, bottom, colour):
        for y in range(top, bottom + 1):
            for x in range(left, right + 1):
                self.set(x, y, colour)

    def hline(self, left, right, y, colour):
        self.fill(left, y, right, y, colour)

    def vline(self, x, top, bottom, colour):
        self.fill(x, top, x, bottom, colour)

    def disc(self, cx, cy, radius, colour):
        """Every pixel whose centre lies within `radius` of (cx, cy)."""
        for y in range(self.size):
            for x in range(self.size):
                if (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2:
                    self.set(x, y, colour)


def sheet(c, left, top, right, bottom, ear):
    """A white sheet with a black edge, a grey shadow and its top right
    corner folded over."""
    c.hline(left + 1, right + 1, bottom + 1, GRAY)  # shadow
    c.vline(right + 1, top + ear + 1, bottom + 1, GRAY)
    c.fill(left, top, right, bottom, WHITE)
    c.hline(left, right, bottom, BLACK)
    c.vline(left, top, bottom, BLACK)
    c.hline(left, right - ear, top, BLACK)
    c.vline(right, top + ear, bottom, BLACK)
    # The corner: cut away above the fold's diagonal, a silver flap below.
    for i in range(ear + 1):
        y = top + i
        c.hline(right - ear + i + 1, right, y, CLEAR)
        c.hline(right - ear + 1, right - ear + i - 1, y, SILVER)
        c.set(right - ear + i, y, BLACK)
    c.vline(right - ear, top, top + ear, BLACK)
    c.hline(right - ear, right, top + ear, BLACK)


def magnifier(c, cx, cy, radius, handle):
    """A round glass on a handle that points down to the right."""
    c.disc(cx, cy, radius + 0.5, BLACK)
    c.disc(cx, cy, radius - 0.6, AQUA)
    c.disc(cx - radius / 3, cy - radius / 3, radius / 3.5, WHITE)  # glint
    x0 = int(cx + radius * 0.72)
    y0 = int(cy + radius * 0.72)
    for i in range(handle):
        for w in (-1, 0, 1):
            c.set(x0 + i + w, y0 + i, MAROON)
        c.set(x0 + i - 2, y0 + i, BLACK)
        c.set(x0 + i + 2, y0 + i, BLACK)
    c.hline(x0 + handle - 2, x0 + handle + 1, y0 + handle, BLACK)


def icon32():
    c = Canvas(32)
    sheet(c, 3, 1, 22, 28, ear=6)
    for y, right in ((6, 14), (9, 19), (12, 17), (15, 12), (18, 13),
                     (21, 11), (24, 16)):
        c.hline(6, right, y, NAVY)
    c.hline(6, 10, 12, RED)  # a found word, about to be replaced
    magnifier(c, 19, 18, 7, handle=8)
    # The text shows through the glass, enlarged.
    c.hline(14, 23, 17, NAVY)
    c.hline(14, 23, 18, NAVY)
    c.hline(15, 19, 21, RED)
    c.hline(15, 19, 22, RED)
    return c


# At 16 pixels shapes are too small to draw by rule; the small icon is
# drawn pixel by pixel instead.
ICON16 = """
.KKKKKKKKK......
.KWWWWWWWKK.....
.KWWWWWWWKSK....
.KWNNNNWWKKKK...
.KWWWWWWWWWWKG..
.KWNNNWWKKKWKG..
.KWWWWWKWAAKKG..
.KWRRNKWAAAAKG..
.KWWWWKNNNNAKG..
.KWNNNKARRAAKG..
.KWWWWWKAAAKKG..
.KWNNNWWKKKMMG..
.KWWWWWWWWWKMM..
.KKKKKKKKKKKGMM.
..GGGGGGGGGGG.MM
................
"""
LEGEND = {".": CLEAR, "K": BLACK, "W": WHITE, "S": SILVER, "G": GRAY,
          "N": NAVY, "R": RED, "A": AQUA, "M": MAROON}


def icon16():
    rows = ICON16.split()
    c = Canvas(len(rows))
    for y, row in enumerate(rows):
        for x, key in enumerate(row):
            c.set(x, y, LEGEND[key])
    return c


def write_png(path, canvas):
    """A 4-bit indexed PNG with the palette above, magenta transparent."""
    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body +
                struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    size = canvas.size
    rows = b""
    for row in canvas.pixels:
        packed = bytes((row[x] << 4) | row[x + 1] for x in range(0, size, 2))
        rows += b"\0" + packed
    alpha = bytes(0 if i == CLEAR else 255 for i in range(len(PALETTE)))
    png = (b"\x89PNG\r\n\x1a\n" +
           chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 4, 3, 0, 0, 0)) +
           chunk(b"PLTE", b"".join(bytes(rgb) for rgb in PALETTE)) +
           chunk(b"tRNS", alpha) +
           chunk(b"IDAT", zlib.compress(rows, 9)) +
           chunk(b"IEND", b""))
    with open(path, "wb") as out:
        out.write(png)


if __name__ == "__main__":
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(here, exist_ok=True)
    write_png(os.path.join(here, "mainframe-32.png"), icon32())
    write_png(os.path.join(here, "mainframe-16.png"), icon16())
