#!/usr/bin/env python3
"""Draws examples/slime.pcx: a 48 x 40 game sprite, a green slime lit from the
upper left, with a dark outline, eyes and a highlight on a transparent
(index 0) background. 256-colour PCX, run-length encoded, with a palette.

With --sheet, draws examples/slime-sheet.pcx instead: the example game's
sprite sheet, four 48 x 40 frames of the slime bouncing (squashed more in
each of the first three, the fourth between), whose palette also holds the
game's sky and ground. One pixel of colour MARK under each slime marks its
feet, the hotspot `pcx2kob -mark 5` takes from it, itself transparent."""
import math
import os
import struct
import sys

WIDTH, HEIGHT = 48, 40
TRANSPARENT, OUTLINE, EYE_WHITE, PUPIL, SHADOW = 0, 1, 2, 3, 4
GREEN = 16          # indices 16..31: a green ramp from dark to light
GREEN_SHADES = 16
FRAMES = 4
SQUASH = (0, 1, 2, 1)  # how far each frame of the sheet flattens the slime
SKY = 32            # indices 32..47: the game's sky, from the top down
SKY_SHADES = 16
GROUND = 48         # 48 and 49: the game's ground, two shades in a checker
MARK = 5            # the sheet's hotspot marker, used by nothing else
FEET = (24, 37)     # where it stands in every frame: under the shadow's middle


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


def sheet_palette():
    colours = bytearray(palette())
    for i in range(SKY_SHADES):
        colours[(SKY + i) * 3:(SKY + i + 1) * 3] = bytes((60 + 8 * i, 110 + 8 * i, 230 - 4 * i))
    colours[GROUND * 3:(GROUND + 2) * 3] = bytes((120, 84, 40, 96, 64, 30))
    return bytes(colours)


def inside_body(x, y, squash=0):
    """A dome: the upper half of an ellipse on a flat base, wider and lower
    the more it is squashed."""
    cx, base, rx, ry = 23.5, 33.0, 20.0 + 1.2 * squash, 26.0 - 2.5 * squash
    if y > base:
        return False
    dx, dy = (x - cx) / rx, (y - base) / ry
    return dx * dx + dy * dy <= 1.0


def body_shade(x, y, squash=0):
    # Light from the upper left: a lit spot and a falloff toward the rim.
    lx, ly = 15.0, 14.0 + 2.5 * squash
    d = math.hypot(x - lx, y - ly) / 30.0
    return GREEN + max(0, min(GREEN_SHADES - 1, int((1.0 - d) * GREEN_SHADES)))


def draw(squash=0):
    drop = int(2.5 * squash)                     # eyes and highlight follow the top down
    pixels = [[TRANSPARENT] * WIDTH for _ in range(HEIGHT)]
    for y in range(HEIGHT):                      # shadow under the base
        for x in range(WIDTH):
            if 34 <= y <= 36 and ((x - 23.5) / 22.0) ** 2 + ((y - 35) / 2.0) ** 2 <= 1.0:
                pixels[y][x] = SHADOW
    for y in range(HEIGHT):
        for x in range(WIDTH):
            if inside_body(x + 0.5, y + 0.5, squash):
                pixels[y][x] = body_shade(x, y, squash)
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
                    pixels[y + drop][x] = EYE_WHITE
        for y in range(19, 23):
            for x in range(ex + 2, ex + 4):
                pixels[y + drop][x] = PUPIL
    for x, y in ((12, 13), (13, 12), (14, 12), (12, 14)):   # highlight
        pixels[y + drop][x] = EYE_WHITE
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


def sheet():
    """The frames side by side, as rows of FRAMES * WIDTH pixels."""
    frames = [draw(squash) for squash in SQUASH]
    for frame in frames:
        frame[FEET[1]][FEET[0]] = MARK
    return [[p for frame in frames for p in frame[y]] for y in range(HEIGHT)]


if __name__ == '__main__':
    args = sys.argv[1:]
    whole = bool(args) and args[0] == '--sheet'
    args = args[1:] if whole else args
    name = 'slime-sheet.pcx' if whole else 'slime.pcx'
    path = args[0] if args else os.path.join(os.path.dirname(__file__), name)
    rows, width, colours = (sheet(), FRAMES * WIDTH, sheet_palette()) if whole else (draw(), WIDTH, palette())
    with open(path, 'wb') as f:
        f.write(pcx_file([p for row in rows for p in row], width, HEIGHT, colours))
