#!/usr/bin/env python3
"""Encodes one banner slide: the fewest bytes that still look like the source.

    encode_slide.py SOURCE.png OUT.jpg [--min-ssim 0.97] [--table FILE]
    encode_slide.py --ssim A B          SSIM of two pictures (any format djpeg
                                        or ImageMagick reads), and exit

Every candidate below is encoded from the lossless SOURCE, decoded again with
libjpeg-turbo's djpeg and compared with SOURCE by SSIM. The smallest
candidate that is a baseline JPEG (SOF0, 3 components, same size) with an
SSIM of at least --min-ssim is written to OUT. --table appends every
candidate's bytes and SSIM figures to FILE (tab separated).

SSIM is Wang et al. (2004) exactly as their reference code computes it for
one plane: an 11 x 11 Gaussian window (sigma 1.5), K1 = 0.01, K2 = 0.03,
L = 255, over the window positions that fit inside the picture, mean over
the picture. A colour picture's figure is the one Wang, Lu and Bovik use for
colour video: 0.8 SSIM(Y) + 0.1 SSIM(Cb) + 0.1 SSIM(Cr), the planes of
JPEG's own YCbCr (BT.601, full range) at full resolution, so that starved
colour (chroma subsampling, coarse colour tables) costs too. Plain R, G, B
planes are no good here: the slides are smooth gradients whose channels
change by about one level per window, so rounding noise alone reads as lost
structure (0.96 in the blue plane at quality 94, 4:4:4).

Candidates: ImageMagick (4:2:0 and 4:4:4), libjpeg-turbo's cjpeg with
-optimize (optimal Huffman tables) in 4:2:0, 4:2:2 and 4:4:4 with the colour
quality fixed or equal to the brightness quality (-quality Y,C), and guetzli
(a perceptual encoder). Each setting is bisected for its lowest quality that
reaches the figure. The winner goes through `jpegtran -optimize -copy none`
(lossless), kept when smaller. Needs numpy, cjpeg/djpeg/jpegtran
(libjpeg-turbo-progs), ImageMagick; guetzli when installed.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import numpy as np

CONVERT = os.environ.get('CONVERT', '/usr/bin/convert')
TIMEOUT = 300


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=TIMEOUT, **kw).stdout


# ---------------------------------------------------------------- pictures

def parse_ppm(data):
    """P6 bytes -> uint8 array (h, w, 3)."""
    fields, p = [], 0
    while len(fields) < 4:
        while data[p:p + 1].isspace():
            p += 1
        if data[p:p + 1] == b'#':
            p = data.index(b'\n', p)
            continue
        q = p
        while not data[q:q + 1].isspace():
            q += 1
        fields.append(data[p:q])
        p = q
    magic, w, h, maxval = fields[0], int(fields[1]), int(fields[2]), int(fields[3])
    if magic != b'P6' or maxval != 255:
        raise ValueError('not an 8-bit P6 picture')
    return np.frombuffer(data[p + 1:p + 1 + w * h * 3], np.uint8).reshape(h, w, 3)


def read_rgb(path):
    with open(path, 'rb') as f:
        head = f.read(2)
    if head == b'\xFF\xD8':
        return parse_ppm(run(['djpeg', '-ppm', path]))
    return parse_ppm(run([CONVERT, path, '-alpha', 'off', '-depth', '8', 'ppm:-']))


def _gaussian(size=11, sigma=1.5):
    x = np.arange(size) - (size - 1) / 2
    g = np.exp(-x * x / (2 * sigma * sigma))
    return g / g.sum()


def _filter_valid(img, g):
    """Separable 'valid' correlation of a 2-D array with the 1-D kernel g."""
    k = len(g)
    rows = sum(g[i] * img[:, i:img.shape[1] - k + 1 + i] for i in range(k))
    return sum(g[i] * rows[i:rows.shape[0] - k + 1 + i, :] for i in range(k))


def ssim_channel(a, b):
    a = a.astype(np.float64)
    b = b.astype(np.float64)
    g = _gaussian()
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    mu_a, mu_b = _filter_valid(a, g), _filter_valid(b, g)
    var_a = _filter_valid(a * a, g) - mu_a * mu_a
    var_b = _filter_valid(b * b, g) - mu_b * mu_b
    cov = _filter_valid(a * b, g) - mu_a * mu_b
    s = ((2 * mu_a * mu_b + c1) * (2 * cov + c2)) / \
        ((mu_a * mu_a + mu_b * mu_b + c1) * (var_a + var_b + c2))
    return float(s.mean())


def ycbcr(rgb):
    """JPEG's YCbCr planes (BT.601, full range) of an (h, w, 3) picture, as floats."""
    r, g, b = (rgb[:, :, c].astype(np.float64) for c in range(3))
    return (0.299 * r + 0.587 * g + 0.114 * b,
            128 - 0.168736 * r - 0.331264 * g + 0.5 * b,
            128 + 0.5 * r - 0.418688 * g - 0.081312 * b)


def ssim_colour(a, b):
    """(weighted, Y, Cb, Cr) SSIM of two (h, w, 3) pictures."""
    if a.shape != b.shape:
        raise ValueError('pictures differ in size: %s, %s' % (a.shape, b.shape))
    y, cb, cr = (ssim_channel(p, q) for p, q in zip(ycbcr(a), ycbcr(b)))
    return (0.8 * y + 0.1 * cb + 0.1 * cr, y, cb, cr)


# ---------------------------------------------------------------- JPEG frame

