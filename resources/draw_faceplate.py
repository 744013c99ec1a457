#!/usr/bin/python3
"""Draws the Quillon faceplate picture (resources/faceplate.png).

The editor paints this picture under its controls, so it holds only what never
moves: the panel, screws, knob bodies with their dot scales, the toggle bushings
and the meter window with its tick scale. Every legend is painted by the editor,
so the picture carries no text.

Positions below are in editor pixels (the 1000 x 360 window); the picture is
2089 x 753 and the editor scales it to cover the window, centred, so one editor
pixel is 2.089 picture pixels and the picture sits about 0.23 px above the top.

Usage: draw_faceplate.py [output.png]   (default: faceplate.png beside this script)
The noise is seeded, so every run writes the same bytes.
"""

import math
import os
import sys

import numpy as np
from PIL import Image

WIDTH, HEIGHT = 2089, 753
SCALE = WIDTH / 1000.0
# The editor centres the scaled picture vertically: (360 - 753 * 1000 / 2089) / 2.
TOP_OFFSET = (360.0 - HEIGHT / SCALE) * 0.5

# Light comes from the upper left, as on the painted pointers and levers.
LIGHT = np.array([-0.55, -0.83])
LIGHT = LIGHT / np.linalg.norm(LIGHT)

PANEL = (229, 225, 225)
KNOB = (205, 200, 200)
INK = (22, 22, 22)

rng = np.random.default_rng(20240611)


def px(x, y):
    """Editor coordinates to picture coordinates."""
    return x * SCALE, (y - TOP_OFFSET) * SCALE


def ed(length):
    """An editor length in picture pixels."""
    return length * SCALE


def rgb(c):
    return np.array(c, dtype=np.float64)


class Canvas:
    """A float RGB picture with alpha compositing over local patches."""

    def __init__(self):
        self.pix = np.zeros((HEIGHT, WIDTH, 3))

    def patch(self, cx, cy, radius):
        """Pixel-centre grids of the square patch around (cx, cy) that lies inside the picture."""
        x0 = max(int(math.floor(cx - radius)) - 2, 0)
        x1 = min(int(math.ceil(cx + radius)) + 3, WIDTH)
        y0 = max(int(math.floor(cy - radius)) - 2, 0)
        y1 = min(int(math.ceil(cy + radius)) + 3, HEIGHT)
        ys, xs = np.mgrid[y0:y1, x0:x1].astype(np.float64)
        return (slice(y0, y1), slice(x0, x1)), xs + 0.5, ys + 0.5

    def rect_patch(self, x0, y0, x1, y1, margin):
        cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
        return self.patch(cx, cy, max(x1 - x0, y1 - y0) * 0.5 + margin)

    def over(self, region, colour, alpha):
        """Composites colour (an RGB triple or an HxWx3 array) with coverage alpha."""
        a = np.clip(alpha, 0.0, 1.0)[..., None]
        dst = self.pix[region]
        self.pix[region] = dst * (1.0 - a) + np.broadcast_to(colour, dst.shape) * a

    def multiply(self, region, factor):
        self.pix[region] *= factor[..., None]


def coverage(sdf):
    """Anti-aliased coverage of the inside of a signed distance field (pixels)."""
    return np.clip(0.5 - sdf, 0.0, 1.0)


def soft(sdf, width):
    """A smooth 1..0 falloff across a soft edge of the given width."""
    t = np.clip(0.5 - sdf / width, 0.0, 1.0)
    return t * t * (3.0 - 2.0 * t)


def box_sdf(xs, ys, x0, y0, x1, y1, radius=0.0):
    cx, cy = (x0 + x1) * 0.5, (y0 + y1) * 0.5
    hx, hy = (x1 - x0) * 0.5 - radius, (y1 - y0) * 0.5 - radius
    qx, qy = np.abs(xs - cx) - hx, np.abs(ys - cy) - hy
    outside = np.hypot(np.maximum(qx, 0.0), np.maximum(qy, 0.0))
    return outside + np.minimum(np.maximum(qx, qy), 0.0) - radius


