#!/usr/bin/env python3
"""Draws the program's resources and writes them in their exact formats:

  app/resources/kelvarion.ico   the program icon: 32 x 32 and 16 x 16, 16 colours, with a mask
  app/resources/about.bmp       the About picture: 104 x 75, 24 bits, 96 dpi, uncompressed
  app/resources/kelvarion-16.png, kelvarion-32.png   the icon's two images for desktop menus
  app/resources/kelvarion-64.png, kelvarion-128.png  larger ones for menus and software centres

The icon is a processor chip carrying the four-pointed star that the Logarithmic images grow
into: pixel by pixel in 16 colours at 16 and 32 pixels, drawn anew with smooth edges, finer
pins and a shaded body at 64 and 128 pixels (not scaled up); the About picture is a Logarithmic image computed with the program's own formula.
Run it from the source root; the files are committed, so the build needs no Python.
"""
import math
import struct
import zlib

# The standard 16-colour palette (index: (r, g, b)).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DGREY, GREY, WHITE, BLUE, MAGENTA, CYAN, YELLOW = 0, 8, 7, 15, 12, 13, 14, 11
CLEAR = None


def icon_pixels(n):
    """n x n rows of palette indices (None is transparent)."""
    px = [[CLEAR] * n for _ in range(n)]
    s = n / 32.0
    body0, body1 = round(6 * s), n - 1 - round(6 * s)
    # Pins on all four sides.
    step = 4 if n == 32 else 3
    for i in range(body0 + 2, body1 - 1, step):
        for d in range(round(6 * s) - 1):
            for w in range(2 if n == 32 else 1):
                px[d + 1][i + w] = GREY
                px[n - 2 - d][i + w] = GREY
                px[i + w][d + 1] = GREY
                px[i + w][n - 2 - d] = GREY
    # The chip body with a light top-left and dark bottom-right edge.
    for y in range(body0, body1 + 1):
        for x in range(body0, body1 + 1):
            edge = x in (body0, body1) or y in (body0, body1)
            if edge:
                px[y][x] = WHITE if (x == body0 or y == body0) else BLACK
            else:
                px[y][x] = DGREY
    # The four-pointed star: |(x - c)(y - c)| small, as the Logarithmic kind draws it.
    c = (n - 1) / 2.0
    inner = body1 - body0 - 3
    for y in range(body0 + 2, body1 - 1):
        for x in range(body0 + 2, body1 - 1):
            t = abs((x - c) * (y - c)) / (s * s)
            r = max(abs(x - c), abs(y - c)) / s
            if r > inner / (2 * s) + 0.5:
                continue
            if n == 16:  # fewer pixels: a white centre and four cyan arms
                if t < 1.1:
                    px[y][x] = WHITE
                elif t < 5.1:
                    px[y][x] = CYAN
            elif t < 1.2:
                px[y][x] = WHITE if r < 1.6 else CYAN
            elif t < 4.5:
                px[y][x] = BLUE
            elif t < 9:
                px[y][x] = MAGENTA
    return px


