#!/usr/bin/env python3
"""Draws the program's toolbar, menu, tree and status images from simple supersampled
shapes and writes res/art_images.cpp with each strip as PNG data (declared in res/art.h).
Run from the repository root: python3 res/tools/make_art.py
Previews of every strip go to /tmp/lumivar-art-*.png."""
import math
from png_art import byte_array, png

SS = 4  # supersampling per axis


# Shapes: predicates over unit coordinates (u to the right, v downwards, both 0..1).
def box(x0, y0, x1, y1, r=0.0):
    def inside(u, v):
        if r <= 0:
            return x0 <= u <= x1 and y0 <= v <= y1
        cx = min(max(u, x0 + r), x1 - r)
        cy = min(max(v, y0 + r), y1 - r)
        return x0 <= u <= x1 and y0 <= v <= y1 and math.hypot(u - cx, v - cy) <= r
    return inside


def disc(cx, cy, r):
    return lambda u, v: math.hypot(u - cx, v - cy) <= r


def ring(cx, cy, r0, r1):
    return lambda u, v: r0 <= math.hypot(u - cx, v - cy) <= r1


def ellipse(cx, cy, rx, ry):
    return lambda u, v: ((u - cx) / rx) ** 2 + ((v - cy) / ry) ** 2 <= 1.0


def line(points, width):
    def inside(u, v):
        for (ax, ay), (bx, by) in zip(points, points[1:]):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((u - ax) * dx + (v - ay) * dy) / (dx * dx + dy * dy)))
            if math.hypot(u - ax - t * dx, v - ay - t * dy) <= width / 2:
                return True
        return False
    return inside


def polygon(points):
    def inside(u, v):
        hit = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            if (ay > v) != (by > v) and u < ax + (v - ay) * (bx - ax) / (by - ay):
                hit = not hit
        return hit
    return inside


def gear(cx, cy, r_in, r_out, teeth, hole):
    def inside(u, v):
        d = math.hypot(u - cx, v - cy)
        if d < hole:
            return False
        if d <= r_in:
            return True
        a = (math.atan2(v - cy, u - cx) / (2 * math.pi) * teeth) % 1.0
        return d <= r_out and 0.25 <= a <= 0.75
    return inside


def both(a, b):
    return lambda u, v: a(u, v) and b(u, v)


def grow(shape, d):
    """The shape widened by d in every direction (sampled at eight neighbours)."""
    offsets = [(d * math.cos(k * math.pi / 4), d * math.sin(k * math.pi / 4)) for k in range(8)]
    return lambda u, v: shape(u, v) or any(shape(u + ox, v + oy) for ox, oy in offsets)


# Colours.
GREEN, GREEN_DARK = (56, 168, 72), (24, 104, 40)
RED, RED_DARK = (214, 58, 48), (140, 28, 22)
BLUE, BLUE_DARK = (58, 126, 204), (24, 66, 130)
STEEL, STEEL_DARK = (120, 134, 150), (62, 72, 86)
AMBER, AMBER_DARK = (240, 176, 40), (150, 100, 10)
PAPER, PAPER_DARK = (250, 250, 246), (110, 116, 124)
WHITE, INK = (255, 255, 255), (60, 66, 74)
GREY, GREY_DARK = (170, 172, 176), (96, 98, 102)


def outlined(shape, fill, edge, width):
    """Layers for a shape with an edge of the given width around it."""
    return [(grow(shape, width), edge), (shape, fill)]


# Icons are lists of (shape, colour) layers, painted in order; `e` is the edge width
# in unit coordinates, which keeps the edges about one pixel wide at every size.
def plus(e):
    s = lambda u, v: box(0.40, 0.14, 0.60, 0.86, 0.04)(u, v) or box(0.14, 0.40, 0.86, 0.60, 0.04)(u, v)
    return outlined(s, GREEN, GREEN_DARK, e)


def play(e):
    return outlined(polygon([(0.24, 0.14), (0.84, 0.50), (0.24, 0.86)]), GREEN, GREEN_DARK, e)


def stop_square(e):
    return outlined(box(0.20, 0.20, 0.80, 0.80, 0.06), RED, RED_DARK, e)


def cog(e):
    return outlined(gear(0.5, 0.5, 0.28, 0.42, 8, 0.12), STEEL, STEEL_DARK, e)


def cross(e):
    s = line([(0.22, 0.22), (0.78, 0.78)], 0.18)
    t = line([(0.78, 0.22), (0.22, 0.78)], 0.18)
    return outlined(lambda u, v: s(u, v) or t(u, v), RED, RED_DARK, e)