def jpeg_frame(data):
    """(SOF marker, width, height, components) of the first frame, or None."""
    if data[:2] != b'\xFF\xD8':
        return None
    p = 2
    while p + 4 <= len(data) and data[p] == 0xFF:
        marker = data[p + 1]
        length = struct.unpack_from('>H', data, p + 2)[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            _, h, w, n = struct.unpack_from('>BHHB', data, p + 4)
            return marker, w, h, n
        if marker == 0xDA:
            return None
        p += 2 + length
    return None


# ---------------------------------------------------------------- candidates

def families(src, ppm, png):
    """(label, qualities, command(q, out)): one encoder setting over rising qualities."""
    out = []
    for label, sampling in (('4:2:0', '2x2,1x1,1x1'), ('4:4:4', '1x1,1x1,1x1')):
        out.append(('imagemagick q%%d %s' % label, range(30, 96), lambda q, path, s=sampling: [
            CONVERT, src, '-strip', '-interlace', 'none', '-colorspace', 'sRGB',
            '-type', 'TrueColor', '-sampling-factor', s, '-quality', str(q), path]))
    for label, sample in (('4:2:0', '2x2'), ('4:2:2', '2x1'), ('4:4:4', '1x1')):
        for qc in (20, 30, 40, 50, 60, 70, None):  # None: colour at the brightness quality
            out.append(('cjpeg q%%d chroma %s %s' % ('same' if qc is None else 'q%d' % qc, label),
                        range(30, 96), lambda q, path, qc=qc, s=sample: [
                'cjpeg', '-quality', '%d,%d' % (q, qc or q), '-baseline', '-optimize',
                '-sample', s, '-outfile', path, ppm]))
    if shutil.which('guetzli'):  # 84 is its lowest quality
        out.append(('guetzli q%d', range(84, 96), lambda q, path: [
            'guetzli', '--quality', str(q), png, path]))
    return out


def encode(src, dst, min_ssim, table=None):
    """Per setting, the lowest quality that reaches min_ssim (the file grows with
    the quality, so that is the setting's smallest); the smallest of those wins."""
    source = read_rgb(src)
    h, w, _ = source.shape
    best = None
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, 'source.ppm')
        with open(ppm, 'wb') as f:
            f.write(b'P6\n%d %d\n255\n' % (w, h) + source.tobytes())
        png = os.path.join(tmp, 'source.png')  # guetzli reads PNG (8-bit RGB) only
        run([CONVERT, ppm, 'PNG24:' + png])
        path = os.path.join(tmp, 'candidate.jpg')

        def attempt(label, command):
            """SSIM figures of one encoding (None: not baseline), noted in rows."""
            nonlocal best
            run(command)
            with open(path, 'rb') as f:
                data = f.read()
            frame = jpeg_frame(data)
            if frame != (0xC0, w, h, 3):
                rows.append((label, len(data), None, 'not baseline %dx%d x3: %r' % (w, h, frame)))
                return None
            s = ssim_colour(source, read_rgb(path))
            rows.append((label, len(data), s, ''))
            if s[0] >= min_ssim and (best is None or len(data) < len(best[1])):
                best = (label, data, s)
            return s

        for pattern, qualities, command in families(src, ppm, png):
            # Bisect for the lowest quality that reaches the figure.
            lo, hi = 0, len(qualities)
            while lo < hi:
                mid = (lo + hi) // 2
                q = qualities[mid]
                s = attempt(pattern % q, command(q, path))
                if s is None:
                    break
                if s[0] >= min_ssim:
                    hi = mid
                else:
                    lo = mid + 1
        if best is not None:
            # Lossless last pass: optimal Huffman tables, no metadata.
            with open(path, 'wb') as f:
                f.write(best[1])
            run(['jpegtran', '-optimize', '-copy', 'none', '-outfile', path + '.opt', path])
            with open(path + '.opt', 'rb') as f:
                opt = f.read()
            if len(opt) < len(best[1]) and jpeg_frame(opt) == (0xC0, w, h, 3):
                best = (best[0] + ' + jpegtran', opt, best[2])
    if table:
        with open(table, 'a') as f:
            for label, size, s, note in rows:
                figures = '\t'.join('%.4f' % x for x in s) if s else '-\t-\t-\t-'
                f.write('%s\t%s\t%d\t%s\t%s\n' % (os.path.basename(dst), label, size, figures, note))
    if best is None:
        raise SystemExit('encode_slide.py: no candidate reaches SSIM %.3f for %s' % (min_ssim, src))
    label, data, s = best
    with open(dst, 'wb') as f:
        f.write(data)
    print('%s: %d bytes, %s, SSIM %.4f (Y %.4f, Cb %.4f, Cr %.4f)' % ((dst, len(data), label) + s))


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--ssim', nargs=2, metavar=('A', 'B'), help='print the SSIM of two pictures')
    ap.add_argument('source', nargs='?')
    ap.add_argument('out', nargs='?')
    ap.add_argument('--min-ssim', type=float, default=0.97)
    ap.add_argument('--table', help='append every candidate to this file')
    args = ap.parse_args(argv)
    if args.ssim:
        s = ssim_colour(read_rgb(args.ssim[0]), read_rgb(args.ssim[1]))
        print('SSIM %.4f (Y %.4f, Cb %.4f, Cr %.4f)' % s)
        return 0
    if not args.source or not args.out:
        ap.error('SOURCE and OUT are needed')
    encode(args.source, args.out, args.min_ssim, args.table)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
