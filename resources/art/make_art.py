#!/usr/bin/env python3
"""Draws the program's pictures: every picture of the windows, the picture
strips of the skinned controls and the application icon. Each is drawn at
four times its size and scaled down, for smooth edges.

Every picture is drawn at three display scales from the same shapes: 100 %
(<NAME>.png, the size the windows are laid out in), 150 % (<NAME>_150.png)
and 200 % (<NAME>_200.png). The window picks the one for its display, so
nothing is enlarged from the small picture.

Usage: make_art.py OUTDIR        writes the pictures and OUTDIR/Corvaner.ico
       make_art.py --list        prints the picture file names (no .png), one a line
"""
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

S = 4  # supersampling factor
SCALES = ((100, ""), (150, "_150"), (200, "_200"))  # display scale, file-name suffix
K = 1.0  # the display scale being drawn (1.5 = 150 %)

BLUE = (0x22, 0x9E, 0xED, 255)
BLUE_DARK = (0x00, 0x78, 0xC8, 255)
BLUE_LIGHT = (0x8C, 0xCB, 0xF5, 255)
GREEN = (0x2D, 0xB8, 0x4D, 255)
RED = (0xE8, 0x45, 0x3C, 255)
WHITE = (255, 255, 255, 255)
YELLOW = (0xF5, 0xB4, 0x00, 255)
GREY = (0x9A, 0xA7, 0xB4, 255)
BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"


def scaled(v):
    """A size in layout pixels at the scale being drawn (half pixels round up)."""
    return int(v * K + 0.5)


class Pic:
    """A picture laid out in layout pixels (w x h at 100 %), drawn at the
    scale K: every coordinate below is in layout pixels."""

    def __init__(self, w, h):
        self.w, self.h = scaled(w), scaled(h)
        self.f = S * K  # canvas pixels per layout pixel
        self.img = Image.new("RGBA", (self.w * S, self.h * S), (0, 0, 0, 0))
        self.d = ImageDraw.Draw(self.img)

    def _p(self, pts):
        return [(x * self.f, y * self.f) for x, y in pts]

    def _box(self, box):
        return [v * self.f for v in box]

    def ellipse(self, box, fill=None, outline=None, width=1):
        self.d.ellipse(self._box(box), fill=fill, outline=outline, width=int(width * self.f))

    def rect(self, box, fill=None, outline=None, width=1, radius=0):
        self.d.rounded_rectangle(self._box(box), radius=radius * self.f, fill=fill, outline=outline,
                                 width=int(width * self.f))

    def line(self, pts, fill, width):
        pts = self._p(pts)
        self.d.line(pts, fill=fill, width=int(width * self.f), joint="curve")
        r = width * self.f / 2  # round caps
        for x, y in (pts[0], pts[-1]):
            self.d.ellipse([x - r, y - r, x + r, y + r], fill=fill)

    def poly(self, pts, fill=None, outline=None):
        self.d.polygon(self._p(pts), fill=fill, outline=outline)

    def text(self, xy, s, size, fill):
        font = ImageFont.truetype(BOLD_FONT, int(size * self.f))
        x, y = xy
        self.d.text((x * self.f, y * self.f), s, font=font, fill=fill, anchor="mm")

    def done(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)


def tick(p, pts, colour, width):
    p.line(pts, colour, width)


def gear(p, cx, cy, r_out, r_in, teeth, fill, hole_r, hole_fill=(0, 0, 0, 0)):
    pts = []
    steps = teeth * 4
    for i in range(steps):
        a = 2 * math.pi * i / steps - math.pi / 2
        r = r_out if i % 4 in (0, 1) else r_in
        # widen the tooth tips a little
        da = (math.pi / steps) * (0.35 if i % 4 in (0, 1) else -0.35)
        a += da if i % 4 in (0, 2) else -da
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    p.poly(pts, fill=fill)
    p.ellipse((cx - r_in * 0.98, cy - r_in * 0.98, cx + r_in * 0.98, cy + r_in * 0.98), fill=fill)
    p.d.ellipse(p._box((cx - hole_r, cy - hole_r, cx + hole_r, cy + hole_r)), fill=hole_fill)