def segment_sdf(xs, ys, ax, ay, bx, by, half_width):
    dx, dy = bx - ax, by - ay
    t = np.clip(((xs - ax) * dx + (ys - ay) * dy) / (dx * dx + dy * dy), 0.0, 1.0)
    return np.hypot(xs - ax - t * dx, ys - ay - t * dy) - half_width


def shade_towards_light(nx, ny):
    """Lambert-like term in -1..1 for a surface tilted along the 2-D normal (nx, ny)."""
    return -(nx * LIGHT[0] + ny * LIGHT[1])


def grain(shape, sigma):
    return rng.normal(0.0, sigma, shape)


def streaks(shape, length):
    """Horizontal brushing: noise smeared along the rows, about unit deviation."""
    n = rng.normal(0.0, 1.0, (shape[0], shape[1] + length))
    s = np.cumsum(n, axis=1)
    return (s[:, length:] - s[:, :-length]) / math.sqrt(length)


def draw_panel(c):
    ys, xs = np.mgrid[0:HEIGHT, 0:WIDTH].astype(np.float64)
    # Powder-coated steel: a faint top-left to bottom-right falloff, a very slow
    # mottle and a fine grain.
    base = rgb(PANEL)
    light = 1.0 + 0.018 * (1.0 - (xs / WIDTH) * 0.45 - (ys / HEIGHT) * 0.9)
    mottle = np.zeros((HEIGHT // 48 + 2, WIDTH // 48 + 2))
    mottle[:] = rng.normal(0.0, 1.0, mottle.shape)
    big = np.array(Image.fromarray(mottle.astype(np.float32), mode="F").resize(
        (WIDTH, HEIGHT), Image.BICUBIC))
    c.pix[:] = base * (light + 0.004 * big)[..., None]
    c.pix += grain((HEIGHT, WIDTH, 1), 1.1)

    # Folded edge of the panel: a narrow chamfer catching the light on the top and
    # left, falling into shade on the bottom and right.
    bevel = ed(2.2)
    d_left, d_top = xs, ys
    d_right, d_bottom = WIDTH - xs, HEIGHT - ys
    edge = np.minimum.reduce([d_left, d_top, d_right, d_bottom])
    inside = np.clip(edge / bevel, 0.0, 1.0)
    tone = np.zeros_like(xs)
    tone = np.where(d_top == edge, 0.06, tone)
    tone = np.where(d_left == edge, 0.04, tone)
    tone = np.where(d_right == edge, -0.07, tone)
    tone = np.where(d_bottom == edge, -0.10, tone)
    c.pix *= (1.0 + tone * (1.0 - inside))[..., None]
    outline = np.clip(1.2 - edge, 0.0, 1.0)
    c.over((slice(None), slice(None)), rgb((120, 118, 118)), outline * 0.8)


def drop_shadow(c, region, sdf, width, strength):
    """Darkens what lies under a raised part whose (already offset) outline is sdf."""
    c.multiply(region, 1.0 - strength * soft(sdf, width))


def draw_disc_shadow(c, cx, cy, r, offset, width, strength):
    region, xs, ys = c.patch(cx + offset[0], cy + offset[1], r + width * 2 + 4)
    sdf = np.hypot(xs - cx - offset[0], ys - cy - offset[1]) - r
    drop_shadow(c, region, sdf, width, strength)


def draw_dot(c, x, y, diameter):
    cx, cy = px(x, y)
    r = ed(diameter) * 0.5
    region, xs, ys = c.patch(cx, cy, r + 2)
    sdf = np.hypot(xs - cx, ys - cy) - r
    # Printed ink sits slightly soft on the coating.
    c.over(region, rgb(INK), coverage(sdf * 0.9) * 0.94)


def draw_knob(c, x, y, diameter):
    """A plain turned knob: skirt with a rounded edge, a flat face with a fine lathe finish."""
    cx, cy = px(x, y)
    r = ed(diameter) * 0.5
    draw_disc_shadow(c, cx, cy, r * 0.98, (ed(1.6), ed(2.6)), ed(4.5), 0.30)
    draw_disc_shadow(c, cx, cy, r, (ed(0.4), ed(0.7)), ed(1.2), 0.28)

    region, xs, ys = c.patch(cx, cy, r + 2)
    dx, dy = xs - cx, ys - cy
    dist = np.hypot(dx, dy)
    nx, ny = dx / np.maximum(dist, 1e-6), dy / np.maximum(dist, 1e-6)
    lit = shade_towards_light(nx, ny)
    u = np.clip(dist / r, 0.0, 1.0)

    base = rgb(KNOB)
    # A gentle dome over the whole face, lighter towards the light.
    tone = 1.0 + 0.035 * lit * u - 0.02 * u * u
    # Rounded outer edge: a band that turns towards or away from the light.
    rim = np.clip((u - 0.86) / 0.14, 0.0, 1.0)
    tone += rim * (0.10 * lit - 0.04)
    # The step between skirt and face: a thin bright line on the lit side.
    step = np.exp(-((u - 0.80) / 0.012) ** 2)
    tone += step * (0.05 * lit + 0.012)
    # Concentric lathe marks, barely visible, with an anisotropic sheen.
    lathe = 0.006 * np.sin(dist * 2.3 + 0.7 * np.sin(dist * 0.31))
    sheen = 0.018 * np.cos(2.0 * (np.arctan2(dy, dx) + 0.6)) * (1.0 - rim) * u
    colour = base * (tone + lathe + sheen)[..., None] + grain(dx.shape + (1,), 0.6)
    c.over(region, colour, coverage(dist - r))
    # A dark hairline where the edge meets the shade.
    edge_line = np.exp(-((dist - r + 0.8) / 0.8) ** 2) * np.clip(-lit * 0.5 + 0.35, 0.0, 1.0)
    c.over(region, rgb((90, 86, 86)), edge_line)


def draw_dot_ring(c, x, y, radius, angles_deg, big_angles_deg, small, big):
    for a in angles_deg:
        t = math.radians(a)
        size = big if any(abs(a - b) < 1e-9 for b in big_angles_deg) else small
        draw_dot(c, x + radius * math.sin(t), y - radius * math.cos(t), size)


def draw_screw(c, x, y, turn):
    cx, cy = px(x, y)
    r = ed(6.4)
    # Countersink: a shaded ring pressed into the panel.
    region, xs, ys = c.patch(cx, cy, r * 1.4)
    dx, dy = xs - cx, ys - cy
    dist = np.hypot(dx, dy)
    nx, ny = dx / np.maximum(dist, 1e-6), dy / np.maximum(dist, 1e-6)
    lit = shade_towards_light(nx, ny)
    sink = np.clip((r * 1.22 - dist) / (r * 0.22), 0.0, 1.0)
    c.multiply(region, 1.0 + sink * (-0.16 * lit - 0.07))
    draw_disc_shadow(c, cx, cy, r, (ed(0.5), ed(0.8)), ed(1.0), 0.35)

    region, xs, ys = c.patch(cx, cy, r + 2)
    dx, dy = xs - cx, ys - cy
    dist = np.hypot(dx, dy)
    u = np.clip(dist / r, 0.0, 1.0)
    nx, ny = dx / np.maximum(dist, 1e-6), dy / np.maximum(dist, 1e-6)
    lit = shade_towards_light(nx, ny)
    # Brushed nickel dome: light on the upper left, a turned sheen around it.
    tone = 0.86 + 0.16 * lit * u ** 1.5 + 0.06 * np.cos(2.0 * np.arctan2(dy, dx) + 1.1) * u
    tone -= 0.12 * np.clip((u - 0.88) / 0.12, 0.0, 1.0)
    colour = rgb((212, 212, 208)) * tone[..., None] + grain(dx.shape + (1,), 1.2)
    c.over(region, colour, coverage(dist - r))

    # Cross recess: two tapered slots meeting in a conical centre, each darker on
    # the wall that faces away from the light.
    arm = r * 0.72
    for k in range(2):
        t = turn + k * math.pi * 0.5
        ux, uy = math.cos(t), math.sin(t)
        along = np.abs(dx * ux + dy * uy)
        across = dx * -uy + dy * ux
        half = ed(0.95) - ed(0.5) * np.clip(along / arm, 0.0, 1.0)
        sdf = np.maximum(np.abs(across) - half, along - arm)
        wall = np.clip(across / half, -1.0, 1.0) * (-uy * LIGHT[0] + ux * LIGHT[1])
        depth = rgb((70, 70, 68)) * (1.0 + 0.45 * wall)[..., None]
        c.over(region, depth, coverage(sdf))
    c.over(region, rgb((40, 40, 39)), soft(dist - ed(1.3), ed(1.0)) * 0.8)


def draw_bushing(c, x, y):
    """Chrome toggle-switch bushing: a flat ring nut, the rounded threaded collar
    standing out of it, and the dark hole the lever comes out of."""
    cx, cy = px(x, y)
    r, collar, hole = ed(17.0), ed(10.5), ed(6.4)
    draw_disc_shadow(c, cx, cy, r, (ed(1.4), ed(2.2)), ed(3.0), 0.30)
    draw_disc_shadow(c, cx, cy, r, (ed(0.3), ed(0.5)), ed(0.9), 0.30)

    region, xs, ys = c.patch(cx, cy, r + 2)
    dx, dy = xs - cx, ys - cy
    dist = np.hypot(dx, dy)
    ang = np.arctan2(dy, dx)
    nx, ny = dx / np.maximum(dist, 1e-6), dy / np.maximum(dist, 1e-6)
    lit = shade_towards_light(nx, ny)
    chrome = rgb((238, 240, 242))

    # Nut face: polished, so it mirrors the room as broad radial streaks.
    env = 0.80 + 0.13 * np.cos(2.0 * ang + 0.9) + 0.05 * np.cos(6.0 * ang + 0.4)
    u = np.clip((dist - collar) / (r - collar), 0.0, 1.0)
    edge = np.clip((u - 0.8) / 0.2, 0.0, 1.0)
    tone = env + edge * 0.20 * lit - 0.05 * edge
    face = chrome * tone[..., None] + grain(dx.shape + (1,), 0.7)
    c.over(region, face, coverage(dist - r))
    c.over(region, rgb((80, 82, 84)), np.exp(-((dist - r + 0.7) / 0.9) ** 2) * 0.55)

    # Collar: a rounded lip, its shadow falling on the nut on the far side.
    shadow_sdf = np.hypot(dx - ed(0.8), dy - ed(1.3)) - collar
    c.multiply(region, 1.0 - 0.30 * soft(shadow_sdf, ed(1.5)) * (dist > collar))
    v = np.clip((dist - hole) / (collar - hole), 0.0, 1.0)
    slope = np.cos(v * math.pi)          # -1 on the inner lip, +1 on the outer shoulder
    glint = np.exp(-((v - 0.62) / 0.16) ** 2) * np.clip(lit, 0.0, 1.0)
    tone = 0.70 + 0.25 * slope * lit + 0.35 * glint - 0.18 * (1.0 - v) ** 2
    tone += 0.06 * np.cos(2.0 * ang + 0.9)
    collar_colour = chrome * np.clip(tone, 0.1, 1.1)[..., None] + grain(dx.shape + (1,), 0.7)
    c.over(region, collar_colour, coverage(dist - collar))
    c.over(region, rgb((90, 92, 94)), np.exp(-((dist - collar + 0.6) / 0.8) ** 2) * 0.45)

    # The hole: dark, with the far wall faintly lit and a hint of thread.
    depth = np.clip(dist / hole, 0.0, 1.0)
    wall = np.clip(-lit, 0.0, 1.0) * depth ** 3
    thread = 0.5 + 0.5 * np.sin(dist * 3.1)
    hole_colour = rgb((18, 18, 19)) + rgb((80, 80, 82)) * (wall * (0.6 + 0.4 * thread))[..., None]
    c.over(region, hole_colour, coverage(dist - hole))


def draw_meter(c):
    # Bezel: a raised, satin-finished frame standing off the panel.
    bx0, by0 = px(385, 89)
    bx1, by1 = px(614, 209)
    wx0, wy0 = px(394, 98)
    wx1, wy1 = px(605, 200)
    corner = ed(5.0)

    region, xs, ys = c.rect_patch(bx0, by0, bx1, by1, ed(14))
    off = (ed(1.8), ed(3.0))
    sdf = box_sdf(xs - off[0], ys - off[1], bx0, by0, bx1, by1, corner)
    drop_shadow(c, region, sdf, ed(6.0), 0.30)
    sdf = box_sdf(xs - ed(0.4), ys - ed(0.7), bx0, by0, bx1, by1, corner)
    drop_shadow(c, region, sdf, ed(1.2), 0.30)

    outer = box_sdf(xs, ys, bx0, by0, bx1, by1, corner)
    inner = box_sdf(xs, ys, wx0, wy0, wx1, wy1, ed(2.0))
    # Height across the frame rises from both edges; its slope gives the shading.
    frame_w = ed(9.0)
    t = np.clip(-outer / (frame_w * 0.45), 0.0, 1.0)
    gy, gx = np.gradient(-outer)
    lit_outer = -(gx * LIGHT[0] + gy * LIGHT[1])
    gy2, gx2 = np.gradient(inner)
    lit_inner = -(gx2 * LIGHT[0] + gy2 * LIGHT[1])
    outer_band = np.clip(1.0 - (-outer) / ed(2.4), 0.0, 1.0)
    inner_band = np.clip(1.0 - inner / ed(2.0), 0.0, 1.0)
    tone = 0.94 + 0.16 * outer_band * lit_outer + 0.12 * inner_band * lit_inner
    tone += 0.02 * (1.0 - t)
    brushed = 0.010 * streaks(xs.shape, 31) + grain(xs.shape, 0.003)
    frame = rgb((196, 194, 192)) * (tone + brushed)[..., None]
    c.over(region, frame, coverage(outer))
    c.over(region, rgb((104, 102, 101)), np.exp(-((outer + 0.6) / 0.8) ** 2) * 0.55)

    # The scale card behind the glass: warm ivory, lit from above, shaded by the
    # bezel lip along the top and left.
    region, xs, ys = c.rect_patch(wx0, wy0, wx1, wy1, 4)
    win = box_sdf(xs, ys, wx0, wy0, wx1, wy1, ed(2.0))
    v = np.clip((ys - wy0) / (wy1 - wy0), 0.0, 1.0)
    h = np.clip((xs - wx0) / (wx1 - wx0), 0.0, 1.0)
    card = 1.0 - 0.05 * v - 0.05 * (2.0 * h - 1.0) ** 2
    lip = np.exp(-(-win) / ed(3.5))
    top_shade = np.exp(-(ys - wy0) / ed(4.5)) * 0.18 + np.exp(-(xs - wx0) / ed(4.5)) * 0.10
    colour = rgb((240, 233, 214)) * (card - 0.10 * lip - top_shade)[..., None] + grain(xs.shape + (1,), 0.7)
    c.over(region, colour, coverage(win))

    draw_scale(c)

    # Glass: a faint diagonal reflection across the upper half of the window.
    region, xs, ys = c.rect_patch(wx0, wy0, wx1, wy1, 4)
    win = box_sdf(xs, ys, wx0, wy0, wx1, wy1, ed(2.0))
    diag = (xs - wx0) * 0.35 + (ys - wy0)
    band = soft(np.abs(diag - ed(46)) - ed(18), ed(26))
    c.over(region, rgb((255, 255, 255)), band * coverage(win) * 0.10)
    # A thin dark seam where the glass meets the bezel.
    c.over(region, rgb((60, 58, 56)), np.exp(-((win + 0.5) / 0.8) ** 2) * 0.7)


def draw_scale(c):
    """25 ticks where the needle points at -48 to -12 dBFS, 1.5 dB apart, every 6 dB longer.

    The needle turns 180 degrees from -60 to 0 dBFS about a pivot 7 px below the meter
    overlay, so 1.5 dB is 4.5 degrees and the scale spans 54 degrees either side of
    -30 dBFS (straight up). The ticks point at the pivot and run on a slightly flattened
    arc, so the scale spans the window like a printed meter card.
    """
    pivot_x, pivot_y = 500.0, 215.0
    span = math.radians(54.0)

    def outer_radius(theta):
        return 95.0 + 12.0 * (theta / span) ** 2

    ink = rgb(INK)
    region, xs, ys = c.rect_patch(*px(394, 98), *px(605, 200), 2)
    for i in range(25):
        theta = -span + 2.0 * span * i / 24.0
        long = i % 4 == 0
        outer = outer_radius(theta)
        inner = outer - (11.0 if long else 6.5)
        sx, sy = math.sin(theta), -math.cos(theta)
        a = px(pivot_x + inner * sx, pivot_y + inner * sy)
        b = px(pivot_x + outer * sx, pivot_y + outer * sy)
        sdf = segment_sdf(xs, ys, a[0], a[1], b[0], b[1], ed(1.5 if long else 1.0) * 0.5)
        c.over(region, ink, coverage(sdf) * 0.92)

    # A hairline joining the inner ends of the short ticks, measured in editor units.
    ex, ey = xs / SCALE, ys / SCALE + TOP_OFFSET
    theta = np.arctan2(ex - pivot_x, pivot_y - ey)
    dist = np.hypot(ex - pivot_x, ey - pivot_y)
    sdf = (np.abs(dist - (outer_radius(theta) - 6.5)) - 0.35) * SCALE
    c.over(region, ink, coverage(sdf) * (np.abs(theta) <= span) * 0.85)


def draw(path):
    c = Canvas()
    draw_panel(c)

    for x, y, turn in ((22, 26, 0.35), (976, 26, 1.05), (22, 332, 0.8), (976, 332, 0.15)):
        draw_screw(c, x, y, turn)

    # Large knobs: 17 dots every 18 degrees from the lower left over the top to the
    # lower right; the ends, nine, twelve and three o'clock are larger.
    big_ring = [216 + 18 * i for i in range(17)]
    big_marks = [216, 270, 360, 450, 504]
    for x in (240, 756):
        draw_dot_ring(c, x, 165, 45.5, big_ring, big_marks, 2.6, 4.4)
        draw_knob(c, x, 165, 76)

    # Mix: an arc of five dots above the knob. Meter selector: one dot under each
    # of its three legends. Emphasis has no scale.
    draw_dot_ring(c, 500, 285, 26.0, [-64, -32, 0, 32, 64], [], 2.6, 2.6)
    draw_dot_ring(c, 910, 165, 42.0, [-48, 0, 48], [], 3.0, 3.0)
    draw_knob(c, 129, 260, 33)
    draw_knob(c, 500, 285, 33)
    draw_knob(c, 910, 165, 36)

    draw_bushing(c, 70, 260)
    draw_bushing(c, 910, 260)
    draw_meter(c)

    out = np.clip(np.rint(c.pix), 0, 255).astype(np.uint8)
    Image.fromarray(out, mode="RGB").save(path, optimize=True)


if __name__ == "__main__":
    if len(sys.argv) > 2 or (len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help")):
        print(__doc__)
        sys.exit(0 if len(sys.argv) == 2 else 2)
    target = sys.argv[1] if len(sys.argv) == 2 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "faceplate.png")
    draw(target)
