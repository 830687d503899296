#!/usr/bin/env python3
"""Turns a KOBVIEW /D dump (320 x 240 colour indices, then the 768 bytes of
the DAC, 0-63 each) into a PNG image: dump_to_png.py DUMP.BIN picture.png"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 320, 240


def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))


def main():
    dump = open(sys.argv[1], 'rb').read()
    pixels, dac = dump[:WIDTH * HEIGHT], dump[WIDTH * HEIGHT:]
    colours = [bytes(dac[i * 3 + c] * 255 // 63 for c in range(3)) for i in range(256)]
    rows = b''.join(b'\0' + b''.join(colours[p] for p in pixels[y * WIDTH:(y + 1) * WIDTH]) for y in range(HEIGHT))
    header = struct.pack('>IIBBBBB', WIDTH, HEIGHT, 8, 2, 0, 0, 0)  # 8-bit RGB
    with open(sys.argv[2], 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) + chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))


if __name__ == '__main__':
    main()
