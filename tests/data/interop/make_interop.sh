#!/bin/sh
# Regenerates the PCX files written by third-party tools, and beside each its
# pixels as Pillow decodes them (a PGM of palette indices), which the tests
# compare with what pcx2kob's reader decodes.
# Needs Debian's imagemagick, netpbm and python3-pil.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Source images: a two-way gradient of at most 256 colours, in sizes
# with odd widths (padded lines) and at the largest accepted size.
/usr/bin/python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
for w, h in ((37, 23), (5, 3), (511, 256), (200, 64)):
    rows = bytearray()
    for y in range(h):
        for x in range(w):
            r = (x * 15 // max(1, w - 1)) * 17
            g = (y * 7 // max(1, h - 1)) * 36
            b = 200 if (x // 8 + y // 8) % 2 else 40
            rows += bytes((r, g, b))
    with open(f"{work}/src-{w}x{h}.ppm", "wb") as f:
        f.write(b"P6 %d %d 255\n" % (w, h) + rows)
PY

for src in "$work"/src-*.ppm; do
  size=${src##*/src-}
  size=${size%.ppm}
  convert "$src" -type Palette -colors 256 "PCX:imagemagick-$size.pcx"
  ppmtopcx -8bit "$src" > "netpbm-$size.pcx" 2>/dev/null
  /usr/bin/python3 -c 'import sys; from PIL import Image
Image.open(sys.argv[1]).quantize(256).save(sys.argv[2])' "$src" "pillow-$size.pcx"
done

for pcx in *.pcx; do
  /usr/bin/python3 -c 'import sys; from PIL import Image
im = Image.open(sys.argv[1])
assert im.mode == "P", (sys.argv[1], im.mode)
open(sys.argv[2], "wb").write(b"P5 %d %d 255\n" % im.size + im.tobytes())' "$pcx" "${pcx%.pcx}.pgm"
done
