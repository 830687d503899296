#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora: small valid PCX files, one per boundary of
the reader's checks, the example sprite and the smaller third-party files,
PCX and PNG; and for the sheet fuzzer some of them behind a three-byte cell
size (width low byte, the two high bits, height low byte).
Inputs that ever crashed or slowed the tool are added to corpus/ by hand and
kept; this script never removes a file."""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, 'corpus')
VIEWER_CORPUS = os.path.join(HERE, 'viewer-corpus')
SHEET_CORPUS = os.path.join(HERE, 'sheet-corpus')
BANK_CORPUS = os.path.join(HERE, 'bank-corpus')
ROOT = os.path.dirname(HERE)
PALETTE = bytes(i % 256 for i in range(768))


def pcx(width=2, height=2, stride=None, data=None, palette=True, xmin=0, ymin=0,
        manufacturer=10, version=5, encoding=1, bits=8, planes=1):
    stride = width if stride is None else stride
    header = struct.pack('<BBBBHHHH', manufacturer, version, encoding, bits, xmin, ymin,
                         (xmin + width - 1) & 0xFFFF, (ymin + height - 1) & 0xFFFF)
    header += bytes(65 - len(header)) + struct.pack('<BH', planes, stride & 0xFFFF)
    header += bytes(128 - len(header))
    if data is None:
        data = bytes((0xC0 | 63, 1)) * ((stride * height + 62) // 63)
    return header + data + (b'\x0c' + PALETTE if palette else b'')


SEEDS = {
    'min-897': pcx(data=b'\x01\x02\x03\x04'),
    'short-896': pcx(data=b'\x01\x02\x03'),
    'width-511': pcx(width=511),
    'width-512': pcx(width=512),
    'height-256': pcx(height=256),
    'height-257': pcx(height=257),
    'stride-odd': pcx(width=37, stride=39),
    'stride-short': pcx(width=37, stride=36),
    'stride-max': pcx(width=3, stride=65535, height=2),
    'no-marker': pcx(palette=False, data=bytes(range(1, 192)) * 5),
    'marker-in-data': pcx(palette=False, data=bytes(31) + b'\x0c' + bytes(768)),
    'count-last': pcx(data=b'\x05\xc7', palette=False) + bytes(800) + b'\xc7',
    'count-zero': pcx(data=b'\xc0\x09\xc0\x09\x01'),
    'high-values': pcx(width=8, height=8, data=b'\xc1\xc8\xc1\xff\xc2\xfe' * 22),
    'bad-manufacturer': pcx(manufacturer=11),
    'bad-encoding': pcx(encoding=0),
    'bad-bits': pcx(bits=4),
    'bad-planes': pcx(planes=3),
    'flat-extent': pcx(width=1),
    'origin-offset': pcx(width=40, height=30, xmin=100, ymin=65000),
    'alternating': pcx(width=4, height=255, data=b'\x01\x00\x02\x00' * 255),
    'transparent-255': pcx(width=6, height=40, version=255, data=b'\xff\xff\xcf\x07\x01\x02' * 8),
}

# KOBVIEW's: a command tail, then the files A, B, C ... split at "|KOB|".
TINY_KOB = b'KOB1VGAX' + struct.pack('<HHI', 2, 2, 0) + b'\x02\x00\x05\x06\xff\x01\x01\x07\xff'


def viewer_seeds():
    def data(name):
        with open(os.path.join(ROOT, 'tests', 'data', name), 'rb') as f:
            return f.read()
    files = b'|KOB|'.join([data('slime.kob'), TINY_KOB, data('slime.pal')])
    return {
        'centred': b'A\n' + files,
        'placed': b'/P:C /B:9 /D:X A@-3,7 B@318,238 B@0,0 A@-40,-20\n' + files,
        'bad-switch': b'/B:256 /q A\n' + files,
        'short-switch': b'A / /P /D: /B:\n' + files,
        'eight': b'A@1,1 B@2,2 A@-9,-9 B@-1,-1 A@300,200 B A@5,100 B@6,6\n' + files,
        'compiled-mirrored': b'/C /R:2 A@10,10 A@-3,7,H B@318,238,h A@100,100 /r:1000 /c\n' + files,
        'banks': b'/C D[0]@10,10 D[1] A@5,5 D[2]@-3,7,H D[3]@100,100 D[1]@319,0,h E[0]\n' + files + b'|KOB|' +
                 bank_seeds()['slime'] + b'|KOB|' + bank_seeds()['shared'],
        'bad-frames': b'D[4] D[x]@1,1 D[0 D] [1] D[-1] D[8192]\n' + files + b'|KOB|' + bank_seeds()['slime'],
    }


def bank(cell_width, cell_height, across, frames):
    """A bank of frames (kind, source, left, top, hotspot x, hotspot y, sprite),
    the sprites after the table in the order of the frames that store them."""
    table, sprites = b'', b''
    at = 16 + 16 * len(frames)
    for kind, source, left, top, hx, hy, sprite in frames:
        offset = at + len(sprites) if sprite else 0
        table += struct.pack('<BBHIHHhh', kind, 0, source, offset, left, top, hx, hy)
        sprites += sprite
    return b'KOBBVGAX' + struct.pack('<HHHH', cell_width, cell_height, across, len(frames)) + table + sprites


def bank_seeds():
    with open(os.path.join(ROOT, 'tests', 'data', 'slime.kob'), 'rb') as f:
        slime = f.read()
    height, width = struct.unpack('<HH', slime[8:12])
    three = b'KOB1VGAX' + struct.pack('<HHI', 2, 3, 0) + b'\x02\x00\x05\x06\xff\x01\x01\x07\xff\x00\x02\xff'
    return {
        'tiny': bank(2, 2, 1, [(1, 0, 0, 0, 0, 0, TINY_KOB)]),
        'shared': bank(6, 5, 2, [(1, 0, 1, 2, 2, 4, three), (3, 0, 2, 2, -1, 300, b''), (0, 0, 0, 0, 7, -7, b''),
                                 (2, 0, 1, 2, 5, 5, b'')]),
        'slime': bank(width + 2, height, 2, [(1, 0, 1, 0, 20, height - 1, slime), (3, 0, 1, 0, 0, 0, b''),
                                             (1, 0, 0, 0, -32768, 32767, TINY_KOB), (0, 0, 0, 0, 0, 0, b'')]),
    }


def main():
    os.makedirs(CORPUS, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(CORPUS, name + '.pcx'), 'wb') as f:
            f.write(data)
    shutil.copy(os.path.join(ROOT, 'examples', 'slime.pcx'), CORPUS)
    interop = os.path.join(ROOT, 'tests', 'data', 'interop')
    for name in sorted(os.listdir(interop)):
        if name.endswith(('-5x3.pcx', '-37x23.pcx')):
            shutil.copy(os.path.join(interop, name), CORPUS)
    png = os.path.join(ROOT, 'tests', 'data', 'png')
    for name in sorted(os.listdir(png)):
        if name.endswith('.png'):
            shutil.copy(os.path.join(png, name), CORPUS)
    os.makedirs(BANK_CORPUS, exist_ok=True)
    for name, data in bank_seeds().items():
        with open(os.path.join(BANK_CORPUS, name), 'wb') as f:
            f.write(data)
    os.makedirs(VIEWER_CORPUS, exist_ok=True)
    for name, data in viewer_seeds().items():
        with open(os.path.join(VIEWER_CORPUS, name), 'wb') as f:
            f.write(data)

    # Cells that fit, cells that do not, a 256-row cell, a whole image as one cell.
    os.makedirs(SHEET_CORPUS, exist_ok=True)
    for name, width, height in (('slime.pcx', 24, 20), ('slime.pcx', 7, 20), ('height-256.pcx', 2, 256),
                                ('pillow-transparent-24x16.png', 8, 8), ('imagemagick-interlaced-37x23.png', 37, 23),
                                ('pillow-4bit-9x17.png', 3, 17)):
        with open(os.path.join(CORPUS, name), 'rb') as f:
            image = f.read()
        size = bytes((width & 0xFF, (width >> 8) | (height >> 8) << 1, height & 0xFF))
        with open(os.path.join(SHEET_CORPUS, '%dx%d-%s' % (width, height, name)), 'wb') as f:
            f.write(size + image)


if __name__ == '__main__':
    main()
