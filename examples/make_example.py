#!/usr/bin/env python3
"""Draws examples/slime.pcx: a 48 x 40 game sprite, a green slime lit from the
upper left, with a dark outline, eyes and a highlight on a transparent
(index 0) background. 256-colour PCX, run-length encoded, with a palette."""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 48, 40
TRANSPARENT, OUTLINE, EYE_WHITE, PUPIL, SHADOW = 0, 1, 2, 3, 4
GREEN = 16          # indices 16..31: a green ramp from dark to light
GREEN_SHADES = 16


def palette():
    colours = [(255, 0, 255)] * 256            # unused entries: magenta
    colours[TRANSPARENT] = (0, 0, 0)
    colours[OUTLINE] = (10, 30, 14)
    colours[EYE_WHITE] = (240, 248, 240)
    colours[PUPIL] = (16, 16, 24)
    colours[SHADOW] = (40, 40, 48)
    for i in range(GREEN_SHADES):
        t = i / (GREEN_SHADES - 1)
        colours[GREEN + i] = (int(20 + 150 * t * t), int(70 + 180 * t), int(30 + 110 * t * t))
    return bytes(c for rgb in colours for c in rgb)


def inside_body(x, y):
    """A dome: the upper half of an ellipse on a flat base."""
    cx, base, rx, ry = 23.5, 33.0, 20.0, 26.0
    if y > base:
        return False
    dx, dy = (x - cx) / rx, (y - base) / ry
    return dx * dx + dy * dy <= 1.0


def body_shade(x, y):
    # Light from the upper left: a lit spot and a falloff toward the rim.
    lx, ly = 15.0, 14.0
    d = math.hypot(x - lx, y - ly) / 30.0
    return GREEN + max(0, min(GREEN_SHADES - 1, int((1.0 - d) * GREEN_SHADES)))


def draw():
    pixels = [[TRANSPARENT] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):                      # shadow under the base
        for x in range(WIDTH):
            if 34 <= y <= 36 and ((x - 23.5) / 22.0) ** 2 + ((y - 35) / 2.0) ** 2 <= 1.0:
                pixels[y][x] = SHADOW
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if inside_body(x + 0.5, y + 0.5):
                pixels[y][x] = body_shade(x, y)
    body = [[p >= GREEN for p in row] for row in pixels]
    for y in range(HEIGHT):                      # outline: body pixels at the edge
        for x in range(WIDTH):
            if body[y][x] and any(
                    not (0 <= x + dx < WIDTH and 0 <= y + dy < HEIGHT)
                    or not body[y + dy][x + dx]
                    for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                pixels[y][x] = OUTLINE
    for ex in (16, 29):                          # eyes
        for y in range(17, 24):
            for x in range(ex, ex + 5):
                if ((x - ex - 2) / 2.6) ** 2 + ((y - 20) / 3.6) ** 2 <= 1.0:
                    pixels[y][x] = EYE_WHITE
        for y in range(19, 23):
            for x in range(ex + 2, ex + 4):
                pixels[y][x] = PUPIL
    for x, y in ((12, 13), (13, 12), (14, 12), (12, 14)):   # highlight
        pixels[y][x] = EYE_WHITE
    return pixels


def encode_row(row):
    out = bytearray()
    i = 0
    while i < len(row):
        value, count = row[i], 1
        while i + count < len(row) and row[i + count] == value and count < 63:
            count += 1
        if count > 1 or value >= 0xC0:
            out += bytes((0xC0 | count, value))
        else:
            out.append(value)
        i += count
    return bytes(out)


def pcx_file(pixels, width, height, palette_bytes):
    """A 256-colour PCX file of `pixels` (rows of `width`), lines padded to an
    even length with index 0, runs kept within a line, palette at the end."""
    stride = width + (width & 1)
    header = struct.pack('<BBBBHHHHHH48sBBHH58s', 10, 5, 1, 8, 0, 0, width - 1, height - 1,
                         72, 72, bytes(48), 0, 1, stride, 1, bytes(58))
    rows = (list(pixels[y * width:(y + 1) * width]) + [0] * (stride - width) for y in range(height))
    return header + b''.join(encode_row(r) for r in rows) + b'\x0c' + palette_bytes


if __name__ == '__main__':
    path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'slime.pcx')
    with open(path, 'wb') as f:
        f.write(pcx_file([p for row in draw() for p in row], WIDTH, HEIGHT, palette()))
