#!/usr/bin/env python3
"""Runs KOBVIEW.COM in DOSBox, one DOSBox start running a batch of many runs:

  dosbox_kobview.py draws|refuses <pcx2kob> <kob2pcx> <KOBVIEW.COM> <work dir>

draws: sprites compiled by pcx2kob from seeded random images and the example;
each dump must be the picture painted straight from the source pixels (the
opaque pixels of the first 255 rows, clipped, later sprites on top, on a
background index no image uses), then the palette shifted right by 2.
refuses: bad input gives errorlevel 1, the line kob2pcx gives for the same
sprite, and no dump. Every run must end in text mode."""
import os
import random
import shutil
import subprocess
import sys

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'examples')
sys.path.insert(0, EXAMPLES)
from make_example import pcx_file  # noqa: E402  (the project's own PCX writer)

W, H, PAGE = 320, 240, 320 * 240
BACKGROUND = 250  # no image here uses it
CONFIG = ('[sdl]\noutput=surface\n[dosbox]\nmachine=vgaonly\n[cpu]\ncycles=max\n[mixer]\nnosound=true\n'
          '[sblaster]\nsbtype=none\n[speaker]\npcspeaker=false\n')
# mov ah,0Fh; int 10h; mov ah,4Ch; int 21h: the video mode as errorlevel.
VMODE_COM = bytes([0xB4, 0x0F, 0xCD, 0x10, 0xB4, 0x4C, 0xCD, 0x21])
# mov ah,5; mov cx,1C0Dh; int 16h; mov ax,4C00h; int 21h: Enter into the
# keyboard buffer, for a run that waits for a key.
KEY_COM = bytes([0xB4, 0x05, 0xB9, 0x0D, 0x1C, 0xCD, 0x16, 0xB8, 0x00, 0x4C, 0xCD, 0x21])


def decode_pcx(data):
    """Rows of pixels of an 8-bit run-length PCX file."""
    xmin, ymin, xmax, ymax, stride = (int.from_bytes(data[o:o + 2], 'little') for o in (4, 6, 8, 10, 66))
    out, at = bytearray(), 128
    while len(out) < stride * (ymax - ymin + 1):
        count, at = (data[at] - 0xC0, at + 1) if data[at] >= 0xC0 else (1, at)
        out += data[at:at + 1] * count
        at += 1
    return [out[y * stride:y * stride + xmax - xmin + 1] for y in range(ymax - ymin + 1)]


