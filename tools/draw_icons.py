#!/usr/bin/env python3
"""Draws the program's pictures and writes them as .ico files (the resource script embeds them).

Each picture is a short list of shapes painted in order on a supersampled canvas, then reduced
to its real size with antialiased edges. Standard library only.

    python3 tools/draw_icons.py [--out ui/res] [--readme ui/res/preview] [--preview DIR]

--preview also writes enlarged PNGs (real size and 8x) for looking at them.
"""
import argparse
import math
import os
import struct
import zlib

S = 8  # supersampling factor


def rgba(h, a=255):
    h = h.lstrip("#")
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16), a)


class Canvas:
    """size: pixels of the picture; design: the size its shapes are drawn for (the shapes of
    a 32-pixel picture also give its 16-pixel form)."""

    def __init__(self, size, design=None):
        self.size = size
        self.design = design or size
        self.k = S * size / self.design  # samples per design unit
        self.n = size * S
        self.px = [(0, 0, 0, 0)] * (self.n * self.n)

    # Every shape is a predicate over picture coordinates (0..size); the painter fills the
    # samples inside it.
    def fill(self, inside, color, bbox=None):
        x0, y0, x1, y1 = bbox or (0, 0, self.design, self.design)
        k = self.k
        ix0, iy0 = max(0, int(x0 * k) - 1), max(0, int(y0 * k) - 1)
        ix1, iy1 = min(self.n, int(x1 * k) + 2), min(self.n, int(y1 * k) + 2)
        for iy in range(iy0, iy1):
            y = (iy + 0.5) / k
            row = iy * self.n
            for ix in range(ix0, ix1):
                x = (ix + 0.5) / k
                if inside(x, y):
                    self.px[row + ix] = color

    def reduce(self):
        out = []
        for y in range(self.size):
            for x in range(self.size):
                r = g = b = a = 0
                for sy in range(S):
                    base = (y * S + sy) * self.n + x * S
                    for sx in range(S):
                        pr, pg, pb, pa = self.px[base + sx]
                        r += pr * pa
                        g += pg * pa
                        b += pb * pa
                        a += pa
                if a:
                    out.append((r // a, g // a, b // a, a // (S * S)))
                else:
                    out.append((0, 0, 0, 0))
        return out


# ---- shapes ------------------------------------------------------------------------------

def disk(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ellipse(cx, cy, rx, ry):
    return lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1


def ring(cx, cy, r0, r1, a0=None, a1=None):
    """Band between radii r0 and r1; with angles (degrees, counter-clockwise from east,
    y pointing up on screen) only the arc from a0 to a1."""
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if not (r0 <= d <= r1):
            return False
        if a0 is None:
            return True
        ang = math.degrees(math.atan2(cy - y, x - cx)) % 360
        return (ang - a0) % 360 <= (a1 - a0) % 360
    return inside


def polygon(pts):
    def inside(x, y):
        c = False
        j = len(pts) - 1
        for i in range(len(pts)):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                c = not c
            j = i
        return c
    return inside


def capsule(x0, y0, x1, y1, w):
    """A line of width w with round ends."""
    dx, dy = x1 - x0, y1 - y0
    ll = dx * dx + dy * dy or 1e-9
    r2 = (w / 2) ** 2

    def inside(x, y):
        t = max(0, min(1, ((x - x0) * dx + (y - y0) * dy) / ll))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= r2
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def rrect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def union(*fs):
    return lambda x, y: any(f(x, y) for f in fs)


def minus(f, g):
    return lambda x, y: f(x, y) and not g(x, y)


def grow(f, d):
    """Shape f dilated by d (sampled at 8 directions): gives outlines for any shape."""
    offs = [(d * math.cos(k * math.pi / 4), d * math.sin(k * math.pi / 4)) for k in range(8)]
    return lambda x, y: f(x, y) or any(f(x + ox, y + oy) for ox, oy in offs)


def rotated(f, cx, cy, deg):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))

    def inside(x, y):
        dx, dy = x - cx, y - cy
        return f(cx + dx * c + dy * s, cy - dx * s + dy * c)
    return inside


def outlined(cv, shape, fill, line, width):
    cv.fill(grow(shape, width), line)
    cv.fill(shape, fill)


OUTLINE = rgba("202020")

# ---- pictures ----------------------------------------------------------------------------


def arrow_arc(cx, cy, r, width, a_from, a_to, color, cv):
    """A circular arrow running counter-clockwise from a_from to a_to, head at a_to."""
    head = 8 * r / 11
    tail_end = a_to - math.degrees(head * 0.55 / r)
    band = ring(cx, cy, r - width / 2, r + width / 2, a_from, tail_end)
    t = math.radians(a_to)
    te = math.radians(tail_end)
    # head: a triangle whose base lies across the band at tail_end and whose tip is at a_to
    bx, by = cx + r * math.cos(te), cy - r * math.sin(te)
    nx, ny = math.cos(te), -math.sin(te)
    tip = (cx + r * math.cos(t), cy - r * math.sin(t))
    hw = width * 1.25
    tri = polygon([(bx + nx * hw, by + ny * hw), tip, (bx - nx * hw, by - ny * hw)])
    outlined(cv, union(band, tri), color, OUTLINE, 0.9)


def state_all_up(size=32):
    cv = Canvas(size, 32)
    c = 16
    arrow_arc(c, c, 10.5, 5, 200, 345, rgba("2f6fe0"), cv)  # blue, lower half
    arrow_arc(c, c, 10.5, 5, 20, 165, rgba("e02828"), cv)  # red, upper half
    return cv


def state_warnings(size=32):
    """Every site up, some with a warning: the all-up arrows with an amber exclamation mark on
    a badge at the lower right, which still reads at 16 pixels."""
    cv = state_all_up(size)
    small = cv.size < cv.design
    badge = disk(23.5, 23.5, 8.3 if small else 7.8)
    cv.fill(grow(badge, 1.0), OUTLINE)
    cv.fill(badge, rgba("ffb000"))
    w = 3.6 if small else 3.0
    stroke = capsule(23.5, 18.2, 23.5, 24.2, w)
    dot = disk(23.5, 28.0, w / 2 + 0.2)
    cv.fill(union(stroke, dot), rgba("202020"))
    return cv


def state_sites_down(size=32):
    cv = Canvas(size, 32)
    white, cuff = rgba("ffffff"), rgba("d81e1e")
    palm = rrect(9, 13, 23, 24, 3)
    fingers = [capsule(10.8, 15, 10.8, 6.5, 3.4), capsule(14.6, 15, 14.6, 3.5, 3.5),
               capsule(18.4, 15, 18.4, 4.2, 3.5), capsule(22.0, 16, 22.0, 7.5, 3.2)]
    thumb = capsule(10, 21, 4.8, 13.5, 3.8)
    hand = union(palm, thumb, *fingers)
    cv.fill(grow(hand, 1.0), OUTLINE)
    cuff_shape = rrect(9.5, 23.5, 23.5, 30.5, 1.2)
    cv.fill(grow(cuff_shape, 1.0), OUTLINE)
    cv.fill(hand, white)
    # separation lines between the fingers, kept short so the fingers read at 32 px
    for fx in (12.7, 16.5, 20.2):
        cv.fill(capsule(fx, 8.5, fx, 14.5, 0.7), rgba("9a9a9a"))
    cv.fill(cuff_shape, cuff)
    cv.fill(rect(9.5, 26.5, 23.5, 27.3), rgba("ff8080"))
    return cv


def computer(cv, x, y, screen="1f5fbf", shine="7fb0ff"):
    """A small computer: monitor (10 x 8) with a blue screen, neck and foot; x, y top-left."""
    frame = rrect(x, y, x + 11, y + 8.5, 1)
    cv.fill(grow(frame, 0.8), OUTLINE)
    cv.fill(frame, rgba("c8c8c8"))
    cv.fill(rect(x + 1.5, y + 1.5, x + 9.5, y + 7), rgba(screen))
    cv.fill(rect(x + 2, y + 2, x + 5, y + 3), rgba(shine))
    cv.fill(grow(rect(x + 4.5, y + 8.5, x + 6.5, y + 10), 0.6), OUTLINE)
    cv.fill(rect(x + 4.5, y + 8.5, x + 6.5, y + 10), rgba("a0a0a0"))
    foot = rrect(x + 1.5, y + 10, x + 9.5, y + 11.8, 0.6)
    cv.fill(grow(foot, 0.6), OUTLINE)
    cv.fill(foot, rgba("a0a0a0"))


BOLT = [(20.5, 7.5), (12.5, 16.5), (16.8, 16.8), (10.5, 25.5), (21.5, 14.5), (17.0, 14.3),
        (22.5, 7.5)]


def bolt(cv, clip=None):
    small = cv.size < cv.design
    # At 16 pixels a thin bolt vanishes: widen it and let the red edge carry the second colour.
    shape = grow(polygon(BOLT), 1.0) if small else polygon(BOLT)
    edge = grow(shape, 1.6 if small else 0.9)
    if clip:
        shape = minus(shape, clip)
        edge = minus(edge, clip)
    cv.fill(edge, rgba("c81e1e" if small else "8a1010"))
    cv.fill(shape, rgba("ffd21e"))
    if small:
        return
    # red core along the middle of the bolt
    core = polygon([(20.3, 9.0), (14.8, 15.6), (18.6, 15.8), (13.2, 22.8), (19.3, 15.3),
                    (15.5, 15.1)])
    if clip:
        core = minus(core, clip)
    cv.fill(core, rgba("e8321e"))


def state_checking(size=32):
    cv = Canvas(size, 32)
    computer(cv, 0.8, 0.8)
    computer(cv, 20.2, 19.2)
    bolt(cv)
    return cv


def state_disconnected(size=32):
    cv = Canvas(size, 32)
    computer(cv, 0.8, 0.8)
    computer(cv, 20.2, 19.2)
    # the bolt with its middle cut away: two short pieces, one at each computer
    gap = polygon([(8, 14.2), (26, 12.6), (26, 17.2), (8, 18.8)])
    if cv.size < cv.design:
        gap = polygon([(8, 13.0), (26, 11.4), (26, 18.4), (8, 20.0)])
    bolt(cv, gap)
    return cv


def gear(size=20):
    cv = Canvas(size, 20)
    c = cv.design / 2
    teeth = [rotated(rect(c - 1.6, 0.6, c + 1.6, c), c, c, k * 45) for k in range(8)]
    body = minus(union(disk(c, c, 6.6), *teeth), disk(c, c, 2.6))
    cv.fill(grow(body, 0.7), rgba("3a3a3a"))
    cv.fill(body, rgba("9c9c9c"))
    cv.fill(minus(disk(c - 0.8, c - 0.8, 5.0), disk(c, c, 3.3)), rgba("c4c4c4"))
    return cv


def tools(size=32):
    cv = Canvas(size, 32)
    # spanner: from lower left to upper right, open jaw at the upper right
    shaft = capsule(6, 26, 21, 11, 4.2)
    head = disk(23.5, 8.5, 6)
    jaw = rotated(rect(22, -2, 25, 8.5), 23.5, 8.5, -45)
    ring_end = disk(6, 26, 4)
    spanner = minus(union(shaft, head, ring_end), union(jaw, disk(6, 26, 1.8)))
    cv.fill(grow(spanner, 0.9), OUTLINE)
    cv.fill(spanner, rgba("b4b8bf"))
    cv.fill(capsule(8, 23, 19, 12, 1.0), rgba("e6e8ec"))
    # screwdriver: from upper left (tip) to lower right (handle), in front of the spanner
    blade = capsule(5, 5, 17, 17, 2.2)
    tip = polygon([(3, 3), (6.5, 4.2), (4.2, 6.5)])
    handle = capsule(17.5, 17.5, 27, 27, 6.4)
    collar = capsule(16.5, 16.5, 18.5, 18.5, 4.6)
    cv.fill(grow(union(blade, tip, collar), 0.8), OUTLINE)
    cv.fill(grow(handle, 0.9), OUTLINE)
    cv.fill(union(blade, tip), rgba("9aa0aa"))
    cv.fill(collar, rgba("606060"))
    cv.fill(handle, rgba("e0b020"))
    cv.fill(capsule(19.5, 18.0, 26.5, 25.0, 1.4), rgba("ffe07a"))
    return cv


def clock(size=16):
    """History: a clock face, the time that the history looks back over."""
    cv = Canvas(size, 16)
    c = cv.design / 2
    cv.fill(disk(c, c, 7.8), rgba("1c4f8c"))
    cv.fill(disk(c, c, 6.6), rgba("ffffff"))
    cv.fill(capsule(c, c, c, 3.4, 1.5), rgba("202020"))
    cv.fill(capsule(c, c, 11.4, c, 1.5), rgba("202020"))
    cv.fill(disk(c, c, 1.2), rgba("d81e1e"))
    return cv


def power(size=16):
    cv = Canvas(size, 16)
    c = cv.design / 2
    cv.fill(disk(c, c, 7.8), rgba("7a0c0c"))
    cv.fill(disk(c, c, 7.0), rgba("dd2222"))
    cv.fill(ring(c, c, 3.4, 5.0, 120, 60), rgba("ffffff"))
    cv.fill(capsule(c, 2.6, c, 7.8, 1.7), rgba("ffffff"))
    return cv


def globe(size=16):
    cv = Canvas(size, 16)
    c = cv.design / 2
    sea = disk(c, c, 7.2)
    cv.fill(disk(c, c, 7.9), rgba("123a78"))
    cv.fill(sea, rgba("3b8ee8"))
    land = union(ellipse(5.5, 6.0, 2.6, 2.0), ellipse(6.3, 10.3, 1.6, 2.6),
                 ellipse(11.2, 6.5, 2.4, 1.6), ellipse(11.0, 10.8, 1.8, 1.6))
    cv.fill(lambda x, y: sea(x, y) and land(x, y), rgba("3cb044"))
    lines = rgba("e8f2ff")
    cv.fill(lambda x, y: sea(x, y) and abs(((x - c) / 3.2) ** 2 + ((y - c) / 7.2) ** 2 - 1)
            < 0.18, lines)
    cv.fill(lambda x, y: sea(x, y) and abs(y - c) < 0.35, lines)
    cv.fill(lambda x, y: sea(x, y) and abs(x - c) < 0.35, lines)
    return cv


def plus(size=16):
    cv = Canvas(size, 16)
    shape = union(rect(6.3, 2, 9.7, 14), rect(2, 6.3, 14, 9.7))
    outlined(cv, shape, rgba("2fb344"), rgba("155a20"), 0.8)
    return cv


def minus_sign(size=16):
    cv = Canvas(size, 16)
    outlined(cv, rect(2, 6.3, 14, 9.7), rgba("e03030"), rgba("6a1010"), 0.8)
    return cv


def go_arrow(size=16):
    cv = Canvas(size, 16)
    shape = union(rect(1.5, 5.8, 8.5, 10.2), polygon([(8, 1.8), (14.8, 8), (8, 14.2)]))
    outlined(cv, shape, rgba("2fb344"), rgba("155a20"), 0.8)
    return cv


def check_mark(size=16):
    cv = Canvas(size, 16)
    shape = union(capsule(2.8, 8.6, 6.4, 12.4, 2.8), capsule(6.4, 12.4, 13.2, 3.4, 2.8))
    outlined(cv, shape, rgba("2fb344"), rgba("155a20"), 0.7)
    return cv


def cross(size=16):
    cv = Canvas(size, 16)
    shape = union(capsule(3.5, 3.5, 12.5, 12.5, 2.8), capsule(12.5, 3.5, 3.5, 12.5, 2.8))
    outlined(cv, shape, rgba("e03030"), rgba("6a1010"), 0.7)
    return cv


def state_not_running(size=32):
    """The companion's own state: the monitor cannot be reached. The two computers with dark
    screens and a question mark where the bolt would be."""
    cv = Canvas(size, 32)
    computer(cv, 0.8, 0.8, "5a5a5a", "8a8a8a")
    computer(cv, 20.2, 19.2, "5a5a5a", "8a8a8a")
    small = cv.size < cv.design
    # At 16 pixels the hook needs a heavier stroke to stay a question mark.
    w = 4.2 if small else 3.2
    hook = union(ring(16, 11.5, 5.0 - w / 2, 5.0 + w / 2, 330, 180),
                 capsule(20.3, 14.0, 16, 17.5, w), capsule(16, 17.5, 16, 20.0, w))
    dot = disk(16, 25.2, w / 2 + 0.3)
    mark = union(hook, dot)
    cv.fill(grow(mark, 1.4 if small else 0.9), OUTLINE)
    cv.fill(mark, rgba("ffb000"))
    return cv


# Sizes of the small pictures: 16 pixels at 100 % scaling, 20, 24 and 32 at 125, 150 and 200 %.
SMALL = (16, 20, 24, 32)

PICTURES = [
    # file name, drawing, sizes: the first is the size the shapes are drawn for and the one the
    # program asks for at 96 DPI; the others serve higher scalings (and the notification area)
    ("state0_allup", state_all_up, (32, 16, 20, 24, 40, 48, 64)),
    ("state1_sitesdown", state_sites_down, (32, 16, 20, 24, 40, 48, 64)),
    ("state2_checking", state_checking, (32, 16, 20, 24, 40, 48, 64)),
    ("state3_disconnected", state_disconnected, (32, 16, 20, 24, 40, 48, 64)),
    ("state4_notrunning", state_not_running, (32, 16, 20, 24, 40, 48, 64)),
    ("state5_warnings", state_warnings, (32, 16, 20, 24, 40, 48, 64)),
    # The menu's glyphs all at one size, so that no line stands taller than the others.
    ("glyph_checknow", gear, SMALL),
    ("glyph_settings", tools, SMALL),
    ("glyph_history", clock, SMALL),
    ("glyph_exit", power, SMALL),
    ("glyph_website", globe, SMALL),
    ("button_add", plus, SMALL),
    ("button_delete", minus_sign, SMALL),
    ("button_go", go_arrow, SMALL),
    ("button_ok", check_mark, SMALL),
    ("button_cancel", cross, SMALL),
]

# ---- file formats ------------------------------------------------------------------------


def ico_image(size, pixels):
    """One 32-bit image with alpha, plus the AND mask older readers want."""
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            # Where the mask says transparent the colour must be black: readers that ignore
            # alpha draw mask-and-xor, and any other colour would invert the background there.
            if a < 128:
                r = g = b = 0
            xor += bytes((b, g, r, a))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if pixels[y * size + x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask),
                         0, 0, 0, 0)
    return header + xor + mask


