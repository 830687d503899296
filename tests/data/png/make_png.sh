#!/bin/sh
# Regenerates the indexed PNG files written by third-party tools, and beside
# each its pixels as Pillow decodes them (a PGM of palette indices) and its
# palette as Pillow reads it (768 bytes, zero beyond the file's entries),
# which the tests compare with what pcx2kob's PNG reader makes of them.
# Needs Debian's imagemagick and python3-pil.
set -eu
cd "$(dirname "$0")"
rm -f ./*.png ./*.pgm ./*.pal
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Pillow: every bit depth from the same seeded indices, a palette with two
# entries of one colour, and one with a transparent entry in tRNS.
/usr/bin/python3 - <<'PY'
import random
from PIL import Image
rng = random.Random(10)
for bits, (w, h) in ((1, (13, 7)), (2, (37, 23)), (4, (9, 17)), (8, (61, 40))):
    im = Image.new('P', (w, h))
    im.putdata([rng.randrange(1 << bits) for _ in range(w * h)])
    palette = [(i * 37) % 256 for i in range(3 << bits)]
    palette[3:6] = palette[0:3]                  # entries 0 and 1 alike
    im.putpalette(palette)
    im.save(f'pillow-{bits}bit-{w}x{h}.png', bits=bits)
im = Image.new('P', (24, 16))
im.putdata([(x // 3 + y) % 12 for y in range(16) for x in range(24)])
im.putpalette([c for i in range(12) for c in (i * 20, 255 - i * 20, 128)])
im.save('pillow-transparent-24x16.png', transparency=7)
PY

# ImageMagick: a two-way gradient quantised to a palette, interlaced and not,
# at a few depths.
/usr/bin/python3 - "$work" <<'PY'
import sys
w, h = 37, 23
rows = bytearray()
for y in range(h):
    for x in range(w):
        rows += bytes(((x * 15 // (w - 1)) * 17, (y * 7 // (h - 1)) * 36, 200 if (x // 8 + y // 8) % 2 else 40))
open(sys.argv[1] + '/src.ppm', 'wb').write(b'P6 %d %d 255\n' % (w, h) + rows)
PY
convert "$work/src.ppm" +set date:create +set date:modify -define png:exclude-chunk=time -colors 200 -interlace PNG PNG8:imagemagick-interlaced-37x23.png
convert "$work/src.ppm" +set date:create +set date:modify -define png:exclude-chunk=time -colors 200 PNG8:imagemagick-37x23.png
convert "$work/src.ppm" +set date:create +set date:modify -define png:exclude-chunk=time -colors 16 -interlace PNG -define png:bit-depth=4 PNG8:imagemagick-4bit-interlaced-37x23.png
convert "$work/src.ppm" +set date:create +set date:modify -define png:exclude-chunk=time -colors 4 -interlace PNG -define png:bit-depth=2 PNG8:imagemagick-2bit-interlaced-37x23.png

# For the memory checker: a good file with one byte of its image data
# flipped, which only the IDAT CRC after the decoded image gives away.
/usr/bin/python3 - <<'PY'
data = bytearray(open('pillow-8bit-61x40.png', 'rb').read())
data[data.index(b'IDAT') + 100] ^= 0x01
open('../damaged-idat.png', 'wb').write(data)
PY

for png in *.png; do
  /usr/bin/python3 - "$png" <<'PY'
import sys
from PIL import Image
name = sys.argv[1]
im = Image.open(name)
assert im.mode == 'P', (name, im.mode)
base = name[:-4]
open(base + '.pgm', 'wb').write(b'P5 %d %d 255\n' % im.size + im.tobytes())
palette = bytes(im.getpalette())
open(base + '.pal', 'wb').write(palette + bytes(768 - len(palette)))
PY
done