def drum(e, x0=0.18, x1=0.82, y0=0.14, y1=0.86, colour=BLUE, dark=BLUE_DARK):
    cx, rx, ry = (x0 + x1) / 2, (x1 - x0) / 2, 0.12
    body = lambda u, v: (box(x0, y0 + ry, x1, y1 - ry)(u, v) or ellipse(cx, y1 - ry, rx, ry)(u, v)
                         or ellipse(cx, y0 + ry, rx, ry)(u, v))
    top = ellipse(cx, y0 + ry, rx - e, ry - e)
    return outlined(body, colour, dark, e) + [(top, tuple(min(255, c + 60) for c in colour))]


def page(e, lines_colour=INK):
    layers = outlined(box(0.20, 0.08, 0.80, 0.92, 0.04), PAPER, PAPER_DARK, e)
    for y in (0.30, 0.46, 0.62, 0.78):
        layers.append((box(0.30, y - 0.035, 0.70, y + 0.035), lines_colour))
    return layers


def bars(e, colour, dark):
    layers = [(box(0.10, 0.86, 0.90, 0.92), INK)]
    for x, top in ((0.16, 0.52), (0.40, 0.24), (0.64, 0.40)):
        layers += outlined(box(x, top, x + 0.18, 0.86), colour, dark, e)
    return layers


def clock(e):
    layers = outlined(disc(0.5, 0.5, 0.38), WHITE, INK, e)
    layers.append((line([(0.5, 0.5), (0.5, 0.24)], 0.09), INK))
    layers.append((line([(0.5, 0.5), (0.70, 0.58)], 0.09), INK))
    return layers


def mini_clock_bars(e):
    return bars(e, STEEL, STEEL_DARK) + [(grow(disc(0.72, 0.28, 0.20), e), INK), (disc(0.72, 0.28, 0.20), WHITE),
                                         (line([(0.72, 0.28), (0.72, 0.16), (0.72, 0.28), (0.82, 0.30)], 0.06), INK)]


def pulse_chart(e):
    layers = outlined(box(0.08, 0.16, 0.92, 0.84, 0.04), WHITE, INK, e)
    layers.append((line([(0.14, 0.56), (0.34, 0.56), (0.44, 0.30), (0.56, 0.74), (0.66, 0.50), (0.86, 0.50)], 0.10),
                   RED))
    return layers


def warning(e):
    layers = outlined(polygon([(0.5, 0.08), (0.94, 0.88), (0.06, 0.88)]), AMBER, AMBER_DARK, e)
    layers.append((box(0.45, 0.34, 0.55, 0.64), INK))
    layers.append((box(0.45, 0.71, 0.55, 0.80), INK))
    return layers


def bolt(e):
    return outlined(polygon([(0.58, 0.04), (0.22, 0.56), (0.46, 0.56), (0.38, 0.96), (0.80, 0.40), (0.54, 0.40)]),
                    AMBER, AMBER_DARK, e)


def envelope(e):
    layers = outlined(box(0.08, 0.22, 0.92, 0.78, 0.03), PAPER, PAPER_DARK, e)
    layers.append((line([(0.10, 0.26), (0.5, 0.56), (0.90, 0.26)], 0.08), PAPER_DARK))
    return layers


def phone(e):
    layers = outlined(box(0.28, 0.06, 0.72, 0.94, 0.08), INK, (30, 34, 40), e)
    layers.append((box(0.34, 0.16, 0.66, 0.70), (150, 200, 240)))
    layers.append((disc(0.5, 0.82, 0.05), GREY))
    return layers


def sql_drum(e):
    return drum(e, 0.06, 0.66, 0.10, 0.90, AMBER, AMBER_DARK) + outlined(
        polygon([(0.56, 0.40), (0.94, 0.64), (0.56, 0.88)]), GREEN, GREEN_DARK, e)


def terminal(e):
    layers = outlined(box(0.06, 0.14, 0.94, 0.86, 0.04), INK, (30, 34, 40), e)
    layers.append((line([(0.20, 0.36), (0.36, 0.50), (0.20, 0.64)], 0.08), WHITE))
    layers.append((box(0.42, 0.60, 0.66, 0.67), WHITE))
    return layers


def window(e):
    layers = outlined(box(0.06, 0.14, 0.94, 0.86, 0.04), WHITE, BLUE_DARK, e)
    layers.append((box(0.06, 0.14, 0.94, 0.34), BLUE))
    layers.append((box(0.40, 0.58, 0.60, 0.72, 0.03), GREY_DARK))
    return layers


def drums(e):
    return (drum(e, 0.04, 0.56, 0.06, 0.62, STEEL, STEEL_DARK)
            + drum(e, 0.40, 0.96, 0.34, 0.94, BLUE, BLUE_DARK))


