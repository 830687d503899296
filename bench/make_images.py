#!/usr/bin/env python3
"""Draws the benchmark images into the directory given (default: bench/images):

  sheet-511x256.pcx   a sheet of shaded, outlined sprites on transparency
  sheet-255x128.pcx   the same kind of sheet at a quarter of the pixels
  noise-511x256.pcx   random pixels, the worst case for both codecs
  flat-511x256.pcx    large flat areas with some transparency
  sprite-32x32.pcx    one small shaded sprite
  cells16-256x256.*   a sheet of 16 cells of 64 x 64, and each cell on its
                      own as cell16-00 .. cell16-15
  cells1024-1024x1024 a sheet of 1,024 cells of 32 x 32, for -bank against
                      -grid's loose cells
  blob-32x32, blob-48x40, blob-64x64
                      one shaded blob each, about 60 %, 70 % and 50 % opaque
  balls-240x120       a sheet of small shaded balls
  noise-320x200       random pixels, every one opaque
  flat-320x200        large flat areas, long runs

All are 256-colour PCX files with a palette, written the way common paint
programs write them (even bytes per line, runs within a line), and beside
each the same image as an 8-bit indexed PNG, written as paint programs write
them (no row filter for palette images, zlib's default level)."""
import colorsys
import math
import os
import random
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'examples'))
from make_example import pcx_file  # noqa: E402  (the project's own PCX writer script)


def colour(index):
    """Ramps of 16: index 16 + 16h is hue h's dark outline, then light to dark."""
    if index < 16:
        return (index * 8, index * 8, index * 8)
    hue, shade = divmod(index - 16, 16)
    value = 0.15 if shade == 0 else 1.0 - (shade - 1) / 18.0
    r, g, b = colorsys.hsv_to_rgb(hue / 14.0, 0.35 + shade / 30.0, value)
    return (int(r * 255), int(g * 255), int(b * 255))


PALETTE = bytes(c for i in range(256) for c in colour(i))


def shaded_sprite(pixels, width, ox, oy, size, hue):
    """A ball of `size` pixels at (ox, oy): outline, 12 shades lit from the
    upper left, a highlight; colours hue*16 + 1 .. hue*16 + 15."""
    r = size / 2.0 - 0.5
    cx, cy = ox + r, oy + r
    for y in range(oy, oy + size):
        for x in range(ox, ox + size):
            d = math.hypot(x - cx, y - cy)
            if d > r:
                continue
            base = 16 + hue * 16
            if d > r - 1.0:
                pixels[y * width + x] = base           # outline
            else:
                light = math.hypot(x - (cx - r / 3), y - (cy - r / 3)) / (1.6 * r)
                pixels[y * width + x] = base + 1 + min(13, int(light * 14))


def sheet(width, height, cell):
    pixels = [0] * (width * height)
    rng = random.Random(1)
    for oy in range(0, height - cell + 1, cell):
        for ox in range(0, width - cell + 1, cell):
            size = rng.randint(cell // 2, cell - 2)
            shaded_sprite(pixels, width, ox + 1, oy + 1, size, rng.randint(0, 13))
    return pixels


def noise(width, height):
    rng = random.Random(2)
    return [rng.randrange(256) for _ in range(width * height)]


def flat(width, height):
    pixels = [0] * (width * height)
    for y in range(height):
        for x in range(width):
            band = (x // 64 + y // 48) % 5
            pixels[y * width + x] = 0 if band == 0 else 200 + band
    return pixels


def blob(width, height, fill, hue):
    """A shaded ellipse centred in width x height, covering about `fill` of
    it: outline, shades lit from the upper left."""
    scale = math.sqrt(4 * fill / math.pi)
    a, b = width / 2.0 * scale, height / 2.0 * scale
    cx, cy = width / 2.0 - 0.5, height / 2.0 - 0.5
    base = 16 + hue * 16
    pixels = [0] * (width * height)
    for y in range(height):
        for x in range(width):
            d = math.hypot((x - cx) / a, (y - cy) / b)
            if d > 1.0:
                continue
            if d > 1.0 - 1.0 / min(a, b):
                pixels[y * width + x] = base
            else:
                light = math.hypot((x - cx) / a + 0.33, (y - cy) / b + 0.33) / 1.6
                pixels[y * width + x] = base + 1 + min(13, int(light * 14))
    return pixels


def opaque_noise(width, height):
    rng = random.Random(3)
    return [rng.randrange(1, 256) for _ in range(width * height)]


def cut(pixels, width, ox, oy, cell):
    return [pixels[(oy + y) * width + ox + x] for y in range(cell) for x in range(cell)]


def png_chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def png_file(pixels, width, height, palette):
    rows = b''.join(b'\0' + bytes(pixels[y * width:(y + 1) * width]) for y in range(height))
    header = struct.pack('>IIBBBBB', width, height, 8, 3, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', header) + png_chunk(b'PLTE', palette) +
            png_chunk(b'IDAT', zlib.compress(rows)) + png_chunk(b'IEND', b''))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), 'images')
    os.makedirs(out, exist_ok=True)
    sprite = [0] * (32 * 32)
    shaded_sprite(sprite, 32, 2, 2, 28, 3)
    images = {
        'sheet-511x256': (sheet(511, 256, 32), 511, 256),
        'sheet-255x128': (sheet(255, 128, 32), 255, 128),
        'noise-511x256': (noise(511, 256), 511, 256),
        'flat-511x256': (flat(511, 256), 511, 256),
        'sprite-32x32': (sprite, 32, 32),
        'cells16-256x256': (sheet(256, 256, 64), 256, 256),
        'cells1024-1024x1024': (sheet(1024, 1024, 32), 1024, 1024),
        'blob-32x32': (blob(32, 32, 0.6, 3), 32, 32),
        'blob-48x40': (blob(48, 40, 0.7, 5), 48, 40),
        'blob-64x64': (blob(64, 64, 0.5, 8), 64, 64),
        'balls-240x120': (sheet(240, 120, 20), 240, 120),
        'noise-320x200': (opaque_noise(320, 200), 320, 200),
        'flat-320x200': (flat(320, 200), 320, 200),
    }
    cells = images['cells16-256x256'][0]
    for n in range(16):
        images['cell16-%02d' % n] = (cut(cells, 256, n % 4 * 64, n // 4 * 64, 64), 64, 64)
    for name, (pixels, width, height) in images.items():
        with open(os.path.join(out, name + '.pcx'), 'wb') as f:
            f.write(pcx_file(pixels, width, height, PALETTE))
        with open(os.path.join(out, name + '.png'), 'wb') as f:
            f.write(png_file(pixels, width, height, PALETTE))


if __name__ == '__main__':
    main()
