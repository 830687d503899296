#!/usr/bin/env python3
"""dosbox_kobview.py draws|refuses <pcx2kob> <kob2pcx> <KOBVIEW.COM> <work dir>: one DOSBox start, many runs.

draws: each dump of sprites pcx2kob compiled from seeded random images and the example, and of a bank's frames,
is the picture painted from the source pixels (opaque pixels of the first 255 rows, clipped, later ones on top;
a frame's cell by its hotspot), then the palette >> 2.
refuses: bad input gives errorlevel 1, kob2pcx's line for the same sprite, no dump. All end in text mode."""
import os
import random
import shutil
import struct
import subprocess
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parent.parent / 'examples'
sys.path.insert(0, str(EXAMPLES))
from make_example import pcx_file  # noqa: E402  (the project's own PCX writer)

W, H, PAGE = 320, 240, 320 * 240
FILES = {
    'DOSBOX.CNF': b'[sdl]\noutput=surface\n[dosbox]\nmachine=vgaonly\n[cpu]\ncycles=max\n[mixer]\nnosound=true\n'
                  b'[sblaster]\nsbtype=none\n[speaker]\npcspeaker=false\n',
    # mov ah,0Fh; int 10h; mov ah,4Ch; int 21h: the video mode as errorlevel.
    'VMODE.COM': bytes([0xB4, 0x0F, 0xCD, 0x10, 0xB4, 0x4C, 0xCD, 0x21]),
    # mov ah,5; mov cx,1C0Dh; int 16h; mov ax,4C00h; int 21h: Enter into the keyboard buffer, for a run without /D.
    'KEY.COM': bytes([0xB4, 0x05, 0xB9, 0x0D, 0x1C, 0xCD, 0x16, 0xB8, 0x00, 0x4C, 0xCD, 0x21])}
images, runs = {}, []  # sprite or BANK[n] -> pixel rows and the hotspot; command tails


def read(name):
    return (work / name).read_bytes() if (work / name).exists() else b''


def compile_kob(name, pcx, *options):
    """pcx2kob on an 8-bit run-length PCX file, whose pixel rows it keeps."""
    subprocess.run([pcx2kob, '-i', pcx, '-o', work / name, *options], check=True)
    data = Path(pcx).read_bytes()
    xmin, ymin, xmax, ymax, stride = (int.from_bytes(data[o:o + 2], 'little') for o in (4, 6, 8, 10, 66))
    out, at = bytearray(), 128
    while len(out) < stride * (ymax - ymin + 1):
        count, at = (data[at] - 0xC0, at + 1) if data[at] >= 0xC0 else (1, at)
        out, at = out + data[at:at + 1] * count, at + 1
    images[name] = [out[y * stride:y * stride + xmax - xmin + 1] for y in range(ymax - ymin + 1)], None


