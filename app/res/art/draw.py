#!/usr/bin/env python3
"""Draws the program's small pictures (toolbar strips, list icons, window
icons) as PNG files beside this script. The pictures are plain geometric
glyphs; run it again after changing a recipe and commit the PNG files."""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MASK = (211, 211, 206)  # transparent colour of the toolbar strips
WHITE = (255, 255, 255)  # transparent colour of the list bitmaps


class Canvas:
    def __init__(self, w, h, bg):
        self.w, self.h = w, h
        self.px = [[bg + (255,) if len(bg) == 3 else bg for _ in range(w)] for _ in range(h)]

    def put(self, x, y, c):
        x, y = int(round(x)), int(round(y))
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c + (255,) if len(c) == 3 else c

    def rect(self, x0, y0, x1, y1, c):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, c)

    def frame(self, x0, y0, x1, y1, c):
        for x in range(x0, x1 + 1):
            self.put(x, y0, c)
            self.put(x, y1, c)
        for y in range(y0, y1 + 1):
            self.put(x0, y, c)
            self.put(x1, y, c)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.put(x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n, c)

    def disk(self, cx, cy, r, c, ring=None):
        for y in range(self.h):
            for x in range(self.w):
                d = math.hypot(x - cx, y - cy)
                if d <= r and (ring is None or d >= r - ring):
                    self.put(x, y, c)

    def tri(self, pts, c):
        (ax, ay), (bx, by), (qx, qy) = pts
        def side(px, py, x0, y0, x1, y1):
            return (px - x1) * (y0 - y1) - (x0 - x1) * (py - y1)
        for y in range(self.h):
            for x in range(self.w):
                d1 = side(x, y, ax, ay, bx, by)
                d2 = side(x, y, bx, by, qx, qy)
                d3 = side(x, y, qx, qy, ax, ay)
                neg = d1 < 0 or d2 < 0 or d3 < 0
                pos = d1 > 0 or d2 > 0 or d3 > 0
                if not (neg and pos):
                    self.put(x, y, c)

    def blit(self, other, ox, oy):
        for y in range(other.h):
            for x in range(other.w):
                self.px[oy + y][ox + x] = other.px[y][x]

    def save(self, path):
        raw = b"".join(b"\x00" + b"".join(struct.pack("BBBB", *p) for p in row) for row in self.px)
        def chunk(tag, data):
            return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))
        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.w, self.h, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(png)


BLACK, GREY, DARK = (0, 0, 0), (128, 128, 128), (64, 64, 64)
RED, GREEN, BLUE = (200, 30, 30), (30, 150, 30), (30, 70, 190)
YELLOW, PAPER, FOLDER = (240, 200, 40), (250, 250, 245), (230, 180, 60)


def page(c, x=3, y=1, w=9, h=13):
    c.rect(x, y, x + w, y + h, PAPER)
    c.frame(x, y, x + w, y + h, DARK)


def folder(c):
    c.rect(1, 4, 6, 5, FOLDER)
    c.rect(1, 5, 14, 13, FOLDER)
    c.frame(1, 5, 14, 13, (150, 100, 20))


def arrow(c, d, col):
    if d == "up":
        c.tri([(8, 2), (3, 8), (13, 8)], col)
        c.rect(6, 8, 10, 14, col)
    elif d == "left":
        c.tri([(2, 8), (8, 3), (8, 13)], col)
        c.rect(8, 6, 14, 10, col)
    else:
        c.tri([(14, 8), (8, 3), (8, 13)], col)
        c.rect(2, 6, 8, 10, col)


def cross(c, col=RED):
    for d in (-1, 0, 1):
        c.line(3 + d, 3, 13 + d, 13, col)
        c.line(13 + d, 3, 3 + d, 13, col)


G = {}
def glyph(*ids):
    def reg(f):
        for i in ids:
            G[i] = f
        return f
    return reg


@glyph(57634)
def _copy(c):
    page(c, 1, 1, 8, 10)
    page(c, 6, 5, 8, 10)

@glyph(57635)
def _cut(c):
    c.line(4, 1, 10, 10, DARK); c.line(12, 1, 6, 10, DARK)
    c.disk(5, 12, 2.5, BLUE, 1.2); c.disk(11, 12, 2.5, BLUE, 1.2)