def windows_logo(p, x0, x1, yl0, yl1, yr0, yr1, colour, gap):
    """Four panes in perspective: left edge from yl0 to yl1, right edge yr0..yr1."""
    def at(u, v):
        x = x0 + (x1 - x0) * u
        top = yl0 + (yr0 - yl0) * u
        bot = yl1 + (yr1 - yl1) * u
        return (x, top + (bot - top) * v)
    gu = gap / (x1 - x0)
    split = 0.42
    for (u0, u1) in ((0, split - gu / 2), (split + gu / 2, 1)):
        for (v0, v1) in ((0, 0.5 - 0.03), (0.5 + 0.03, 1)):
            p.poly([at(u0, v0), at(u1, v0), at(u1, v1), at(u0, v1)], fill=colour)


# ---- run-time pictures ------------------------------------------------------

def PASS():
    p = Pic(19, 15)
    tick(p, [(2.5, 7.5), (7, 12), (16.5, 2.5)], GREEN, 3)
    return p.done()


def UNPASS():
    p = Pic(16, 16)
    p.line([(3.5, 3.5), (12.5, 12.5)], RED, 3)
    p.line([(12.5, 3.5), (3.5, 12.5)], RED, 3)
    return p.done()


def OK():
    p = Pic(40, 40)
    p.ellipse((0.5, 0.5, 39.5, 39.5), fill=GREEN)
    tick(p, [(11, 20.5), (17.5, 27), (29.5, 14)], WHITE, 4)
    return p.done()


def FAIL():
    p = Pic(40, 40)
    p.ellipse((0.5, 0.5, 39.5, 39.5), fill=RED)
    p.rect((17.7, 8.5, 22.3, 25), fill=WHITE, radius=2.2)
    p.ellipse((17.5, 27.5, 22.5, 32.5), fill=WHITE)
    return p.done()


# ---- window pictures --------------------------------------------------------

def HomeLogo():
    p = Pic(57, 49)
    windows_logo(p, 3, 54, 8, 41, 1, 48, WHITE, 3)
    return p.done()


def AppIcon24():
    p = Pic(24, 24)
    windows_logo(p, 2, 22, 5, 19, 2, 22, WHITE, 1.4)
    return p.done()


def app_icon(size):
    p = Pic(size, size)
    k = size / 32.0
    p.rect((0.5 * k, 0.5 * k, 31.5 * k, 31.5 * k), fill=(0x00, 0x90, 0xED, 255), radius=6 * k)
    windows_logo(p, 6 * k, 26 * k, 9 * k, 23 * k, 6 * k, 26 * k, WHITE, 1.6 * k)
    return p.done()


def CheckComputer():
    p = Pic(128, 113)
    c, w = BLUE_LIGHT, 4
    p.rect((6, 14, 88, 72), outline=c, width=w, radius=4)        # screen
    p.rect((13, 21, 81, 65), fill=(0xE3, 0xF2, 0xFD, 255))       # glass
    p.poly([(40, 74), (54, 74), (57, 88), (37, 88)], fill=c)     # neck
    p.rect((26, 88, 68, 94), fill=c, radius=2)                   # foot
    p.rect((98, 20, 123, 100), outline=c, width=w, radius=3)     # tower
    p.line([(104, 32), (117, 32)], c, 3)
    p.line([(104, 40), (117, 40)], c, 3)
    p.ellipse((106.5, 82, 114.5, 90), outline=c, width=2.5)     # power button
    return p.done()


