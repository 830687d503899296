#!/usr/bin/env python3
"""Runs KOBVIEW.COM in DOSBox on sprites compiled by the real pcx2kob and
checks what it leaves behind.

  dosbox_kobview.py draws   <pcx2kob> <kob2pcx> <KOBVIEW.COM> <work dir>
  dosbox_kobview.py refuses <pcx2kob> <kob2pcx> <KOBVIEW.COM> <work dir>

`draws`: every dump must equal the picture painted straight from the source
images' pixels (every opaque pixel of the first 255 rows, clipped, later
sprites over earlier ones, on a background index no sprite uses) followed by
the palette shifted right by 2; every run ends with errorlevel 0 in text mode.
`refuses`: bad input ends with errorlevel 1 in text mode, the console line
kob2pcx would give for the same sprite, and no dump.

Each case is one DOSBox start running one batch file of many KOBVIEW runs."""
import os
import random
import shutil
import subprocess
import sys

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'examples')
sys.path.insert(0, EXAMPLES)
from make_example import pcx_file  # noqa: E402  (the project's own PCX writer)

SCREEN_W, SCREEN_H = 320, 240
BACKGROUND = 250  # no image below uses it
CONFIG = """[sdl]
output=surface
[dosbox]
machine=vgaonly
[cpu]
core=normal
cycles=max
[mixer]
nosound=true
[sblaster]
sbtype=none
[gus]
gus=false
[speaker]
pcspeaker=false
tandy=off
[midi]
mpu401=none
"""
# mov ah,0Fh / int 10h / mov ah,4Ch / int 21h: exits with the video mode as
# its errorlevel (3 is text mode).
VIDEO_MODE_COM = bytes([0xB4, 0x0F, 0xCD, 0x10, 0xB4, 0x4C, 0xCD, 0x21])


def decode_pcx(data):
    """Pixels, width and height of an 8-bit run-length PCX file."""
    xmin, ymin, xmax, ymax = (int.from_bytes(data[o:o + 2], 'little') for o in (4, 6, 8, 10))
    stride = int.from_bytes(data[66:68], 'little')
    width, height = xmax - xmin + 1, ymax - ymin + 1
    out, at = bytearray(), 128
    while len(out) < stride * height:
        byte = data[at]
        at += 1
        if byte >= 0xC0:
            out += bytes([data[at]]) * (byte - 0xC0)
            at += 1
        else:
            out.append(byte)
    pixels = [out[y * stride:y * stride + width] for y in range(height)]
    return pixels, width, height


def random_image(seed, width, height):
    """Runs of colours 1-199 and transparency (0)."""
    rng = random.Random(seed)
    pixels, value = [], 0
    for _ in range(width * height):
        if rng.randrange(4) == 0:
            value = 0 if rng.randrange(3) == 0 else rng.randrange(1, 200)
        pixels.append(value)
    return pixels