@glyph(57637, 32797)
def _paste(c):
    c.rect(2, 2, 11, 14, (160, 110, 50)); page(c, 6, 5, 8, 10); c.rect(5, 1, 8, 3, GREY)

@glyph(32801, 32781, 32827, 32788, 32828)
def _delete(c):
    cross(c)

@glyph(32806)
def _refresh(c):
    c.disk(8, 8, 6, GREEN, 2); c.rect(8, 0, 15, 7, MASKED); c.tri([(8, 0), (13, 3), (8, 7)], GREEN)

@glyph(32800)
def _parent(c):
    folder(c); arrow(c, "up", GREEN)

@glyph(32776)
def _chdir(c):
    folder(c); c.tri([(14, 9), (9, 5), (9, 13)], BLUE)

@glyph(57601, 32786)
def _open(c):
    folder(c); c.tri([(1, 13), (4, 8), (16, 8)], (250, 210, 110))

@glyph(57607)
def _print(c):
    c.rect(4, 1, 11, 6, PAPER); c.frame(4, 1, 11, 6, DARK)
    c.rect(1, 6, 14, 11, GREY); c.frame(1, 6, 14, 11, DARK); c.rect(4, 10, 11, 14, PAPER)

@glyph(32805, 32819, 32793, 32830)
def _props(c):
    page(c)
    for y in (4, 7, 10):
        c.line(5, y, 10, y, BLUE)

@glyph(32813)
def _listview(c):
    for x, y in ((2, 2), (9, 2), (2, 9), (9, 9)):
        c.rect(x, y, x + 4, y + 4, BLUE)

@glyph(57664)
def _about(c):
    c.disk(8, 8, 7, BLUE); c.rect(7, 7, 8, 12, WHITE_); c.rect(7, 4, 8, 5, WHITE_)

@glyph(57665, 8)
def _exit(c):
    c.rect(3, 1, 11, 14, (140, 80, 40)); c.frame(3, 1, 11, 14, DARK); c.rect(9, 7, 10, 8, YELLOW)

@glyph(32809)
def _contents(c):
    c.rect(2, 2, 13, 13, BLUE); c.rect(4, 2, 4, 13, DARK); c.rect(6, 4, 11, 6, PAPER)

@glyph(57666)
def _index(c):
    page(c)
    for y in (3, 6, 9, 12):
        c.rect(5, y, 6, y, RED); c.line(8, y, 11, y, DARK)

@glyph(57667)
def _search(c):
    c.disk(6, 6, 5, DARK, 1.5); c.line(9, 9, 14, 14, DARK); c.line(10, 9, 15, 14, DARK)

@glyph(32850)
def _web(c):
    c.disk(8, 8, 7, (60, 140, 220)); c.line(1, 8, 15, 8, PAPER); c.line(8, 1, 8, 15, PAPER)
    c.disk(8, 8, 4, PAPER, 1)

@glyph(32840)
def _bug(c):
    c.disk(8, 9, 4.5, (120, 60, 20))
    for y in (6, 9, 12):
        c.line(1, y, 15, y, DARK)
    c.disk(8, 4, 2, DARK)

@glyph(32841)
def _support(c):
    c.disk(8, 8, 7, RED, 3); c.rect(7, 1, 9, 4, PAPER); c.rect(7, 12, 9, 15, PAPER)
    c.rect(1, 7, 4, 9, PAPER); c.rect(12, 7, 15, 9, PAPER)

@glyph(32780)
def _connect(c):
    c.rect(1, 6, 7, 10, GREEN); c.rect(7, 7, 9, 9, DARK); c.rect(9, 6, 15, 10, GREEN)

@glyph(32782)
def _disconnect(c):
    c.rect(1, 6, 5, 10, RED); c.rect(11, 6, 15, 10, RED); c.line(7, 3, 9, 13, DARK)

@glyph(32783)
def _disconnect_all(c):
    c.rect(1, 2, 5, 6, RED); c.rect(11, 2, 15, 6, RED)
    c.rect(1, 10, 5, 14, RED); c.rect(11, 10, 15, 14, RED)

@glyph(32851, 32852)
def _wizard(c):
    c.line(2, 14, 10, 6, DARK); c.line(3, 14, 11, 6, DARK)
    c.tri([(12, 1), (10, 6), (15, 5)], YELLOW); c.tri([(12, 8), (9, 3), (15, 3)], YELLOW)