def ico_bytes(images):
    """images: list of (size, pixels)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, pixels in images:
        image = ico_image(size, pixels)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
        data += image
    return out + data


def png_bytes(w, h, pixels, scale=1, background=None):
    raw = bytearray()
    for y in range(h * scale):
        raw.append(0)
        for x in range(w * scale):
            r, g, b, a = pixels[(y // scale) * w + x // scale]
            if background:
                br, bg, bb = background
                r = (r * a + br * (255 - a)) // 255
                g = (g * a + bg * (255 - a)) // 255
                b = (b * a + bb * (255 - a)) // 255
                a = 255
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        c = kind + data
        return struct.pack(">I", len(data)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)
    ihdr = struct.pack(">IIBBBBB", w * scale, h * scale, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "..", "ui", "res"))
    ap.add_argument("--preview")
    ap.add_argument("--only")
    ap.add_argument("--readme", help="writes the state icons at 1x and 4x as PNG here")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    for name, draw, sizes in PICTURES:
        if args.only and args.only not in name:
            continue
        images = [(size, draw(size).reduce()) for size in sizes]
        with open(os.path.join(args.out, name + ".ico"), "wb") as f:
            f.write(ico_bytes(images))
        for size, pixels in images:
            suffix = "" if size == sizes[0] else "-%d" % size
            if args.readme and name.startswith("state") and size in (sizes[0], 16):
                os.makedirs(args.readme, exist_ok=True)
                with open(os.path.join(args.readme, name + suffix + ".png"), "wb") as f:
                    f.write(png_bytes(size, size, pixels))
                if not suffix:
                    with open(os.path.join(args.readme, name + "-x4.png"), "wb") as f:
                        f.write(png_bytes(size, size, pixels, 4))
            if args.preview:
                os.makedirs(args.preview, exist_ok=True)
                with open(os.path.join(args.preview, name + suffix + ".png"), "wb") as f:
                    f.write(png_bytes(size, size, pixels))
                with open(os.path.join(args.preview, name + suffix + "-x8.png"), "wb") as f:
                    f.write(png_bytes(size, size, pixels, 8, (236, 236, 236)))


if __name__ == "__main__":
    main()