def IconCPU():
    p = Pic(21, 19)
    p.rect((5, 4, 16, 15), outline=BLUE, width=1.6, radius=1.5)
    p.rect((8, 7, 13, 12), fill=BLUE)
    for t in (7, 9.5, 12):
        p.line([(t + 0.5, 1.2), (t + 0.5, 3.5)], BLUE, 1.2)
        p.line([(t + 0.5, 15.5), (t + 0.5, 17.8)], BLUE, 1.2)
    for t in (6.5, 9.5, 12.5):
        p.line([(2.2, t), (4.5, t)], BLUE, 1.2)
        p.line([(16.5, t), (18.8, t)], BLUE, 1.2)
    return p.done()


def IconMem():
    p = Pic(21, 19)
    p.rect((1, 5, 20, 13), outline=BLUE, width=1.6, radius=1)
    for x in (3.5, 8.5, 13.5):
        p.rect((x, 7.2, x + 3.5, 10.8), fill=BLUE)
    for x in range(3, 19, 2):
        p.line([(x, 13.5), (x, 16)], BLUE, 1)
    return p.done()


def IconDisk():
    p = Pic(21, 19)
    p.rect((2, 2, 19, 17), outline=BLUE, width=1.6, radius=2.5)
    p.ellipse((6, 4.5, 15, 13.5), outline=BLUE, width=1.5)
    p.ellipse((9.3, 7.8, 11.7, 10.2), fill=BLUE)
    p.ellipse((15.3, 13.3, 17.1, 15.1), fill=GREEN)
    return p.done()


def IconNet():
    p = Pic(21, 19)
    p.ellipse((2.5, 1.5, 18.5, 17.5), outline=BLUE, width=1.5)
    p.ellipse((6.8, 1.5, 14.2, 17.5), outline=BLUE, width=1.3)
    p.line([(3.2, 7), (17.8, 7)], BLUE, 1.2)
    p.line([(3.2, 12), (17.8, 12)], BLUE, 1.2)
    p.line([(10.5, 1.8), (10.5, 17.2)], BLUE, 1.2)
    return p.done()


def IconDownDisk():
    p = Pic(21, 19)
    p.rect((2, 11, 19, 17.5), outline=BLUE, width=1.5, radius=1.5)
    p.ellipse((14.5, 13.3, 16.5, 15.3), fill=GREEN)
    p.line([(10.5, 1), (10.5, 8)], BLUE, 2)
    p.poly([(6.5, 6), (14.5, 6), (10.5, 10.5)], fill=BLUE)
    return p.done()


def Question():
    p = Pic(44, 42)
    p.ellipse((2, 1, 42, 41), fill=BLUE)
    p.text((22, 21.5), "?", 27, WHITE)
    return p.done()


def BakMyDoc():
    p = Pic(32, 32)
    p.rect((2, 7, 30, 28), fill=(0xE0, 0x9B, 0x1A, 255), radius=2)             # folder back
    p.rect((2, 5, 13, 10), fill=(0xE0, 0x9B, 0x1A, 255), radius=1.5)           # tab
    p.rect((6, 3, 25, 22), fill=WHITE, outline=(0xC8, 0xD2, 0xDC, 255), width=1)  # sheet
    for y in (8, 11.5, 15):
        p.line([(9, y), (22, y)], BLUE_LIGHT, 1.4)
    p.poly([(2, 13), (30, 13), (30, 28), (2, 28)], fill=(0xF5, 0xB9, 0x35, 255))  # folder front
    return p.done()


def BakDesktop():
    p = Pic(32, 32)
    p.rect((2, 4, 30, 23), fill=(0x3A, 0x4A, 0x5C, 255), radius=2)
    p.rect((4, 6, 28, 21), fill=BLUE)
    p.rect((6.5, 8.5, 10.5, 12), fill=WHITE)
    p.rect((6.5, 14.5, 10.5, 18), fill=WHITE)
    p.poly([(13, 23), (19, 23), (20.5, 27.5), (11.5, 27.5)], fill=(0x3A, 0x4A, 0x5C, 255))
    p.rect((8, 27, 24, 29.5), fill=(0x3A, 0x4A, 0x5C, 255), radius=1)
    return p.done()


