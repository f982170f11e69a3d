#!/usr/bin/env python3
"""Regenerates the installer's two icons (setup.ico -> group 107,
setup_alt.ico -> group 108).

Each file holds exactly one image: 32 x 32, 32 bits per pixel, stored as a
classic DIB (BITMAPINFOHEADER, BGRA rows bottom-up, then the 1-bit AND mask),
which every Windows version since 2000 reads. The picture is a white play
triangle on a rounded square with a vertical gradient, drawn with 4 x 4
supersampling so the edges are smooth in the alpha channel.

Pure Python, no dependencies. The committed .ico files are what the build
uses; run this only to change the artwork.

    python3 make_icons.py [--png DIR]   # --png also writes previews
"""
import os
import struct
import sys
import zlib

SIZE = 32
SS = 4  # supersampling factor per axis


def inside_rounded_square(x, y, lo, hi, r):
    """Point (x, y) inside the square [lo, hi]^2 with corner radius r."""
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + r), hi - r)
    cy = min(max(y, lo + r), hi - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def inside_triangle(x, y, pts):
    (x1, y1), (x2, y2), (x3, y3) = pts

    def side(ax, ay, bx, by):
        return (x - bx) * (ay - by) - (ax - bx) * (y - by)

    d1 = side(x1, y1, x2, y2)
    d2 = side(x2, y2, x3, y3)
    d3 = side(x3, y3, x1, y1)
    neg = d1 < 0 or d2 < 0 or d3 < 0
    pos = d1 > 0 or d2 > 0 or d3 > 0
    return not (neg and pos)


def lerp(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def render(top, bottom):
    """Returns SIZE*SIZE (r, g, b, a) tuples, rows top to bottom."""
    tri = ((12.0, 8.5), (12.0, 23.5), (24.5, 16.0))
    pixels = []
    for py in range(SIZE):
        for px in range(SIZE):
            acc = [0.0, 0.0, 0.0]
            cover = 0
            for sy in range(SS):
                for sx in range(SS):
                    x = px + (sx + 0.5) / SS
                    y = py + (sy + 0.5) / SS
                    if not inside_rounded_square(x, y, 1.0, 31.0, 7.0):
                        continue
                    cover += 1
                    if inside_triangle(x, y, tri):
                        c = (255.0, 255.0, 255.0)
                    else:
                        c = lerp(top, bottom, (y - 1.0) / 30.0)
                    for i in range(3):
                        acc[i] += c[i]
            if cover == 0:
                pixels.append((0, 0, 0, 0))
                continue
            a = round(255 * cover / (SS * SS))
            # Straight (not premultiplied) colour, as icons store it.
            pixels.append(tuple(round(acc[i] / cover) for i in range(3)) + (a,))
    return pixels


def ico_bytes(pixels):
    xor = bytearray()
    for row in range(SIZE - 1, -1, -1):  # DIB rows are bottom-up
        for col in range(SIZE):
            r, g, b, a = pixels[row * SIZE + col]
            xor += bytes((b, g, r, a))
    mask_stride = ((SIZE + 31) // 32) * 4
    mask = bytearray()
    for row in range(SIZE - 1, -1, -1):
        bits = bytearray(mask_stride)
        for col in range(SIZE):
            if pixels[row * SIZE + col][3] == 0:  # transparent: AND bit set
                bits[col // 8] |= 0x80 >> (col % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    return icondir + entry + image


def png_bytes(pixels):
    raw = bytearray()
    for row in range(SIZE):
        raw.append(0)
        for col in range(SIZE):
            raw += bytes(pixels[row * SIZE + col])

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    ihdr = struct.pack('>IIBBBBB', SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr)
            + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


ICONS = {
    'setup.ico': ((0x3B, 0x6C, 0xF6), (0x6A, 0x2C, 0xD8)),      # blue to violet
    'setup_alt.ico': ((0xFF, 0x8A, 0x2B), (0xD7, 0x26, 0x3D)),  # orange to red
}


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    png_dir = None
    if len(argv) == 2 and argv[0] == '--png':
        png_dir = argv[1]
    elif argv:
        sys.exit(__doc__)
    for name, (top, bottom) in ICONS.items():
        pixels = render(top, bottom)
        with open(os.path.join(here, name), 'wb') as f:
            f.write(ico_bytes(pixels))
        if png_dir:
            with open(os.path.join(png_dir, name[:-4] + '.png'), 'wb') as f:
                f.write(png_bytes(pixels))
        print(name)


if __name__ == '__main__':
    main(sys.argv[1:])