@glyph(32821)
def _quick(c):
    c.tri([(10, 0), (3, 9), (9, 9)], YELLOW); c.tri([(7, 7), (13, 7), (5, 15)], YELLOW)

@glyph(32818)
def _options(c):
    for a in range(8):
        x = 8 + 6 * math.cos(a * math.pi / 4)
        y = 8 + 6 * math.sin(a * math.pi / 4)
        c.rect(int(x) - 1, int(y) - 1, int(x) + 1, int(y) + 1, GREY)
    c.disk(8, 8, 5, GREY); c.disk(8, 8, 2, MASKED)

@glyph(57600)
def _new(c):
    page(c); c.tri([(12, 0), (9, 6), (15, 6)], YELLOW); c.tri([(12, 7), (9, 2), (15, 2)], YELLOW)

@glyph(32823)
def _cancel(c):
    c.disk(8, 8, 6.5, RED)

@glyph(32831)
def _pause(c):
    c.rect(3, 2, 6, 13, (220, 170, 0)); c.rect(9, 2, 12, 13, (220, 170, 0))

@glyph(32825)
def _continue(c):
    c.tri([(4, 2), (4, 14), (13, 8)], GREEN)

@glyph(32774)
def _back(c):
    arrow(c, "left", BLUE)

@glyph(32817)
def _next(c):
    arrow(c, "right", BLUE)


WHITE_ = (255, 255, 254)
MASKED = MASK


def glyph_canvas(cmd, bg):
    global MASKED
    MASKED = bg
    c = Canvas(16, 16, bg)
    G.get(cmd, lambda c: c.frame(2, 2, 13, 13, GREY))(c)
    return c


def greyed(c, bg):
    out = Canvas(c.w, c.h, bg)
    for y in range(c.h):
        for x in range(c.w):
            p = c.px[y][x]
            if p[:3] != bg:
                g = (p[0] + p[1] + p[2]) // 3
                g = 128 + g // 3
                out.px[y][x] = (g, g, g, 255)
    return out


TOOLBARS = {
    109: [57635, 57634, 57637, 32801, 32806, 32800, 32776, 57601, 57607, 32805, 32813, 57664],
    111: [32821, 32818, 57600, 32786, 32781, 32819, 32823, 32831, 32825],
    113: [57665, 32809, 57666, 57667, 57664, 32850, 32840, 32841, 32780, 32782, 32783, 32851, 32852],
    114: [8, 32774, 32817],
}
STRIPS = {109: (32, 33), 111: (34, 35), 113: (36, 37), 114: (None, None)}


def strip(cmds, bg, grey=False):
    s = Canvas(16 * len(cmds), 16, bg)
    for i, cmd in enumerate(cmds):
        g = glyph_canvas(cmd, bg)
        s.blit(greyed(g, bg) if grey else g, 16 * i, 0)
    return s


def save_bmp(c, bid):
    c.save(os.path.join(HERE, "bmp", "%d.png" % bid))


def small(w, h, recipe):
    c = Canvas(w, h, WHITE)
    recipe(c)
    return c