def star(cx, cy, r_out, r_in, n=5):
    pts = []
    for i in range(2 * n):
        r = r_out if i % 2 == 0 else r_in
        a = -math.pi / 2 + math.pi * i / n
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def BakIEFav():
    p = Pic(32, 32)
    p.poly(star(16, 17, 15, 6.3), fill=(0xF5, 0xA6, 0x23, 255))
    p.poly(star(16, 17, 10, 4.2), fill=(0xFF, 0xC8, 0x4A, 255))
    return p.done()


def BakADSL():
    p = Pic(32, 32)
    body = (0x4A, 0x5B, 0x6E, 255)
    p.line([(8, 15), (5, 3)], body, 2)
    p.line([(24, 15), (27, 3)], body, 2)
    p.rect((2, 15, 30, 27), fill=body, radius=3)
    for i, x in enumerate((7, 11.5, 16, 20.5)):
        p.ellipse((x - 1.5, 19.5, x + 1.5, 22.5), fill=GREEN if i < 3 else YELLOW)
    p.rect((23, 19.5, 27, 22.5), fill=BLUE_LIGHT, radius=1)
    return p.done()


def BackupDrive():
    p = Pic(97, 103)
    p.rect((8, 62, 89, 98), fill=(0xE4, 0xE9, 0xEF, 255), outline=GREY, width=2, radius=6)
    p.rect((14, 84, 83, 86), fill=(0xC9, 0xD2, 0xDC, 255))
    p.ellipse((72, 70, 78, 76), fill=GREEN)
    p.rect((18, 70, 50, 75), fill=(0xC9, 0xD2, 0xDC, 255), radius=2)
    # the blue arrow into the drive
    p.rect((38, 4, 59, 36), fill=BLUE, radius=2)
    p.poly([(24, 34), (73, 34), (48.5, 58)], fill=BLUE)
    return p.done()


def Gear48():
    p = Pic(48, 48)
    gear(p, 24, 24, 21.5, 16.5, 9, BLUE, 7)
    p.ellipse((13, 13, 35, 35), outline=WHITE, width=2)
    return p.done()


def GearLarge():
    p = Pic(126, 126)
    gear(p, 63, 63, 60, 47, 12, BLUE, 20)
    p.ellipse((27, 27, 99, 99), outline=(0x8C, 0xCB, 0xF5, 255), width=5)
    return p.done()


def LaptopDownload():
    p = Pic(98, 100)
    frame = (0x3A, 0x4A, 0x5C, 255)
    p.rect((14, 22, 84, 72), fill=frame, radius=4)
    p.rect((19, 27, 79, 67), fill=(0xE3, 0xF2, 0xFD, 255))
    p.poly([(4, 74), (94, 74), (90, 82), (8, 82)], fill=(0x5B, 0x6C, 0x80, 255))
    p.rect((40, 74, 58, 76.5), fill=(0x3A, 0x4A, 0x5C, 255), radius=1)
    # yellow download arrow over the screen
    p.rect((41, 6, 57, 38), fill=YELLOW, radius=2)
    p.poly([(29, 36), (69, 36), (49, 58)], fill=YELLOW)
    p.rect((34, 60, 64, 63.5), fill=YELLOW, radius=1.5)
    return p.done()


def UpdateMonitor():
    p = Pic(98, 98)
    p.ellipse((1, 1, 97, 97), fill=BLUE)
    p.rect((21, 24, 77, 64), outline=WHITE, width=4, radius=3)
    p.poly([(43, 66), (55, 66), (57, 74), (41, 74)], fill=WHITE)
    p.rect((33, 74, 65, 78), fill=WHITE, radius=2)
    green = (0x3C, 0xC3, 0x5B, 255)
    p.rect((44, 30, 54, 45), fill=green)
    p.poly([(36, 44), (62, 44), (49, 58)], fill=green)
    return p.done()


# ---- picture strips of the skinned controls ---------------------------------

