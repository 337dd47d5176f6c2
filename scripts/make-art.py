#!/usr/bin/env python3
"""Draws KeyScout's artwork and writes every file made from it.

    python3 scripts/make-art.py [--out DIR]

writes, below DIR (the repository root by default):

    res/KeyScout.ico        icon 128: 48, 32 and 16 px at 4, 8 and 32 bits per pixel
    res/KeyScout.bmp        bitmap 130: the 160 x 320 picture down the main window's left side
    res/icons/hicolor/<N>x<N>/apps/keyscout.png   N = 16, 32, 48, 64, 128, 256
    res/icons/hicolor/scalable/apps/keyscout.svg

The drawing is a key whose blade is a USB-A plug. It is made of a few shapes given by their
signed distance functions; a pixel's coverage comes from the distance at its centre, which
anti-aliases every edge without supersampling. Only +, -, *, / and sqrt touch the geometry
(all correctly rounded in IEEE double arithmetic) and the PNG data goes through zlib at a
fixed level, so every run writes the same bytes. Standard library only.
"""

import argparse
import math
import os
import struct
import sys
import zlib

SQRT_HALF = math.sqrt(0.5)

# --------------------------------------------------------------------------------------------
# Shapes. Each gives the signed distance from a point (negative inside) in its own coordinates,
# a bounding box, and the same outline as SVG. `grow` widens a shape evenly on every side; it
# is how the outlines are drawn: the shape grown by the line width in the line colour, then
# the shape itself on top.