def main():
    for tb, cmds in TOOLBARS.items():
        save_bmp(strip(cmds, MASK), tb)
        normal, disabled = STRIPS[tb]
        if normal:
            save_bmp(strip(cmds, MASK), normal)
            save_bmp(strip(cmds, MASK, True), disabled)
    # Data-source images (16 x 16, white transparent).
    save_bmp(small(16, 16, lambda c: (c.disk(8, 8, 6, GREEN))), 3)           # state: fine
    save_bmp(small(16, 16, lambda c: (c.disk(8, 8, 6, YELLOW))), 4)          # state: busy
    save_bmp(small(16, 16, lambda c: (c.disk(8, 8, 6, RED))), 5)             # state: error
    save_bmp(small(16, 16, lambda c: (folder(c), c.rect(4, 8, 11, 10, BLUE))), 14)    # FTP
    save_bmp(small(16, 16, lambda c: (folder(c), c.disk(8, 9, 3, GREEN))), 15)        # HTTP
    save_bmp(small(16, 16, lambda c: (folder(c), c.rect(5, 7, 10, 11, DARK))), 17)    # SFTP
    save_bmp(small(16, 16, lambda c: (c.rect(2, 3, 13, 11, DARK), c.rect(3, 4, 12, 10, (80, 160, 230)),
                                      c.rect(5, 12, 10, 13, DARK))), 16)     # live instance
    # Worker session lamps (10 x 10).
    save_bmp(small(10, 10, lambda c: c.disk(4.5, 4.5, 4, GREEN)), 6)
    save_bmp(small(10, 10, lambda c: c.disk(4.5, 4.5, 4, GREY)), 7)
    # Transfer list icons and overlays (16 x 12).
    def pg(col):
        return lambda c: (c.rect(4, 0, 11, 11, PAPER), c.frame(4, 0, 11, 11, DARK), c.rect(6, 4, 9, 7, col))
    save_bmp(small(16, 12, pg(BLUE)), 18)
    save_bmp(small(16, 12, pg(GREY)), 19)
    save_bmp(small(16, 12, lambda c: c.disk(12, 8, 3, RED)), 20)
    save_bmp(small(16, 12, pg(YELLOW)), 22)
    save_bmp(small(16, 12, lambda c: c.disk(12, 8, 3, GREEN)), 24)
    save_bmp(small(16, 12, lambda c: c.disk(12, 8, 3, YELLOW)), 25)
    save_bmp(small(16, 12, pg(GREEN)), 26)
    save_bmp(small(16, 12, pg(DARK)), 27)
    save_bmp(small(16, 12, pg(RED)), 29)
    # Start-up pictures: a bar that fills step by step.
    for i, bid in enumerate(range(8, 13)):
        def pic(c, i=i):
            c.rect(0, 0, c.w - 1, c.h - 1, (30, 70, 150))
            c.rect(20, 50, 20 + 52 * (i + 1), 70, YELLOW)
            c.frame(20, 50, 280, 70, PAPER)
        save_bmp(small(300, 120, pic), bid)
    # Window and dialog icons (32 x 32).
    def icon(fill, mark):
        c = Canvas(32, 32, (0, 0, 0, 0))
        c.disk(15.5, 15.5, 15, fill)
        mark(c)
        return c
    def k(c):  # the program's own mark: a "K" of two strokes on an arrow
        c.rect(9, 6, 12, 25, PAPER)
        for d in range(3):
            c.line(13, 16 + d, 22, 6 + d, PAPER)
            c.line(13, 14 + d, 23, 25 + d - 1, PAPER)
    icons = {
        96: icon(BLUE, k), 111: icon(BLUE, k), 106: icon(GREEN, k), 107: icon(RED, k),
        97: icon(BLUE, lambda c: (c.rect(14, 13, 17, 24, PAPER), c.rect(14, 7, 17, 10, PAPER))),
        98: icon((40, 120, 60), lambda c: (c.disk(15.5, 12, 5, PAPER, 2.5), c.rect(11, 8, 14, 12, (40, 120, 60)),
                                           c.rect(14, 16, 17, 20, PAPER), c.rect(14, 23, 17, 26, PAPER))),
        99: icon(FOLDER, lambda c: c.rect(8, 10, 23, 22, PAPER)),
        100: icon(GREY, lambda c: [c.rect(x, 14, x + 3, 17, PAPER) for x in (7, 14, 21)]),
        101: icon(GREY, lambda c: c.disk(15.5, 15.5, 6, PAPER, 3)),
        102: icon(YELLOW, lambda c: (c.tri([(18, 4), (8, 18), (15, 18)], DARK), c.tri([(13, 14), (22, 14), (12, 28)], DARK))),
        103: icon(PAPER, lambda c: [c.line(8, y, 23, y, DARK) for y in (9, 13, 17, 21)]),
        104: icon(BLUE, lambda c: (c.disk(15.5, 12, 5, PAPER, 2.5), c.rect(14, 22, 17, 25, PAPER))),
        105: icon(GREEN, lambda c: (c.tri([(24, 16), (16, 8), (16, 24)], PAPER), c.rect(6, 13, 16, 19, PAPER))),
    }
    for iid, c in icons.items():
        c.save(os.path.join(HERE, "ico", "%d.png" % iid))


if __name__ == "__main__":
    main()