def status(colour, dark, arrow):
    def icon(e):
        layers = outlined(disc(0.5, 0.5, 0.42), colour, dark, e)
        if arrow == "up":
            layers.append((polygon([(0.5, 0.20), (0.78, 0.56), (0.60, 0.56), (0.60, 0.80), (0.40, 0.80),
                                    (0.40, 0.56), (0.22, 0.56)]), WHITE))
        elif arrow == "down":
            layers.append((polygon([(0.5, 0.80), (0.78, 0.44), (0.60, 0.44), (0.60, 0.20), (0.40, 0.20),
                                    (0.40, 0.44), (0.22, 0.44)]), WHITE))
        else:
            layers.append((box(0.24, 0.42, 0.76, 0.58, 0.04), WHITE))
        return layers
    return icon


def render(icon, size):
    layers = icon(1.2 / size)
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SS):
                for sx in range(SS):
                    u = (x + (sx + 0.5) / SS) / size
                    v = (y + (sy + 0.5) / SS) / size
                    col = None
                    for shape, colour in reversed(layers):
                        if shape(u, v):
                            col = colour
                            break
                    if col is not None:
                        acc[0] += col[0]
                        acc[1] += col[1]
                        acc[2] += col[2]
                        acc[3] += 1
            n = SS * SS
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3], round(255 * acc[3] / n)))
        rows.append(row)
    return rows


def disabled(rows):
    """Grey, lighter and half transparent: how a disabled command's image looks."""
    out = []
    for row in rows:
        new = []
        for r, g, b, a in row:
            grey = int(0.299 * r + 0.587 * g + 0.114 * b)
            grey = 128 + grey // 2
            new.append((grey, grey, grey, a // 2))
        out.append(new)
    return out


def strip(icons, size, make_disabled=False):
    rows = [[] for _ in range(size)]
    for icon in icons:
        img = render(icon, size)
        if make_disabled:
            img = disabled(img)
        for y in range(size):
            rows[y] += img[y]
    width = size * len(icons)
    return png(width, size, [[c for px in row for c in px] for row in rows])


TOOLBAR = [plus, play, stop_square, cog]  # New, Start, Stop, Settings
MENU = [plus, play, stop_square, cross, cog]  # New, Start, Stop, Delete, Settings
TREE = [drums, drum, lambda e: drum(e, colour=GREY, dark=GREY_DARK), clock, page, mini_clock_bars,
        lambda e: bars(e, GREEN, GREEN_DARK), pulse_chart, lambda e: bars(e, BLUE, BLUE_DARK),
        lambda e: bars(e, AMBER, AMBER_DARK), warning, lambda e: page(e, STEEL), bolt, envelope, phone,
        sql_drum, terminal, window]
STATUS = [status(GREEN, GREEN_DARK, "up"), status(RED, RED_DARK, "down"), status(GREY, GREY_DARK, "off")]

# (C++ name, file stem, icons, image size, disabled)
STRIPS = [
    ("kToolbarNormal", "toolbar", TOOLBAR, 32, False),
    ("kToolbarDisabled", "toolbar-disabled", TOOLBAR, 32, True),
    ("kMenuNormal", "menu", MENU, 16, False),
    ("kMenuDisabled", "menu-disabled", MENU, 16, True),
    ("kTree", "tree", TREE, 16, False),
    ("kStatus", "status", STATUS, 16, False),
]


def main():
    assert len(TREE) == 18
    out = ["// Generated by res/tools/make_art.py: the toolbar, menu, tree and status images as PNG strips.",
           '#include "res/art.h"', "", "namespace res {", "namespace {", ""]
    datas = {}
    for name, stem, icons, size, dis in STRIPS:
        data = strip(icons, size, dis)
        datas[name] = data
        with open(f"/tmp/lumivar-art-{stem}.png", "wb") as f:
            f.write(data)
        out += byte_array(name, data)
    out += ["}  // namespace", ""]

    def accessor(signature, cases):
        if len(cases) == 1:  # as clang-format writes a one-line body
            _, name, size, count = cases[0]
            out.append(f"{signature} {{ return {{{{{name}, sizeof {name}}}, {size}, {count}}}; }}")
            out.append("")
            return
        out.append(signature + " {")
        for cond, name, size, count in cases:
            body = f"return {{{{{name}, sizeof {name}}}, {size}, {count}}};"
            if cond:
                out.append(f"  if ({cond}) {body}")
            else:
                out.append(f"  {body}")
        out.append("}")
        out.append("")

    accessor("ArtStrip ToolbarStrip(bool disabled)",
             [("disabled", "kToolbarDisabled", 32, len(TOOLBAR)), (None, "kToolbarNormal", 32, len(TOOLBAR))])
    accessor("ArtStrip MenuStrip(bool disabled)",
             [("disabled", "kMenuDisabled", 16, len(MENU)), (None, "kMenuNormal", 16, len(MENU))])
    accessor("ArtStrip TreeStrip()", [(None, "kTree", 16, len(TREE))])
    accessor("ArtStrip StatusStrip()", [(None, "kStatus", 16, len(STATUS))])
    out += ["}  // namespace res", ""]
    with open("res/art_images.cpp", "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