class Circle:
    def __init__(self, cx, cy, r):
        self.cx, self.cy, self.r = cx, cy, r

    def dist(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return math.sqrt(dx * dx + dy * dy) - self.r

    def bbox(self):
        return (self.cx - self.r, self.cy - self.r, self.cx + self.r, self.cy + self.r)

    def svg(self, g):
        return '<circle cx="%s" cy="%s" r="%s"' % (num(self.cx), num(self.cy), num(self.r + g))


class Ring:
    """An annulus: the bow of the key with its ring hole."""

    def __init__(self, cx, cy, r_out, r_in):
        self.cx, self.cy = cx, cy
        self.mid, self.half = (r_out + r_in) / 2, (r_out - r_in) / 2
        self.r_out, self.r_in = r_out, r_in

    def dist(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return abs(math.sqrt(dx * dx + dy * dy) - self.mid) - self.half

    def bbox(self):
        r = self.r_out
        return (self.cx - r, self.cy - r, self.cx + r, self.cy + r)

    def svg(self, g):
        ro, ri = self.r_out + g, self.r_in - g
        cx, cy = self.cx, self.cy

        def circle(r):
            return 'M%s %sa%s %s 0 1 0 %s 0a%s %s 0 1 0 %s 0z' % (
                num(cx - r), num(cy), num(r), num(r), num(2 * r), num(r), num(r), num(-2 * r))

        return '<path fill-rule="evenodd" d="%s%s"' % (circle(ro), circle(ri))


class RRect:
    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.cx, self.cy = (x0 + x1) / 2, (y0 + y1) / 2
        self.hx, self.hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def dist(self, x, y):
        qx = abs(x - self.cx) - self.hx
        qy = abs(y - self.cy) - self.hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return math.sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - self.r

    def bbox(self):
        return (self.x0, self.y0, self.x1, self.y1)

    def svg(self, g):
        s = '<rect x="%s" y="%s" width="%s" height="%s"' % (
            num(self.x0 - g), num(self.y0 - g), num(self.x1 - self.x0 + 2 * g),
            num(self.y1 - self.y0 + 2 * g))
        if self.r + g > 0:
            s += ' rx="%s"' % num(self.r + g)
        return s


class Capsule:
    """A line segment with round ends."""

    def __init__(self, x0, y0, x1, y1, r):
        self.x0, self.y0, self.x1, self.y1, self.r = x0, y0, x1, y1, r
        self.dx, self.dy = x1 - x0, y1 - y0
        self.ll = self.dx * self.dx + self.dy * self.dy

    def dist(self, x, y):
        px, py = x - self.x0, y - self.y0
        t = 0.0 if self.ll == 0 else (px * self.dx + py * self.dy) / self.ll
        t = min(max(t, 0.0), 1.0)
        ex, ey = px - t * self.dx, py - t * self.dy
        return math.sqrt(ex * ex + ey * ey) - self.r

    def bbox(self):
        r = self.r
        return (min(self.x0, self.x1) - r, min(self.y0, self.y1) - r,
                max(self.x0, self.x1) + r, max(self.y0, self.y1) + r)

    def svg(self, g):
        return ('<line x1="%s" y1="%s" x2="%s" y2="%s" stroke-width="%s" stroke-linecap="round"'
                % (num(self.x0), num(self.y0), num(self.x1), num(self.y1), num(2 * (self.r + g))))


class Stroke:
    """Polylines drawn with a round pen of radius r: the drawn letters and the tree."""

    def __init__(self, lines, r):
        self.segs = []
        for pts in lines:
            if len(pts) == 1:
                pts = [pts[0], pts[0]]
            for (ax, ay), (bx, by) in zip(pts, pts[1:]):
                ex, ey = bx - ax, by - ay
                self.segs.append((ax, ay, ex, ey, ex * ex + ey * ey))
        self.r = r
        xs = [p[0] for pts in lines for p in pts]
        ys = [p[1] for pts in lines for p in pts]
        self.box = (min(xs) - r, min(ys) - r, max(xs) + r, max(ys) + r)

    def dist(self, x, y):
        best = None
        for ax, ay, ex, ey, ll in self.segs:
            px, py = x - ax, y - ay
            t = 0.0 if ll == 0 else min(max((px * ex + py * ey) / ll, 0.0), 1.0)
            qx, qy = px - t * ex, py - t * ey
            d2 = qx * qx + qy * qy
            if best is None or d2 < best:
                best = d2
        return math.sqrt(best) - self.r

    def bbox(self):
        return self.box


def _unit_circle():
    """Unit vectors every 15 degrees, counterclockwise on the screen (y down), from
    square roots alone so that every platform computes the same points."""
    c15, c30, c45 = (math.sqrt(6) + math.sqrt(2)) / 4, math.sqrt(3) / 2, SQRT_HALF
    first = [(1.0, 0.0), (c15, (math.sqrt(6) - math.sqrt(2)) / 4), (c30, 0.5), (c45, c45),
             (0.5, c30), ((math.sqrt(6) - math.sqrt(2)) / 4, c15)]
    pts = []
    for q in range(4):
        for cx, sy in first:
            # Turning by quarter turns is exact.
            x, y = [(cx, sy), (-sy, cx), (-cx, -sy), (sy, -cx)][q]
            pts.append((x, -y))
    return pts


UNIT = _unit_circle()


def arc(cx, cy, rx, ry, a0, a1):
    """Points of an elliptic arc from a0 to a1 degrees (multiples of 15; counterclockwise
    on the screen when a1 > a0)."""
    step = 1 if a1 >= a0 else -1
    return [(cx + rx * UNIT[(a // 15) % 24][0], cy + ry * UNIT[(a // 15) % 24][1])
            for a in range(a0, a1 + step * 15, step * 15)]


class Poly:
    """A closed polygon (even-odd inside), sharp corners."""

    def __init__(self, pts):
        self.pts = list(pts)

    def dist(self, x, y):
        best = None
        inside = False
        pts = self.pts
        n = len(pts)
        for i in range(n):
            ax, ay = pts[i]
            bx, by = pts[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            px, py = x - ax, y - ay
            ll = ex * ex + ey * ey
            t = min(max((px * ex + py * ey) / ll, 0.0), 1.0)
            qx, qy = px - t * ex, py - t * ey
            d2 = qx * qx + qy * qy
            if best is None or d2 < best:
                best = d2
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        d = math.sqrt(best)
        return -d if inside else d

    def bbox(self):
        xs = [p[0] for p in self.pts]
        ys = [p[1] for p in self.pts]
        return (min(xs), min(ys), max(xs), max(ys))

    def svg(self, g):
        s = '<polygon points="%s"' % ' '.join('%s,%s' % (num(x), num(y)) for x, y in self.pts)
        if g > 0:
            s += ' stroke-width="%s" stroke-linejoin="round"' % num(2 * g)
        return s


def num(v):
    """A number for the SVG file: short, and the same text on every run."""
    s = '%.3f' % v
    s = s.rstrip('0').rstrip('.')
    return '0' if s == '-0' else s


# --------------------------------------------------------------------------------------------
# Paints, in the coordinates of the shape they fill. Colours are (r, g, b) in 0..255.


class Solid:
    def __init__(self, rgb):
        self.rgb = rgb

    def at(self, x, y):
        return self.rgb


class Linear:
    """A linear gradient from (x0, y0) to (x1, y1) through the stops [(t, rgb), ...]."""

    def __init__(self, x0, y0, x1, y1, stops):
        self.x0, self.y0 = x0, y0
        self.dx, self.dy = x1 - x0, y1 - y0
        self.x1, self.y1 = x1, y1
        self.ll = self.dx * self.dx + self.dy * self.dy
        self.stops = stops

    def at(self, x, y):
        t = ((x - self.x0) * self.dx + (y - self.y0) * self.dy) / self.ll
        stops = self.stops
        if t <= stops[0][0]:
            return stops[0][1]
        for (ta, ca), (tb, cb) in zip(stops, stops[1:]):
            if t <= tb:
                f = (t - ta) / (tb - ta)
                return (ca[0] + (cb[0] - ca[0]) * f, ca[1] + (cb[1] - ca[1]) * f,
                        ca[2] + (cb[2] - ca[2]) * f)
        return stops[-1][1]


class Radial:
    """A radial gradient round (cx, cy) out to radius r through the stops."""

    def __init__(self, cx, cy, r, stops):
        self.cx, self.cy, self.r = cx, cy, r
        self.lin = Linear(0, 0, 1, 0, stops)

    def at(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return self.lin.at(math.sqrt(dx * dx + dy * dy) / self.r, 0)


def rgb(hexstr):
    v = int(hexstr.lstrip('#'), 16)
    return ((v >> 16) & 255, (v >> 8) & 255, v & 255)


def hexrgb(c):
    return '#%02x%02x%02x' % tuple(int(v + 0.5) for v in c)


# --------------------------------------------------------------------------------------------
# Placement of a group of shapes on the canvas: scale, then an optional turn by 45 degrees
# (the key points to the upper right), then a shift.


class Place:
    def __init__(self, tx=0.0, ty=0.0, scale=1.0, turn45=False):
        self.tx, self.ty, self.s = tx, ty, scale
        self.c, self.sn = (SQRT_HALF, SQRT_HALF) if turn45 else (1.0, 0.0)
        self.turn45 = turn45

    def to_canvas(self, x, y):
        return (self.tx + self.s * (self.c * x + self.sn * y),
                self.ty + self.s * (-self.sn * x + self.c * y))

    def to_local(self, X, Y):
        dx, dy = (X - self.tx) / self.s, (Y - self.ty) / self.s
        return (self.c * dx - self.sn * dy, self.sn * dx + self.c * dy)

    def svg(self):
        parts = []
        if self.tx or self.ty:
            parts.append('translate(%s %s)' % (num(self.tx), num(self.ty)))
        if self.turn45:
            parts.append('rotate(-45)')
        if self.s != 1.0:
            parts.append('scale(%s)' % num(self.s))
        return ' '.join(parts)


class Op:
    """One filled shape: shape grown by `grow` (local units), painted, at `alpha`. A `soft`
    shape fades out over that many local units across its edge instead of a pixel: the
    shadows and glows."""

    def __init__(self, shape, paint, place, grow=0.0, alpha=1.0, soft=0.0):
        self.shape, self.paint, self.place, self.grow, self.alpha = shape, paint, place, grow, alpha
        self.soft = soft


# --------------------------------------------------------------------------------------------
# Raster: premultiplied RGBA in floats, colours 0..255, alpha 0..1.


class Canvas:
    def __init__(self, w, h, units_w, background=None, sharpness=1.0):
        """w x h pixels showing units_w design units across. A sharpness above 1 narrows
        the anti-aliased band of every edge below a pixel."""
        self.w, self.h = w, h
        self.sharpness = sharpness
        self.ppu = w / units_w
        n = w * h
        if background is None:
            self.r, self.g, self.b, self.a = [0.0] * n, [0.0] * n, [0.0] * n, [0.0] * n
        else:
            self.r, self.g, self.b = ([float(background[0])] * n, [float(background[1])] * n,
                                      [float(background[2])] * n)
            self.a = [1.0] * n

    def draw(self, op):
        shape, paint, place, grow, alpha = op.shape, op.paint, op.place, op.grow, op.alpha
        ppu = self.ppu
        # Pixels per local unit: the distance field is in local units.
        k = ppu * place.s * self.sharpness
        if op.soft > 0.0:
            k = 1.0 / op.soft
        x0, y0, x1, y1 = shape.bbox()
        m = grow + 2.0 / k
        corners = [place.to_canvas(x, y) for x, y in
                   ((x0 - m, y0 - m), (x1 + m, y0 - m), (x0 - m, y1 + m), (x1 + m, y1 + m))]
        px0 = max(0, int(math.floor(min(c[0] for c in corners) * ppu)))
        px1 = min(self.w, int(math.ceil(max(c[0] for c in corners) * ppu)) + 1)
        py0 = max(0, int(math.floor(min(c[1] for c in corners) * ppu)))
        py1 = min(self.h, int(math.ceil(max(c[1] for c in corners) * ppu)) + 1)
        R, G, B, A = self.r, self.g, self.b, self.a
        dist, at, to_local = shape.dist, paint.at, place.to_local
        for py in range(py0, py1):
            Y = (py + 0.5) / ppu
            row = py * self.w
            for px in range(px0, px1):
                lx, ly = to_local((px + 0.5) / ppu, Y)
                cov = 0.5 - (dist(lx, ly) - grow) * k
                if cov <= 0.0:
                    continue
                if cov > 1.0:
                    cov = 1.0
                a = cov * alpha
                cr, cg, cb = at(lx, ly)
                i = row + px
                ia = 1.0 - a
                R[i] = cr * a + R[i] * ia
                G[i] = cg * a + G[i] * ia
                B[i] = cb * a + B[i] * ia
                A[i] = a + A[i] * ia

    def draw_all(self, ops):
        for op in ops:
            self.draw(op)

    def rgba8(self):
        """Straight (not premultiplied) 8-bit RGBA rows, top first."""
        out = []
        for y in range(self.h):
            row = []
            for x in range(self.w):
                i = y * self.w + x
                a = self.a[i]
                if a <= 0.0:
                    row.append((0, 0, 0, 0))
                    continue
                row.append((q8(self.r[i] / a), q8(self.g[i] / a), q8(self.b[i] / a),
                            q8(a * 255.0)))
            out.append(row)
        return out


def q8(v):
    v = int(v + 0.5)
    return 0 if v < 0 else 255 if v > 255 else v


# --------------------------------------------------------------------------------------------
# The motif: a key whose blade is a USB-A plug. Drawn in local units along the +x axis, bow
# on the left, plug tip on the right; the placement turns it to point to the upper right.

PALETTE_16 = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]

# The calm scheme for the true-colour images, and the same parts in the 16 Windows colours.
COLOURS = {
    'line': rgb('#1f3a46'),
    'teal_hi': rgb('#6fb0b8'), 'teal': rgb('#3f8f9a'), 'teal_lo': rgb('#2b6b77'),
    'metal_hi': rgb('#eef2f4'), 'metal': rgb('#c3ccd2'), 'metal_lo': rgb('#8c99a3'),
    'hole': rgb('#34454f'), 'shine': rgb('#ffffff'),
}
COLOURS_16 = {
    'line': PALETTE_16[0],
    'teal_hi': PALETTE_16[6], 'teal': PALETTE_16[6], 'teal_lo': PALETTE_16[6],
    'metal_hi': PALETTE_16[15], 'metal': PALETTE_16[7], 'metal_lo': PALETTE_16[8],
    'hole': PALETTE_16[0], 'shine': PALETTE_16[6],
}


def key_ops(place, line_w, colours, detail):
    """The key and plug as drawing operations.

    line_w: outline width in local units. detail: 0 at 16 px, where every part must stay at
    least a pixel wide and only the silhouette, the ring hole and the two colours of head
    and plug are kept; 1 at 32 px adds the glint; 2 at 48 px the teeth of the key's bit and
    the grip ridges; 3 at 64 px and up the soft ring on the bow.
    """
    c = colours
    ops = []
    line = Solid(c['line'])

    teal = Linear(0, -40, 0, 40, [(0.0, c['teal_hi']), (0.45, c['teal']), (1.0, c['teal_lo'])])
    metal = Linear(0, -26, 0, 26, [(0.0, c['metal_hi']), (0.5, c['metal']),
                                   (1.0, c['metal_lo'])])
    metal_dark = Linear(0, 14, 0, 42, [(0.0, c['metal']), (1.0, c['metal_lo'])])
    teeth = []
    holes = []
    if detail == 0:
        # One pixel is 16 units here: a broad ring with a hole of two pixels, a short
        # neck, and a plain plug whose holes would only be noise.
        bow = Ring(-78, 0, 50, 26)
        head = RRect(-34, -27, 24, 27, 8)
        shell = RRect(18, -25, 118, 25, 2)
        metal = Linear(0, -26, 0, 26, [(0.0, c['metal_hi']), (1.0, c['metal'])])
    else:
        bow = Ring(-86, 0, 52, 21)
        head = RRect(-44, -30, 34, 30, 10)
        shell = RRect(28, -24, 126, 24, 3)
        holes = [RRect(84, -15, 104, -5, 0), RRect(84, 5, 104, 15, 0)]
    if detail >= 2:
        # The bit of the key: teeth cut along one edge of the blade.
        teeth = [Poly([(34, 18), (82, 18), (82, 30), (76, 40), (68, 30), (60, 40), (52, 30),
                       (44, 40), (34, 40)])]

    # One outline round the whole silhouette first, so that the joins between the parts
    # stay clean, then the parts from the back to the front.
    # At 16 px a line inside the ring would fill its hole, so there the ring is outlined
    # only on the outside.
    if detail == 0:
        ops.append(Op(Ring(bow.cx, bow.cy, bow.r_out + line_w, bow.r_in), line, place))
    else:
        ops.append(Op(bow, line, place, grow=line_w))
    for shape in [head, shell] + teeth:
        ops.append(Op(shape, line, place, grow=line_w))
    ops.append(Op(bow, teal, place))
    ops.append(Op(head, teal, place))
    if detail >= 2:
        # Grip ridges on the plug's moulded head.
        for x in (-18, -4, 10):
            ops.append(Op(Capsule(x, -17, x, 17, 2.2), Solid(c['teal_lo']), place, alpha=0.9))
            ops.append(Op(Capsule(x + 4, -17, x + 4, 17, 1.4), Solid(c['teal_hi']), place,
                          alpha=0.6))
    # The line between the head and the plug.
    for shape in teeth + [shell]:
        ops.append(Op(shape, line, place, grow=line_w))
    for t in teeth:
        ops.append(Op(t, metal_dark, place))
    ops.append(Op(shell, metal, place))
    for h in holes:
        ops.append(Op(h, Solid(c['hole']), place))
    if detail >= 1:
        # A glint along the upper edge of the shell.
        ops.append(Op(Capsule(36, -17, 118, -17, 2.0), Solid(c['shine']), place, alpha=0.55))
    if detail >= 3:
        ops.append(Op(Ring(-86, 0, 44, 39), Solid(c['shine']), place, alpha=0.18))
    return ops


def icon_ops(size, colours=COLOURS):
    """The icon on a 256-unit canvas for an image of `size` pixels."""
    ppu = size / 256.0
    detail = 0 if size < 32 else 1 if size < 48 else 2 if size < 64 else 3
    # The outline is one pixel wide on the small images and a little under two pixels wide
    # at 128 px and up.
    line_w = max(1.0 / ppu, 3.6) if size <= 48 else 6.0
    # Centred on the canvas; at 16 px the ring's centre falls on a pixel's centre, so that
    # its hole is a clean square of three pixels.
    place = Place(127.15, 128.85, 1.0, turn45=True) if size < 32 else Place(131.0, 125.0, 1.0,
                                                                            turn45=True)
    return key_ops(place, line_w, colours, detail)


def render_icon(size, colours=COLOURS):
    # The 16-px image keeps its edges harder, so that the outline stays one pixel and
    # does not smear into two grey ones.
    cv = Canvas(size, size, 256.0, sharpness=1.6 if size < 32 else 1.0)
    cv.draw_all(icon_ops(size, colours))
    return cv.rgba8()


# --------------------------------------------------------------------------------------------
# Bitmap 130: a tall banner down the left side of the main window. The dialog's texts and
# lists begin about 147 px from its left edge and may cover the bitmap's last columns, so the
# panel fades into the dialog's grey before them.

BANNER_W, BANNER_H = 160, 320
DIALOG_GREY = (0xF0, 0xF0, 0xF0)
FADE_FROM, FADE_TO = 104.0, 144.0


def glyphs():
    """The letters of the name as pen strokes: baseline at 0, capitals 16 high, small
    letters 11, each with its advance."""
    return {
        'K': ([[(0, -16), (0, 0)], [(9, -16), (0.6, -6.2)], [(3.4, -9.0), (9.6, 0)]], 9.6),
        'e': ([[(0.4, -5.5), (11, -5.5)] + arc(5.5, -5.5, 5.3, 5.5, 0, 315)], 11),
        'y': ([[(0, -11), (5.4, -0.6)], [(10.6, -11), (4.6, 2.6), (3.0, 4.8), (0.6, 4.8)]],
              10.6),
        'S': ([arc(5.2, -12.1, 4.6, 3.9, 30, 270) + arc(5.2, -4.1, 4.8, 4.1, 90, -150)],
              10.4),
        'c': ([arc(5.6, -5.5, 5.4, 5.5, 45, 315)], 10.6),
        'o': ([arc(5.5, -5.5, 5.5, 5.5, 0, 360)], 11),
        'u': ([[(0, -11), (0, -5.5)] + arc(5, -5.5, 5, 5.5, 180, 360) + [(10, -11)],
               [(10, -11), (10, 0)]], 10),
        't': ([[(2.6, -15), (2.6, -3.4)] + arc(6.0, -3.4, 3.4, 3.4, 180, 270) + [(7.4, 0)],
               [(0, -11), (7.2, -11)]], 7.4),
    }


def text_strokes(text, x, y, size, pen, gap):
    """The strokes of `text` with its baseline at (x, y), capitals `size` high."""
    g = glyphs()
    f = size / 16.0
    lines = []
    for ch in text:
        strokes, adv = g[ch]
        for pts in strokes:
            lines.append([(x + px * f, y + py * f) for px, py in pts])
        x += (adv + gap) * f
    return Stroke(lines, pen / 2), x


def banner_ops():
    ops = []
    flat = Place()
    white = Solid((255, 255, 255))
    # The panel: slate blue at the top settling into teal at the bottom.
    ops.append(Op(RRect(-1, -1, BANNER_W + 1, BANNER_H + 1, 0),
                  Linear(0, 0, 0, BANNER_H, [(0.0, rgb('#2e4f66')), (0.55, rgb('#3b6c7e')),
                                             (1.0, rgb('#4f8a92'))]), flat))
    # Calm background shapes: two large pale discs and a few arcs.
    ops.append(Op(Circle(-30, 40, 120), white, flat, alpha=0.05))
    ops.append(Op(Circle(150, 330, 110), white, flat, alpha=0.05))
    ops.append(Op(Ring(60, 206, 96, 95), white, flat, alpha=0.10))
    ops.append(Op(Ring(60, 206, 120, 119), white, flat, alpha=0.06))

    # The name, small and light, near the top.
    name, _ = text_strokes('KeyScout', 13, 40, 13.0, 2.1, 3.1)
    ops.append(Op(name, Solid((0, 0, 0)), Place(0.6, 1.2), alpha=0.25, soft=1.6))
    ops.append(Op(name, Solid(rgb('#f4f8f9')), flat))
    ops.append(Op(Capsule(13, 51, 52, 51, 0.6), Solid(rgb('#9cc3c9')), flat, alpha=0.9))

    # A faint tree of ports and devices, the picture of what the program walks.
    tree = Stroke([[(20, 78), (20, 150)], [(20, 96), (40, 96)], [(20, 128), (40, 128)],
                   [(40, 128), (40, 150)], [(40, 140), (60, 140)], [(20, 150), (32, 150)],
                   [(40, 150), (52, 150)], [(40, 96), (68, 96)]], 0.7)
    ops.append(Op(tree, white, flat, alpha=0.22))
    for x, y, r in ((20, 78, 3.2), (40, 96, 2.4), (68, 96, 2.4), (40, 128, 2.4),
                    (60, 140, 2.4), (32, 150, 2.0), (52, 150, 2.0)):
        ops.append(Op(Circle(x, y, r), white, flat, alpha=0.30))

    # The key and plug, large, on a soft glow with a soft shadow.
    cx, cy, scale = 60.0, 212.0, 0.43
    ops.append(Op(Circle(cx, cy, 60), Radial(cx, cy, 60, [(0.0, rgb('#d8e8ec')),
                                                          (1.0, rgb('#7fb0b9'))]),
                  flat, alpha=0.28, soft=26.0))
    key_place = Place(cx, cy, scale, turn45=True)
    shadow = Place(cx + 3.0, cy + 5.0, scale, turn45=True)
    for shape in (Ring(-86, 0, 52, 21), RRect(-44, -30, 34, 30, 10),
                  RRect(28, -24, 126, 24, 3)):
        ops.append(Op(shape, Solid((10, 24, 32)), shadow, alpha=0.30, soft=12.0))
    ops += key_ops(key_place, 1.25 / scale, COLOURS, 3)
    return ops


def render_banner():
    cv = Canvas(BANNER_W, BANNER_H, float(BANNER_W))
    cv.draw_all(banner_ops())
    rows = cv.rgba8()
    # The fade into the dialog's grey: smooth at both ends, so that no column stands out.
    out = []
    for row in rows:
        line = []
        for x, (r, g, b, _) in enumerate(row):
            t = min(max((x + 0.5 - FADE_FROM) / (FADE_TO - FADE_FROM), 0.0), 1.0)
            f = t * t * (3.0 - 2.0 * t)
            line.append((q8(r + (DIALOG_GREY[0] - r) * f), q8(g + (DIALOG_GREY[1] - g) * f),
                         q8(b + (DIALOG_GREY[2] - b) * f), 255))
        out.append(line)
    return out


# --------------------------------------------------------------------------------------------
# Encoders.


def png_bytes(rows):
    """RGBA rows as a PNG: 8 bits a channel, each row's filter the one that leaves the
    smallest sum of bytes taken as signed, the usual choice of encoders."""
    h, w = len(rows), len(rows[0])
    raw = bytearray()
    prev = bytes(w * 4)
    for row in rows:
        cur = bytes(v for p in row for v in p)
        best = None
        for ftype in range(5):
            f = png_filter(ftype, cur, prev)
            score = sum(v if v < 128 else 256 - v for v in f)
            if best is None or score < best[0]:
                best = (score, ftype, f)
        raw.append(best[1])
        raw += best[2]
        prev = cur

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def png_filter(ftype, cur, prev):
    n = len(cur)
    out = bytearray(n)
    for i in range(n):
        a = cur[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        if ftype == 0:
            p = 0
        elif ftype == 1:
            p = a
        elif ftype == 2:
            p = b
        elif ftype == 3:
            p = (a + b) >> 1
        else:
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            p = a if pa <= pb and pa <= pc else b if pb <= pc else c
        out[i] = (cur[i] - p) & 255
    return out


def bmp_bytes(rows):
    """An opaque 32-bpp BI_RGB Windows bitmap, BITMAPINFOHEADER, bottom-up."""
    h, w = len(rows), len(rows[0])
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, _ in row:
            pixels += bytes((b, g, r, 255))
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 32, 0, len(pixels), 3780, 3780, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + bytes(pixels)


def and_mask(opaque, size):
    """The 1-bpp AND mask, bottom-up, rows padded to 32 bits: 1 where the screen shows."""
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if not opaque[y][x]:
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return out


def dib_icon(size, bpp, pixels, palette, opaque):
    """One icon image: BITMAPINFOHEADER (height doubled for the mask), palette, colour
    bits bottom-up, AND mask. `pixels` are palette indices (4, 8 bpp) or BGRA tuples."""
    stride = ((size * bpp + 31) // 32) * 4
    xor = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            v = pixels[y][x]
            if bpp == 32:
                row[x * 4:x * 4 + 4] = bytes(v)
            elif bpp == 8:
                row[x] = v
            else:
                row[x >> 1] |= v << 4 if x % 2 == 0 else v
        xor += row
    mask = and_mask(opaque, size)
    info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bpp, 0, len(xor) + len(mask),
                       0, 0, 0, 0)
    pal = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return info + pal + bytes(xor) + bytes(mask)


def ico_bytes(images):
    """images: [(size, bpp, dib)] in directory order."""
    head = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b'', b''
    for size, bpp, dib in images:
        colours = 16 if bpp == 4 else 0
        entries += struct.pack('<BBBBHHII', size, size, colours, 0, 1, bpp, len(dib), offset)
        blobs += dib
        offset += len(dib)
    return head + entries + blobs


# --------------------------------------------------------------------------------------------
# Colour reduction for the palette images.


def nearest(palette, c):
    best, bi = None, 0
    for i, p in enumerate(palette):
        d = (p[0] - c[0]) ** 2 * 3 + (p[1] - c[1]) ** 2 * 4 + (p[2] - c[2]) ** 2 * 2
        if best is None or d < best:
            best, bi = d, i
    return bi


def median_cut(colours, n):
    """At most n colours for the list `colours` (with repeats), by median cut; the same
    input gives the same palette."""
    boxes = [sorted(colours)]
    while len(boxes) < n:
        best = None
        for bi, box in enumerate(boxes):
            if len(box) < 2 or box[0] == box[-1]:
                continue
            spans = [max(c[ch] for c in box) - min(c[ch] for c in box) for ch in range(3)]
            span = max(spans)
            if span == 0:
                continue
            key = (span * len(box), -bi)
            if best is None or key > best[0]:
                best = (key, bi, spans.index(span))
        if best is None:
            break
        _, bi, ch = best
        box = sorted(boxes[bi], key=lambda c: (c[ch], c))
        mid = len(box) // 2
        boxes[bi:bi + 1] = [box[:mid], box[mid:]]
    pal = []
    for box in boxes:
        m = len(box)
        pal.append(tuple((sum(c[ch] for c in box) + m // 2) // m for ch in range(3)))
    return pal


def icon_images(size):
    """The three images of one size: 32 bpp with alpha, 8 bpp and 4 bpp with masks.
    A palette image's pixel shows where the drawing covers at least half of it."""
    images = []
    rows = render_icon(size)
    # The true-colour image's mask hides only what is fully transparent: whoever draws it
    # by the mask alone (screen AND mask XOR colour) then sees no colour XORed onto the
    # screen, and the anti-aliased edge as a solid one.
    visible = [[p[3] > 0 for p in row] for row in rows]
    images.append((size, 32, dib_icon(size, 32, [[(b, g, r, a) for r, g, b, a in row]
                                                 for row in rows], [], visible)))
    opaque = [[p[3] >= 128 for p in row] for row in rows]

    # Index 0 is black: the colour under the mask's transparent pixels, so that
    # screen AND 1 XOR black leaves the screen as it was.
    shown = [p[:3] for row, orow in zip(rows, opaque) for p, o in zip(row, orow) if o]
    pal = [(0, 0, 0)] + [c for c in median_cut(shown, 255) if c != (0, 0, 0)]
    pal = pal[:256]
    cache = {}
    idx = []
    for row, orow in zip(rows, opaque):
        line = []
        for p, o in zip(row, orow):
            if not o:
                line.append(0)
                continue
            if p[:3] not in cache:
                cache[p[:3]] = nearest(pal, p[:3])
            line.append(cache[p[:3]])
        idx.append(line)
    pal += [(0, 0, 0)] * (256 - len(pal))
    images.append((size, 8, dib_icon(size, 8, idx, pal, opaque)))

    rows16 = render_icon(size, COLOURS_16)
    opaque16 = [[p[3] >= 128 for p in row] for row in rows16]
    idx16 = [[nearest(PALETTE_16, p[:3]) if o else 0 for p, o in zip(row, orow)]
             for row, orow in zip(rows16, opaque16)]
    images.append((size, 4, dib_icon(size, 4, idx16, PALETTE_16, opaque16)))
    return images, rows


# --------------------------------------------------------------------------------------------
# SVG of the icon, from the same shapes.


def icon_svg():
    ops = icon_ops(256)
    grads = {}
    body = []
    for op in ops:
        attrs = op.shape.svg(op.grow)
        p = op.paint
        if isinstance(p, Linear):
            gid = grads.get(id(p))
            if gid is None:
                gid = 'g%d' % len(grads)
                grads[id(p)] = gid
                stops = ''.join('<stop offset="%s" stop-color="%s"/>' % (num(t), hexrgb(c))
                                for t, c in p.stops)
                grads[gid] = ('<linearGradient id="%s" gradientUnits="userSpaceOnUse" '
                              'x1="%s" y1="%s" x2="%s" y2="%s">%s</linearGradient>'
                              % (gid, num(p.x0), num(p.y0), num(p.x1), num(p.y1), stops))
            colour = 'url(#%s)' % gid
        else:
            colour = hexrgb(p.rgb)
        stroked = isinstance(op.shape, Capsule) or (isinstance(op.shape, Poly) and op.grow > 0)
        if isinstance(op.shape, Capsule):
            attrs += ' stroke="%s" fill="none"' % colour
        else:
            attrs += ' fill="%s"' % colour
            if stroked:
                attrs += ' stroke="%s"' % colour
        if op.alpha != 1.0:
            attrs += ' opacity="%s"' % num(op.alpha)
        body.append('  <g transform="%s">%s/></g>' % (op.place.svg(), attrs))
    defs = [v for k, v in grads.items() if isinstance(k, str)]
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" '
            'viewBox="0 0 256 256">\n'
            '  <defs>%s</defs>\n%s\n</svg>\n' % (''.join(defs), '\n'.join(body))).encode()


# --------------------------------------------------------------------------------------------


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description='Draws and writes KeyScout\'s artwork.')
    ap.add_argument('--out', default=os.path.dirname(here),
                    help='folder below which res/ is written (default: the repository)')
    args = ap.parse_args(argv)
    res = os.path.join(args.out, 'res')

    rendered = {}
    ico = []
    # Largest first, and at each size the deepest first: the order of the images in
    # icons made by the platform's own tools.
    for size in (48, 32, 16):
        images, rows = icon_images(size)
        ico += images
        rendered[size] = rows
    write(os.path.join(res, 'KeyScout.ico'), ico_bytes(ico))
    write(os.path.join(res, 'KeyScout.bmp'), bmp_bytes(render_banner()))

    for size in (16, 32, 48, 64, 128, 256):
        rows = rendered.get(size) or render_icon(size)
        write(os.path.join(res, 'icons', 'hicolor', '%dx%d' % (size, size), 'apps',
                           'keyscout.png'), png_bytes(rows))
    write(os.path.join(res, 'icons', 'hicolor', 'scalable', 'apps', 'keyscout.svg'), icon_svg())
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