class Case:
    def __init__(self, pcx2kob, kob2pcx, kobview, work):
        self.pcx2kob, self.kob2pcx, self.work = pcx2kob, kob2pcx, work
        self.images, self.runs = {}, []  # sprite name -> pixel rows; command tails
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        shutil.copy(kobview, self.path('KOBVIEW.COM'))
        self.write('VMODE.COM', VMODE_COM)
        self.write('KEY.COM', KEY_COM)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, data):
        with open(self.path(name), 'wb') as f:
            f.write(data)

    def read(self, name):
        return open(self.path(name), 'rb').read() if os.path.exists(self.path(name)) else b''

    def compile(self, name, pcx, palette=()):
        subprocess.run([self.pcx2kob, '-i', pcx, '-o', self.path(name), *palette], check=True)
        self.images[name] = decode_pcx(open(pcx, 'rb').read())

    def add_random(self, name, seed, width, height, palette):
        rng, pixels, value = random.Random(seed), [], 0
        for _ in range(width * height):  # runs of colours 1-199 and of transparency
            if rng.randrange(4) == 0:
                value = 0 if rng.randrange(3) == 0 else rng.randrange(1, 200)
            pixels.append(value)
        self.write(name + '.PCX', pcx_file(pixels, width, height, palette))
        self.compile(name, self.path(name + '.PCX'))

    def run(self, tail, key=False):
        assert len(tail) <= 126, tail  # a DOS command tail holds 126 characters
        self.runs.append((tail, key))

    def start_dosbox(self):
        lines = ['@echo off']
        for n, (tail, key) in enumerate(self.runs):
            # DOSBox creates the file of ECHO x> even when the IF is false,
            # so the checks read what is in it.
            lines += ['KEY'] * key + [f'KOBVIEW {tail} > M{n}.TXT', f'IF ERRORLEVEL 1 ECHO 1> E{n}.TXT',
                      f'IF ERRORLEVEL 2 ECHO 2> F{n}.TXT', 'VMODE', f'IF ERRORLEVEL 4 ECHO G> V{n}.TXT']
        self.write('RUN.BAT', ('\r\n'.join(lines) + '\r\n').encode())
        self.write('DOSBOX.CNF', CONFIG.encode())
        env = dict(os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy', HOME=self.work)
        subprocess.run(['dosbox', '-conf', self.path('DOSBOX.CNF'), '-c', f'mount c "{self.work}"', '-c', 'c:',
                        '-c', 'CALL RUN.BAT', '-c', 'exit'], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)

    def outcome(self, n):
        """Run n's errorlevel (0, 1, or 2 for 2 and over), what it said, and
        whether it left graphics mode on."""
        level = 2 if self.read(f'F{n}.TXT').strip() else 1 if self.read(f'E{n}.TXT').strip() else 0
        said, graphics = self.read(f'M{n}.TXT').decode('latin-1'), self.read(f'V{n}.TXT').strip()
        return level, said, bool(graphics)


def painted(case, sprites, background):
    screen = bytearray([background]) * PAGE
    for name, position in sprites:
        rows = case.images[name][:255]
        width, height = len(rows[0]), len(rows)
        x, y = position or (int((W - width) / 2), int((H - height) / 2))  # as C divides
        for r in range(max(0, -y), min(height, H - y)):
            for c in range(max(0, -x), min(width, W - x)):
                if rows[r][c]:
                    screen[(y + r) * W + x + c] = rows[r][c]
    return bytes(screen)


def check_draws(case):
    rng = random.Random(9)
    palette = bytes(rng.randrange(256) for _ in range(768))
    case.write('R.PAL', palette)
    case.compile('S.KOB', os.path.join(EXAMPLES, 'slime.pcx'), ('-p', case.path('S.PAL')))
    sizes = {'A': (37, 23), 'B': (64, 41), 'C': (511, 256), 'D': (2, 2), 'E': (330, 250), 'F': (5, 3)}
    for seed, (name, size) in enumerate(sizes.items()):
        case.add_random(name + '.KOB', seed, *size, palette)
    A, B, C, D, E, F, S = (name + '.KOB' for name in 'ABCDEFS')
    plans = [  # (palette, sprites at their positions, None for centred)
        ('S.PAL', [(S, None)]),
        ('R.PAL', [(A, (100, 50)), (A, (141, 50)), (A, (182, 50)), (A, (223, 61)), (F, (7, 7)), (F, (9, 9)),
                   (D, (318, 238)), (D, (-1, -1))]),
        ('R.PAL', [(B, (-10, 100)), (B, (290, 100)), (B, (101, -20)), (B, (102, 220)), (B, (-63, -40))]),
        ('R.PAL', [(B, (319, 239)), (B, (-64, 0)), (B, (320, 0)), (B, (0, -41)), (B, (3, 203))]),
        ('R.PAL', [(C, (-100, -7)), (E, None), (S, (-5, -3)), (C, (-3, -2)), (A, (0, 240)), (A, (-37, 5)),
                   (C, (-32768, 32767))]),
        ('R.PAL', [(rng.choice([A, B, C, E, F]), (rng.randrange(-300, 330), rng.randrange(-260, 250)))
                   for _ in range(6)]),
        (None, [(A, (-5, 0))]),  # no /P, no /B: the mode's palette, background 0
    ]
    for n, (pal, sprites) in enumerate(plans):
        options = f'/P:{pal} /B:{BACKGROUND} ' if pal else ''
        case.run(options + f'/D:D{n}.BIN ' + ' '.join(s + (f'@{p[0]},{p[1]}' if p else '') for s, p in sprites))
    case.run('S.KOB@-9,-9', key=True)  # waits for the key, then ends in text mode
    case.start_dosbox()
    failures = []
    if case.outcome(len(plans)) != (0, '', False):
        failures.append(f'without /D: errorlevel, said, graphics {case.outcome(len(plans))}')
    for n, (pal, sprites) in enumerate(plans):
        level, said, graphics = case.outcome(n)
        dump, expected = case.read(f'D{n}.BIN'), painted(case, sprites, BACKGROUND if pal else 0)
        wrong = [i for i in range(min(len(dump), PAGE)) if dump[i] != expected[i]]
        if level or said or graphics or len(dump) != PAGE + 768:
            failures.append(f'{case.runs[n][0]}: errorlevel {level}, graphics {graphics}, said {said!r}, '
                            f'{len(dump)} bytes')
        elif wrong:
            failures.append(f'D{n}.BIN: {len(wrong)} pixels differ, the first at {wrong[0] % W},{wrong[0] // W}')
        elif pal and dump[PAGE:] != bytes(c >> 2 for c in case.read(pal)):
            failures.append(f'D{n}.BIN: the DAC is not the palette shifted right by 2')
    return failures


def check_refuses(case):
    case.compile('S.KOB', os.path.join(EXAMPLES, 'slime.pcx'), ('-p', case.path('S.PAL')))
    good = case.read('S.KOB')
    broken = {'MAGIC.KOB': b'k' + good[1:], 'SHORT.KOB': good[:len(good) // 2], 'TAIL.KOB': good + b'\0\0\0',
              'OVER.KOB': good[:17] + bytes([good[17] + 1]) + good[18:]}  # strip 0 skips a row too many
    rows = []  # (command tail, the console line)
    for name, data in broken.items():
        case.write(name, data)
        kob2pcx = subprocess.run([case.kob2pcx, '-i', name, '-o', 'X.PCX'], cwd=case.work, capture_output=True,
                                 text=True)
        rows.append((f'/D:X.BIN S.KOB@1,1 {name}@-3,4', kob2pcx.stderr.strip()))
    case.write('P767.PAL', case.read('S.PAL')[:767])
    rows += [
        ('/D:X.BIN NONE.KOB', "Cannot open sprite file 'NONE.KOB'"),
        ('/D:X.BIN /P:P767.PAL S.KOB', "Bad palette file 'P767.PAL': 767 bytes, a palette is 768"),
        ('/D:X.BIN /P:NONE.PAL S.KOB', "Cannot open palette file 'NONE.PAL'"),
        ('/D:X.BIN /Q:1 S.KOB', "Bad switch '/Q:1'"),
        ('/D:X.BIN /B:256 S.KOB', "Bad switch '/B:256'"),
        ('/D:X.BIN S.KOB@1', "Bad position 'S.KOB@1'"),
        ('/D:X.BIN S.KOB@1,x', "Bad position 'S.KOB@1,x'"),
        ('/D:X.BIN S.KOB@40000,0', "Bad position 'S.KOB@40000,0'"),
        ('/D:X.BIN S.KOB@1,2,3', "Bad position 'S.KOB@1,2,3'"),
        ('/D:X.BIN ' + ' '.join(['S.KOB'] * 9), 'Too many sprites: at most 8'),
        ('/D:X.BIN', 'Usage: KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] sprite[@x,y] ...'),
        ('/D:s.kob S.KOB@0,0', "Dump file 's.kob' is also an input"),
    ]
    for tail, _ in rows:
        case.run(tail)
    case.start_dosbox()
    failures = []
    for n, (tail, expected) in enumerate(rows):
        level, said, graphics = case.outcome(n)
        if level != 1 or graphics or said != expected + '\r\n' or not expected:
            failures.append(f'{tail}: errorlevel {level}, graphics {graphics}, said {said!r}, not {expected!r}')
    if os.path.exists(case.path('X.BIN')) or case.read('S.KOB') != good:
        failures.append('a dump was written')
    return failures


def main():
    what, pcx2kob, kob2pcx, kobview, work = sys.argv[1:6]
    case = Case(*(os.path.abspath(path) for path in (pcx2kob, kob2pcx, kobview, work)))
    failures = (check_draws if what == 'draws' else check_refuses)(case)
    print('\n'.join(failures + [f'{len(case.runs)} KOBVIEW runs, {len(failures)} failed']))
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