class Case:
    def __init__(self, tools, work):
        self.pcx2kob, self.kob2pcx, self.kobview = tools
        self.work = work
        self.images = {}  # sprite file name -> rows of pixels
        self.runs = []    # (command tail, dump name or None)
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        shutil.copy(self.kobview, os.path.join(work, 'KOBVIEW.COM'))
        with open(os.path.join(work, 'VMODE.COM'), 'wb') as f:
            f.write(VIDEO_MODE_COM)

    def path(self, name):
        return os.path.join(self.work, name)

    def compile(self, name, pcx, palette=None):
        args = [self.pcx2kob, '-i', pcx, '-o', self.path(name)] + (['-p', self.path(palette)] if palette else [])
        subprocess.run(args, check=True)
        with open(pcx, 'rb') as f:
            self.images[name] = decode_pcx(f.read())[0]

    def add_random(self, name, seed, width, height, palette):
        pcx = self.path(name.replace('.KOB', '.PCX'))
        with open(pcx, 'wb') as f:
            f.write(pcx_file(random_image(seed, width, height), width, height, palette))
        self.compile(name, pcx)

    def run(self, tail, dump=None):
        assert len(tail) <= 126, tail  # DOS command tails hold 126 characters
        self.runs.append((tail, dump))

    def start_dosbox(self):
        lines = ['@echo off']
        for n, (tail, _) in enumerate(self.runs):
            # DOSBox creates the redirected file even when IF is false, so
            # the contents tell: '1' for errorlevel 1 or more, '2' for 2 or more.
            lines += [f'KOBVIEW {tail} > M{n}.TXT', f'IF ERRORLEVEL 1 ECHO 1> E{n}.TXT',
                      f'IF ERRORLEVEL 2 ECHO 2> F{n}.TXT', 'VMODE', f'IF ERRORLEVEL 4 ECHO G> V{n}.TXT']
        with open(self.path('RUN.BAT'), 'w') as f:
            f.write('\r\n'.join(lines) + '\r\n')
        with open(self.path('DOSBOX.CNF'), 'w') as f:
            f.write(CONFIG)
        env = dict(os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy', HOME=self.work)
        subprocess.run(['dosbox', '-conf', self.path('DOSBOX.CNF'), '-c', f'mount c "{self.work}"', '-c', 'c:',
                        '-c', 'CALL RUN.BAT', '-c', 'exit'], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120, check=True)

    def read(self, name, default=b''):
        try:
            with open(self.path(name), 'rb') as f:
                return f.read()
        except FileNotFoundError:
            return default

    def outcome(self, n):
        """(errorlevel 0, 1 or 2+, console text, still in graphics mode)"""
        level = 2 if self.read(f'F{n}.TXT').strip() else 1 if self.read(f'E{n}.TXT').strip() else 0
        return level, self.read(f'M{n}.TXT').decode('latin-1'), bool(self.read(f'V{n}.TXT').strip())


def painted(case, sprites, background):
    """The expected screen: each sprite's opaque pixels of its first 255
    rows, clipped, in order; a sprite without a position is centred."""
    screen = bytearray([background]) * (SCREEN_W * SCREEN_H)
    for name, position in sprites:
        rows = case.images[name][:255]
        width, height = len(rows[0]), len(rows)
        x, y = position if position else (int((SCREEN_W - width) / 2), int((SCREEN_H - height) / 2))
        for r in range(max(0, -y), min(height, SCREEN_H - y)):
            row = rows[r]
            for c in range(max(0, -x), min(width, SCREEN_W - x)):
                if row[c]:
                    screen[(y + r) * SCREEN_W + x + c] = row[c]
    return bytes(screen)


def check_draws(case):
    rng = random.Random(9)
    palette = bytes(rng.randrange(256) for _ in range(768))
    with open(case.path('R.PAL'), 'wb') as f:
        f.write(palette)
    case.compile('S.KOB', os.path.join(EXAMPLES, 'slime.pcx'), 'S.PAL')
    sizes = {'A.KOB': (37, 23), 'B.KOB': (64, 41), 'C.KOB': (511, 256), 'D.KOB': (2, 2), 'E.KOB': (330, 250),
             'F.KOB': (5, 3)}
    for seed, (name, (w, h)) in enumerate(sizes.items()):
        case.add_random(name, seed, w, h, palette)
    slime_palette = case.read('S.PAL')
    plans = [  # (palette file, its bytes, sprites with positions or None for centred)
        ('S.PAL', slime_palette, [('S.KOB', None)]),
        ('R.PAL', palette, [('A.KOB', (100, 50)), ('A.KOB', (141, 50)), ('A.KOB', (182, 50)), ('A.KOB', (223, 61)),
                            ('F.KOB', (7, 7)), ('F.KOB', (9, 9)), ('D.KOB', (318, 238)), ('D.KOB', (-1, -1))]),
        ('R.PAL', palette, [('B.KOB', (-10, 100)), ('B.KOB', (290, 100)), ('B.KOB', (101, -20)),
                            ('B.KOB', (102, 220)), ('B.KOB', (-63, -40))]),
        ('R.PAL', palette, [('B.KOB', (319, 239)), ('B.KOB', (-64, 0)), ('B.KOB', (320, 0)), ('B.KOB', (0, -41)),
                            ('B.KOB', (3, 203))]),
        ('R.PAL', palette, [('C.KOB', (-100, -7)), ('E.KOB', None), ('S.KOB', (-5, -3)), ('C.KOB', (-3, -2)),
                            ('A.KOB', (0, 240)), ('A.KOB', (-37, 5)), ('C.KOB', (-32768, 32767))]),
        ('R.PAL', palette, [(rng.choice(list(sizes)), (rng.randrange(-300, 330), rng.randrange(-260, 250)))
                            for _ in range(6)]),
    ]
    for n, (pal, colours, sprites) in enumerate(plans):
        names = ' '.join(name + (f'@{p[0]},{p[1]}' if p else '') for name, p in sprites)
        case.run(f'/P:{pal} /B:{BACKGROUND} /D:D{n}.BIN {names}', f'D{n}.BIN')
    case.run('/D:D9.BIN A.KOB@-5,0', 'D9.BIN')  # no /B, no /P: index 0, the mode's own palette
    case.start_dosbox()
    failures = []
    for n, (pal, colours, sprites) in enumerate(plans + [(None, None, [('A.KOB', (-5, 0))])]):
        dump_name = case.runs[n][1]
        level, text, graphics = case.outcome(n)
        dump = case.read(dump_name)
        expected = painted(case, sprites, BACKGROUND if pal else 0)
        if level != 0 or text or graphics:
            failures.append(f'{case.runs[n][0]}: errorlevel {level}, text mode {not graphics}, said {text!r}')
        elif len(dump) != SCREEN_W * SCREEN_H + 768:
            failures.append(f'{dump_name}: {len(dump)} bytes')
        elif dump[:SCREEN_W * SCREEN_H] != expected:
            wrong = [i for i in range(len(expected)) if dump[i] != expected[i]]
            i = wrong[0]
            failures.append(f'{dump_name}: {len(wrong)} pixels differ, first at ({i % SCREEN_W}, {i // SCREEN_W}):'
                            f' {dump[i]}, expected {expected[i]}')
        elif colours and dump[SCREEN_W * SCREEN_H:] != bytes(c >> 2 for c in colours):
            failures.append(f'{dump_name}: the DAC is not the palette shifted right by 2')
    return failures


def check_refuses(case):
    case.compile('S.KOB', os.path.join(EXAMPLES, 'slime.pcx'), 'S.PAL')
    good = case.read('S.KOB')
    broken = {
        'MAGIC.KOB': b'k' + good[1:],
        'SHORT.KOB': good[:len(good) // 2],
        'OVER.KOB': good[:17] + bytes([good[17] + 1]) + good[18:],  # the first record's skip one row too far
        'TAIL.KOB': good + b'\0\0\0',
    }
    for name, data in broken.items():
        with open(case.path(name), 'wb') as f:
            f.write(data)
    with open(case.path('P767.PAL'), 'wb') as f:
        f.write(case.read('S.PAL')[:767])
    rows = []  # (command tail, the console line)
    for name in broken:
        said = subprocess.run([case.kob2pcx, '-i', name, '-o', 'X.PCX'], cwd=case.work, capture_output=True,
                              text=True).stderr.strip()
        assert said.startswith("Bad sprite file '"), said
        rows.append((f'/D:X.BIN S.KOB@1,1 {name}@-3,4', said))
    rows += [
        ('/D:X.BIN NONE.KOB', "Cannot open sprite file 'NONE.KOB'"),
        ('/D:X.BIN /P:P767.PAL S.KOB', "Bad palette file 'P767.PAL': 767 bytes, a palette is 768"),
        ('/D:X.BIN /P:NONE.PAL S.KOB', "Cannot open palette file 'NONE.PAL'"),
        ('/D:X.BIN /Q:1 S.KOB', "Bad switch '/Q:1'"),
        ('/D:X.BIN /B:256 S.KOB', "Bad switch '/B:256'"),
        ('/D:X.BIN S.KOB@1', "Bad position 'S.KOB@1'"),
        ('/D:X.BIN S.KOB@1,x', "Bad position 'S.KOB@1,x'"),
        ('/D:X.BIN S.KOB@40000,0', "Bad position 'S.KOB@40000,0'"),
        ('/D:X.BIN ' + ' '.join(['S.KOB'] * 9), 'Too many sprites: at most 8'),
        ('/D:X.BIN', 'Usage: KOBVIEW [/P:palette] [/B:index] [/D:dumpfile] sprite[@x,y] ...'),
        ('/D:s.kob S.KOB@0,0', "Dump file 's.kob' is also an input"),
    ]
    for tail, _ in rows:
        case.run(tail)
    case.start_dosbox()
    failures = []
    for n, (tail, said) in enumerate(rows):
        level, text, graphics = case.outcome(n)
        if level != 1 or graphics or text != said + '\r\n':
            failures.append(f'{tail}: errorlevel {level}, text mode {not graphics}, said {text!r}, not {said!r}')
    if os.path.exists(case.path('X.BIN')):
        failures.append('a dump was written')
    if case.read('S.KOB') != good:
        failures.append('the dump overwrote a sprite')
    return failures


def main():
    what, pcx2kob, kob2pcx, kobview, work = sys.argv[1:6]
    case = Case([os.path.abspath(tool) for tool in (pcx2kob, kob2pcx, kobview)], os.path.abspath(work))
    failures = (check_draws if what == 'draws' else check_refuses)(case)
    for failure in failures:
        print(failure)
    print(f'{len(case.runs)} KOBVIEW runs, {len(failures)} failed')
    sys.exit(1 if failures else 0)


if __name__ == '__main__':
    main()