def compile_bank(name, cells, hotspots, across, outside):
    """pcx2kob -bank on a sheet of the cells (pixel rows, none of colour 200), each hotspot marked in its cell in
    colour 200, but those at `outside`, which -hotspot gives."""
    height, width = len(cells[0]), len(cells[0][0])
    down = len(cells) // across
    sheet = [[0] * (width * across) for _ in range(height * down)]
    for n, (rows, (hx, hy)) in enumerate(zip(cells, hotspots)):
        images[f'{name}[{n}]'] = rows, (hx, hy)
        for r in range(height):
            sheet[n // across * height + r][n % across * width:(n % across + 1) * width] = rows[r]
        if (hx, hy) != outside:
            sheet[n // across * height + hy][n % across * width + hx] = 200
    (work / 'SHEET.PCX').write_bytes(pcx_file([p for row in sheet for p in row], width * across, height * down,
                                              bytes(768)))
    subprocess.run([pcx2kob, '-i', work / 'SHEET.PCX', '-grid', f'{width}x{height}', '-bank', work / name, '-mark',
                    '200', '-hotspot', '%d,%d' % outside], check=True)


def start_dosbox():
    """Per run, what it said, and 1, 2, G for errorlevel 1, 2 and over and for graphics mode left on."""
    lines = ['@echo off']
    for n, tail in enumerate(runs):
        assert len(tail) <= 126, tail  # a DOS command tail holds 126 characters
        # A run without /D waits for a key: Enter goes first. DOSBox creates the
        # file of ECHO x> even when the IF is false, so the checks read it.
        lines += ['KEY'] * ('/D:' not in tail) + [f'KOBVIEW {tail} > M{n}.TXT', f'IF ERRORLEVEL 1 ECHO 1> E{n}.TXT']
        lines += [f'IF ERRORLEVEL 2 ECHO 2> F{n}.TXT', 'VMODE', f'IF ERRORLEVEL 4 ECHO G> V{n}.TXT']
    (work / 'RUN.BAT').write_bytes(('\r\n'.join(lines) + '\r\n').encode())
    env = dict(os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy', HOME=str(work))
    # D: is the same directory again: a second name no TRUENAME can tell apart.
    subprocess.run(['dosbox', '-conf', work / 'DOSBOX.CNF', '-c', f'mount c "{work}"', '-c', f'mount d "{work}"',
                    '-c', 'c:', '-c',
                    'CALL RUN.BAT', '-c', 'exit'], env=env, capture_output=True, timeout=120, check=True)
    return [(read(f'M{n}.TXT').decode('latin-1'), ''.join(read(f'{f}{n}.TXT').decode().strip() for f in 'EFV'))
            for n in range(len(runs))]


def painted(tail):
    """The page a run's sprites paint on its /B background, and its /P palette. /C and /R:n change nothing;
    sprite@x,y,H is drawn mirrored, its column c at x + width - 1 - c. A bank's frame, BANK[n]@x,y, puts its
    cell's column c at x - hx + c and its row r at y - hy + r; mirrored, column c at x + hx - c; centred, its cell
    as a sprite of the cell's size."""
    switches = dict(word[1:].partition(':')[::2] for word in tail.split() if word[0] == '/')
    screen = bytearray([int(switches.get('B', 0))]) * PAGE
    for name, _, at in (word.partition('@') for word in tail.split() if word[0] != '/'):
        rows, hotspot = images[name]
        rows = rows[:255]
        width, height = len(rows[0]), len(rows)
        x, y, *flag = at.split(',') if at else (int((W - width) / 2), int((H - height) / 2))  # toward zero
        x, y, mirrored = int(x), int(y), bool(flag)
        hx, hy = hotspot if hotspot and at else (width - 1 if mirrored else 0, 0)
        for r in range(height):
            for c in range(width):
                sx, sy = x + hx - c if mirrored else x - hx + c, y - hy + r
                if 0 <= sx < W and 0 <= sy < H:
                    screen[sy * W + sx] = rows[r][c] or screen[sy * W + sx]
    return bytes(screen), switches.get('P')


def check_draws():
    rng = random.Random(9)
    palette = bytes(rng.randrange(256) for _ in range(768))
    (work / 'R.PAL').write_bytes(palette)
    compile_kob('S.KOB', EXAMPLES / 'slime.pcx', '-p', work / 'S.PAL')
    # C keeps 255 rows: centred, it and G are larger than the screen by odd amounts.
    sizes = {'A': (37, 23), 'B': (64, 41), 'C': (511, 256), 'D': (2, 2), 'E': (330, 250), 'F': (5, 3), 'G': (325, 245)}
    for seed, (name, (width, height)) in enumerate(sizes.items()):
        pick, pixels, value = random.Random(seed), [], 0
        for _ in range(width * height):  # runs of colours 1-199 and of transparency
            value = (0 if pick.randrange(3) == 0 else pick.randrange(1, 200)) if pick.randrange(4) == 0 else value
            pixels.append(value)
        (work / f'{name}.PCX').write_bytes(pcx_file(pixels, width, height, palette))
        compile_kob(f'{name}.KOB', work / f'{name}.PCX')
    # Background 250: no image here uses it. Without /P and /B: the mode's palette, background 0.
    plans = ['/P:S.PAL /B:250 S.KOB'] + ['/P:R.PAL /B:250 ' + sprites for sprites in [
        'A.KOB@100,50 A.KOB@141,50 A.KOB@182,50 A.KOB@223,61 F.KOB@7,7 F.KOB@9,9 D.KOB@318,238 D.KOB@-1,-1',
        'B.KOB@-10,100 B.KOB@290,100 B.KOB@101,-20 B.KOB@102,220 B.KOB@-63,-40',
        'B.KOB@319,239 B.KOB@-64,0 B.KOB@320,0 B.KOB@0,-41 B.KOB@3,203',
        'C.KOB@-100,-7 E.KOB S.KOB@-5,-3 C.KOB@-3,-2 A.KOB@0,240 A.KOB@-37,5 C.KOB@-32768,32767',
        ' '.join(f'{rng.choice("ABCEF")}.KOB@{rng.randrange(-300, 330)},{rng.randrange(-260, 250)}' for _ in range(6)),
        'G.KOB', 'C.KOB', 'G.KOB@-2,-2 C.KOB@-95,-7 G.KOB',
        # Sprites in memory leave little of the arena: the streamed ones (the fifth B and C) are read in chunks
        # of a few strips, which end mid-strip.
        'B.KOB@0,0 B.KOB@40,20 B.KOB@80,40 B.KOB@120,60 B.KOB@160,80,H B.KOB@200,100 C.KOB@-50,-3',
        'B.KOB@0,0 B.KOB@40,20 B.KOB@80,40 B.KOB@120,60 B.KOB@160,80 B.KOB@200,100 C.KOB@-150,-3,H']]
    # The same through compiled code where it fits, mirrored, and drawn many times over the one page.
    plans += ['/B:250 /C ' + plan.split(' ', 2)[2] for plan in plans[1:]]
    plans += ['/B:250 /R:3 A.KOB@100,50,H A.KOB@141,51,h B.KOB@-10,100,H B.KOB@290,100,H C.KOB@-100,-7,H E.KOB@-5,-5,H',
              '/B:250 /C /R:1000 A.KOB@100,50 A.KOB@102,52,H B.KOB@3,203 B.KOB@200,30 F.KOB@7,7 D.KOB@-1,-1',
              '/B:250 /C B.KOB@101,17 B.KOB@101,61,H G.KOB@-2,-2,H C.KOB@-95,-7,H']
    # A bank of 30 x 20 cells: a blob, its mirror image, itself again, nothing, one column at the right edge (its
    # sprite widened left), the whole cell; hotspots marked inside the cells, and one outside.
    blob = [[0] * 30 for _ in range(20)]
    for r in range(3, 17):
        for c in range(4, 26):
            blob[r][c] = rng.choice([0, rng.randrange(1, 200), rng.randrange(1, 200)])
    edge = [[0] * 29 + [r * 9 + 1 if 4 < r < 15 else 0] for r in range(20)]
    whole = [[rng.randrange(1, 200) for _ in range(30)] for _ in range(20)]
    compile_bank('K.KBK', [blob, [row[::-1] for row in blob], blob, [[0] * 30] * 20, edge, whole],
                 [(15, 19), (15, 19), (0, 0), (3, 3), (29, 0), (-20, 40)], 3, (-20, 40))
    plans += ['/P:R.PAL /B:250 K.KBK[0]@100,50 K.KBK[1]@150,50 K.KBK[2]@200,50,H K.KBK[3]@5,5 K.KBK[4]@60,120 K.KBK[5]',
              '/B:250 K.KBK[0]@10,14 K.KBK[1]@300,225,H K.KBK[5]@-25,100 K.KBK[4]@318,10 K.KBK[0]@160,2,H A.KOB@1,1',
              '/B:250 /C K.KBK[0]@100,100 K.KBK[0]@2,100 K.KBK[1]@200,100,H K.KBK[2]@50,50 K.KBK[5]@250,230 K.KBK[1]',
              '/B:250 /C K.KBK[0]@40,40 K.KBK[1]@80,40 K.KBK[4]@0,239,H K.KBK[5]@310,-41 K.KBK[2]@-14,200']
    runs.extend(f'/D:D{n}.BIN {plan}' for n, plan in enumerate(plans))
    # An earlier dump is replaced, by the name of the second drive too; the viewer's own spare names are dumps'.
    runs.extend([f'/D:D:\\D{len(plans)}.BIN A.KOB@-5,0', '/D:KOBV0000.TMP A.KOB@-3,0', '/D:KOBV0001.TMP F.KOB'])
    (work / f'D{len(plans)}.BIN').write_bytes(bytes(PAGE + 768))
    (work / 'KOBV0001.TMP').write_bytes(bytes(PAGE + 768))
    runs.append('S.KOB@-9,-9')  # waits for the key, then ends in text mode, no dump
    dumps = [tail.split()[0][3:].replace('D:\\', '') if '/D:' in tail else '' for tail in runs]
    failures = []
    for n, (tail, outcome) in enumerate(zip(runs, start_dosbox())):
        (page, pal), dump, size = painted(tail), read(dumps[n]) if dumps[n] else b'', PAGE + 768 if '/D:' in tail else 0
        expected = page + (bytes(c >> 2 for c in read(pal)) if pal else dump[PAGE:])  # the mode's own is not checked
        wrong = [i for i in range(min(len(dump), size)) if dump[i] != expected[i]]
        if outcome != ('', '') or len(dump) != size or wrong:
            failures.append(f'{tail}: said, flags {outcome}, {len(dump)} bytes, {len(wrong)} differ (first {wrong[:1]})')
    return failures + [f'{name.name} left behind' for name in work.glob('KOBV*.TMP') if name.name not in dumps]


def check_refuses():
    compile_kob('S.KOB', EXAMPLES / 'slime.pcx', '-p', work / 'S.PAL')
    good = read('S.KOB')
    (work / 'P767.PAL').write_bytes(read('S.PAL')[:767])
    (work / 'P1.PAL').write_bytes(read('S.PAL')[:1])
    kept = {'X.BIN': b'an earlier dump', 'Q.PAL': read('S.PAL'), 'T.KOB': good, 'S.KOB': good, 'SUB/K.TXT': b'kept',
            'SUB/S.KOB': good}
    (work / 'SUB').mkdir()
    for name, data in kept.items():
        (work / name).write_bytes(data)
    rows = [  # (command tail, the console line)
        ('NONE.KOB', "Cannot open sprite file 'NONE.KOB'"),
        ('/P:P767.PAL S.KOB', "Bad palette file 'P767.PAL': 767 bytes, a palette is 768"),
        ('/P:P1.PAL S.KOB', "Bad palette file 'P1.PAL': 1 byte, a palette is 768"),
        ('/P:NONE.PAL S.KOB', "Cannot open palette file 'NONE.PAL'"),
        *((f'/{s} S.KOB', f"Bad switch '/{s}'") for s in ('Q:1', 'B:256', '', 'P', 'D:', 'B', 'B:', 'P:', 'x:1',
                                                          'R:0', 'R:', 'R:1001', 'R', 'R:-1', 'C:1', 'CC')),
        *((f'S.KOB@{p}', f"Bad position 'S.KOB@{p}'") for p in ('1', '1,x', '40000,0', '1,2,3', '1,2,', '1,2,X',
                                                                   '1,2,HH', '1,2,H,', '1,2H')),
        (' '.join(['S.KOB'] * 9), 'Too many sprites: at most 8'),
        ('', 'Usage: KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] [/C] [/R:n] sprite[@x,y[,H]] bank[n][@x,y[,H]] ...'),
        *((f'/D:{d} {tail}', f"Dump file '{d}' is also an input") for d, tail in (
            ('s.kob', 'S.KOB@0,0'), ('.\\S.KOB', 'S.KOB'), ('C:S.KOB', 'S.KOB'), ('C:\\T.KOB', 'S.KOB T.KOB@1,1'),
            ('.\\Q.PAL', '/P:Q.PAL T.KOB@0,0'))),
        ('/D:SUB S.KOB', "Cannot create file 'SUB'"),  # a directory is never moved aside
        # Inputs DOS opens by a name it gives no canonical name.
        *((f'/D:{d} {tail}', f"Cannot tell whether '{i}' is the dump file") for d, tail, i in (
            ('S.KOB', 'S.KOB.', 'S.KOB.'), ('S.KOB', 'S.KOB...', 'S.KOB...'), ('Q.PAL', '/P:Q.PAL. T.KOB', 'Q.PAL.'))),
        # Names that do not show the alias (one with its own canonical name, the second drive, which is the same
        # directory): only an earlier dump is replaced.
        ('/D:SUB\\S.KOB C:\\SUB.\\S.KOB', "Dump file 'SUB\\S.KOB' exists and is not a dump"),
        ('/D:D:\\S.KOB S.KOB', "Dump file 'D:\\S.KOB' exists and is not a dump"),
        ('/D:D:Q.PAL /P:Q.PAL S.KOB', "Dump file 'D:Q.PAL' exists and is not a dump"),
        # Names DOS does not take, refused before any file is opened; a flag needs a position.
        *((tail, f"Bad file name '{name}'") for tail, name in (
            ('/D:*.KOB S.KOB', '*.KOB'), ('/D:S?.BIN S.KOB', 'S?.BIN'), ('S+.KOB', 'S+.KOB'),
            ('/P:Q[1].PAL S.KOB', 'Q[1].PAL'), ('S;1.KOB@1,1', 'S;1.KOB'), ('/D:C:X:Y.BIN S.KOB', 'C:X:Y.BIN'))),
        *((f'S.KOB{flag}', f"Bad position 'S.KOB{flag}'") for flag in (',H', ',h', ',')),
        # Banks: a frame past the last, bad brackets, a broken bank, one too large to hold, and the dump's rules.
        ('S.KOB K.KBK[1]@5,5 K.KBK[2]', "Frame '2' is not in bank file 'K.KBK': give a number from 0 to 1"),
        *((f'K.KBK{frame}', f"Bad frame 'K.KBK{frame}'") for frame in (
            '[x]', '[1', '1]', '[]', '[-1]', '[8192]', '[1]x', '[1][2]', '[1@1,1')),
        ('[1]@1,1', "Bad frame '[1]@1,1'"),
        ('NONE.KBK[0]@1,1', "Cannot open bank file 'NONE.KBK'"),
        ('S.KOB@1,1 SELF.KBK[0]@-3,4', "Bad bank file 'SELF.KBK': frame 1 refers to itself (byte 34)"),
        ('BIG.KBK[0]', "Bank file 'BIG.KBK' does not fit in memory"),
        ('/D:K.KBK K.KBK[0]', "Dump file 'K.KBK' is also an input"),
    ]
    # Two frames: a 2 x 2 sprite and its mirror image, which the second breaks.
    tiny = b'KOB1VGAX' + struct.pack('<HHI', 2, 2, 0) + b'\x02\x00\x05\x06\xff\x01\x01\x07\xff'
    frames = [struct.pack('<BBHIHHhh', 1, 0, 0, 48, 0, 0, 0, 0), struct.pack('<BBHIHHhh', 3, 0, 1, 0, 0, 0, 0, 0)]
    (work / 'SELF.KBK').write_bytes(b'KOBBVGAX' + struct.pack('<HHHH', 2, 2, 2, 2) + b''.join(frames) + tiny)
    (work / 'K.KBK').write_bytes(b'KOBBVGAX' + struct.pack('<HHHH', 2, 2, 2, 2) + frames[0] +
                                 struct.pack('<BBHIHHhh', 3, 0, 0, 0, 0, 0, 0, 0) + tiny)
    (work / 'BIG.KBK').write_bytes(b'KOBBVGAX' + bytes(40000))
    broken = {'MAGIC.KOB': b'k' + good[1:], 'SHORT.KOB': good[:len(good) // 2], 'TAIL.KOB': good + b'\0\0\0',
              'OVER.KOB': good[:17] + bytes([good[17] + 1]) + good[18:]}  # strip 0 skips a row too many
    for name, data in broken.items():
        (work / name).write_bytes(data)
        kob2pcx_said = subprocess.run([kob2pcx, '-i', name, '-o', 'X.PCX'], cwd=work, capture_output=True, text=True)
        rows.append((f'S.KOB@1,1 {name}@-3,4', kob2pcx_said.stderr.strip()))
    runs.extend(tail if '/D:' in tail else '/D:X.BIN ' + tail for tail, _ in rows)
    failures = [f'{tail}: said, flags {got}, not {expected!r}' for tail, (_, expected), got
                in zip(runs, rows, start_dosbox()) if got != (expected + '\r\n', '1') or not expected]
    changed = [name for name, data in kept.items() if read(name) != data] + [n.name for n in work.glob('KOBV*.TMP')]
    return failures + [f'{name} written' for name in changed]


if __name__ == '__main__':
    pcx2kob, kob2pcx, kobview, work = (Path(arg).resolve() for arg in sys.argv[2:6])
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    shutil.copy(kobview, work / 'KOBVIEW.COM')
    for name, data in FILES.items():
        (work / name).write_bytes(data)
    failures = (check_draws if sys.argv[1] == 'draws' else check_refuses)()
    print('\n'.join(failures + [f'{len(runs)} KOBVIEW runs, {len(failures)} failed']))
    sys.exit(1 if failures else 0)