def ico_image(n):
    px = icon_pixels(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    xor_row = ((n * 4 + 31) // 32) * 4
    and_row = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(n)):  # bottom-up
        row = bytearray(xor_row)
        mrow = bytearray(and_row)
        for x in range(n):
            v = px[y][x]
            idx = 0 if v is None else v
            row[x // 2] |= idx << (4 if x % 2 == 0 else 0)
            if v is None:
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += row
        mask += mrow
    return header + palette + bytes(xor) + bytes(mask)


def write_ico(path):
    images = [ico_image(32), ico_image(16)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip((32, 16), images):
        out += struct.pack('<BBBBHHII', n, n, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


def png(path, n):
    px = icon_pixels(n)
    raw = b''
    for y in range(n):
        raw += b'\0' + b''.join(
            bytes(PALETTE[v] + (255,)) if v is not None else b'\0\0\0\0' for v in px[y])

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


def large_icon(n, samples=4):
    """n x n rows of (r, g, b, a): the chip and its star drawn at this size, each pixel the
    average of samples x samples points. Lengths are in units of the 32-pixel drawing (u = n / 32
    pixels), but edges, pins and the star's bands are as fine as the size allows."""
    u = n / 32.0
    px = 1.0 / u                      # one pixel, in units
    body0, body1 = 6.0, 26.0          # the body, as in the small icons
    pins = 6 if n <= 64 else 8        # finer pins on larger icons
    pitch = (body1 - body0 - 2.0) / pins
    pin_w = pitch * 0.55
    bevel = max(1.5 * px, 0.5)        # lit and shaded edges of the body
    c = 16.0                          # the centre
    reach = 8.5                       # the star's reach from the centre, as in the small icons

    def mix(a, b, t):
        t = min(max(t, 0.0), 1.0)
        return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))

    def star(x, y):
        """The star's colour at a point, or None: bands of |(x - c)(y - c)|, white at the
        centre lines through cyan and blue to magenta, as the Logarithmic kind colours them."""
        t = abs((x - c) * (y - c))
        r = max(abs(x - c), abs(y - c))
        if r > reach or t >= 9.0:
            return None
        soft = 0.35 * px * max(abs(x - c), abs(y - c), 1.0)  # one pixel's change of t
        if t < 1.2:
            col = mix((255, 255, 255), (0, 255, 255), (t - 0.6) / 0.6) if r > 1.6 else (255, 255, 255)
        elif t < 4.5:
            col = mix((0, 255, 255), (0, 0, 255), (t - 1.2) / max(soft, 0.4))
        else:
            col = mix((0, 0, 255), (255, 0, 255), (t - 4.5) / max(soft, 0.4))
        return col

    def colour(x, y):
        """The colour at a point (in units), or None where the icon is transparent."""
        inside = body0 <= x < body1 and body0 <= y < body1
        if inside:
            # The body: lit from the top left, shaded at the bottom right, a little lighter
            # at the top than at the bottom.
            if x < body0 + bevel or y < body0 + bevel:
                if not (x >= body1 - bevel or y >= body1 - bevel) or x + y < body0 + body1:
                    return (255, 255, 255)
            if x >= body1 - bevel or y >= body1 - bevel:
                return (0, 0, 0)
            s = star(x, y)
            if s is not None:
                return s
            # The pin-one mark in the top-left corner.
            if (x - (body0 + 2.2)) ** 2 + (y - (body0 + 2.2)) ** 2 < 0.8 ** 2:
                return (96, 96, 96)
            g = 136 - 16 * (y - body0) / (body1 - body0)
            return (g, g, g)
        # The pins: on every side, from the body out to half a unit from the edge.
        for side in range(4):
            along, out = (x, y) if side in (0, 1) else (y, x)
            if side in (0, 2):      # top, left
                depth = body0 - out
            else:                   # bottom, right
                depth = out - body1
            if not 0 <= depth < body0 - 0.5:
                continue
            k = (along - body0 - 1.0) / pitch
            i = int(k)
            if k < 0 or i >= pins:
                continue
            offset = (k - i) * pitch - (pitch - pin_w) / 2
            if 0 <= offset < pin_w:
                # Rounded metal: lighter along the middle of the pin.
                shade = 1 - abs(offset / pin_w - 0.5) * 2
                g = 160 + 72 * shade
                return (g, g, g)
        return None

    rows = []
    for py in range(n):
        row = []
        for pxl in range(n):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    col = colour((pxl + (sx + 0.5) / samples) / u, (py + (sy + 0.5) / samples) / u)
                    if col is not None:
                        acc[0] += col[0]
                        acc[1] += col[1]
                        acc[2] += col[2]
                        acc[3] += 1
            a = acc[3] / (samples * samples)
            if acc[3]:
                row.append(tuple(int(round(v / acc[3])) for v in acc[:3]) + (int(round(a * 255)),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def write_png(path, rows):
    n = len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))

    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', len(rows[0]), n, 8, 6, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(data)


def write_about(path, width=104, height=75):
    """A Logarithmic image of order 3 over the picture, coloured as the program colours it
    (the low 24 bits, red lowest), softened towards the window's grey at the edges."""
    W, H, K = width - 1.0, height - 1.0, 3.0
    rows = []
    for y in range(height):
        row = bytearray()
        for x in range(width):
            a = abs((x - W / 2) * (y - H / 2))
            v = math.log(a) if a > 0 else 0.0
            w = v
            for _ in range(5):
                w = -(w * K)
            c = int(round(w)) & 0xFFFFFF
            r, g, b = c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF
            # Light through the centre lines, deep blue away from them.
            glow = math.exp(-a / 40.0)
            r = int(r * 0.35 + 40 + 200 * glow)
            g = int(g * 0.25 + 20 + 150 * glow)
            b = int(b * 0.35 + 110 + 140 * glow)
            row += bytes((min(b, 255), min(g, 255), min(r, 255)))
        row += b'\0' * ((4 - len(row) % 4) % 4)
        rows.append(bytes(row))
    pixels = b''.join(reversed(rows))
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, 'wb') as f:
        f.write(header + info + pixels)


if __name__ == '__main__':
    write_ico('app/resources/kelvarion.ico')
    png('app/resources/kelvarion-16.png', 16)
    png('app/resources/kelvarion-32.png', 32)
    write_png('app/resources/kelvarion-64.png', large_icon(64))
    write_png('app/resources/kelvarion-128.png', large_icon(128))
    write_about('app/resources/about.bmp')