def title_strip(glyph, hot_fill, pressed_fill):
    w, h = 28, 22
    p = Pic(w * 3, h)
    for i, bg in enumerate((None, hot_fill, pressed_fill)):
        x = i * w
        if bg:
            p.rect((x, 0, x + w, h), fill=bg)
        glyph(p, x)
    return p.done()


def _close(p, x):
    p.line([(x + 9.5, 7), (x + 18.5, 16)], WHITE, 1.6)
    p.line([(x + 18.5, 7), (x + 9.5, 16)], WHITE, 1.6)


def _min(p, x):
    p.line([(x + 9, 12.5), (x + 19, 12.5)], WHITE, 1.8)


def _menu(p, x):
    for y in (7.5, 11.5, 15.5):
        p.line([(x + 9, y), (x + 19, y)], WHITE, 1.5)


def TitleClose():
    return title_strip(_close, (0xE8, 0x45, 0x3C, 255), (0xC4, 0x2B, 0x22, 255))


def TitleMin():
    return title_strip(_min, (255, 255, 255, 60), (0, 0, 0, 40))


def TitleMenu():
    return title_strip(_menu, (255, 255, 255, 60), (0, 0, 0, 40))


def switch_strip(on):
    w, h = 34, 18
    p = Pic(w * 3, h)
    fills = [(0x22, 0x9E, 0xED, 255), (0x48, 0xAD, 0xEE, 255), (0x0C, 0x86, 0xD6, 255)] if on else \
            [(0xC3, 0xCB, 0xD4, 255), (0xB2, 0xBC, 0xC7, 255), (0xA0, 0xAB, 0xB7, 255)]
    for i, f in enumerate(fills):
        x = i * w
        p.rect((x + 0.5, 0.5, x + w - 0.5, h - 0.5), fill=f, radius=8.5)
        kx = x + w - 9.5 if on else x + 9.5
        p.ellipse((kx - 7, 2, kx + 7, 16), fill=WHITE)
    return p.done()


def SwitchOn():
    return switch_strip(True)


def SwitchOff():
    return switch_strip(False)


def CheckBox():
    """Four cells of 14 x 14: unchecked, unchecked hot, checked, checked hot."""
    c = 14
    p = Pic(c * 4, c)
    for i in range(4):
        x = i * c
        checked, hot = i >= 2, i % 2 == 1
        if checked:
            p.rect((x + 0.5, 0.5, x + 13.5, 13.5), fill=(0x48, 0xAD, 0xEE, 255) if hot else BLUE, radius=2)
            tick(p, [(x + 3.5, 7), (x + 6, 9.8), (x + 10.5, 4.2)], WHITE, 1.8)
        else:
            p.rect((x + 0.5, 0.5, x + 13.5, 13.5), fill=WHITE,
                   outline=BLUE if hot else (0x8F, 0xA3, 0xB8, 255), width=1.2, radius=2)
    return p.done()


PICTURES = [PASS, UNPASS, OK, FAIL, HomeLogo, AppIcon24, CheckComputer, IconCPU, IconMem, IconDisk, IconNet,
            IconDownDisk, Question, BakMyDoc, BakDesktop, BakIEFav, BakADSL, BackupDrive, Gear48, GearLarge,
            LaptopDownload, UpdateMonitor, TitleClose, TitleMin, TitleMenu, SwitchOn, SwitchOff, CheckBox]


def main():
    global K
    if sys.argv[1:] == ["--list"]:
        print("\n".join(f.__name__ + suffix for _, suffix in SCALES for f in PICTURES))
        return
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for percent, suffix in SCALES:
        K = percent / 100
        for f in PICTURES:
            f().save(os.path.join(out, f.__name__ + suffix + ".png"), optimize=True)
    K = 1.0
    icon = app_icon(256)
    # The small icon at 100, 125, 150 and 200 %, the large one likewise.
    icon.save(os.path.join(out, "Corvaner.ico"),
              sizes=[(16, 16), (20, 20), (24, 24), (32, 32), (40, 40), (48, 48), (64, 64), (256, 256)])


if __name__ == "__main__":
    main()
