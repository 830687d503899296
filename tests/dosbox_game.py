#!/usr/bin/env python3
"""dosbox_game.py <pcx2kob> <kob2pcx> <SLIMES.COM> <sheet.pcx> <work dir>: the example game in one DOSBox start.

Each run that plays dumps the page on screen after a fixed number of frames; it must be the picture painted from
the sheet's pixels: the sky and ground the game describes, and the slimes where their motion puts them, clipped,
later ones on top, the marker of their feet transparent. Each run given missing or broken files must say one line,
end with errorlevel 1 in text mode, and write no dump."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parent.parent / 'examples'
sys.path.insert(0, str(EXAMPLES))
from make_example import pcx_file  # noqa: E402  (the project's own PCX writer)

W, H = 320, 240
CELL_W, CELL_H, FRAMES, FRAME_TICKS, SLIMES = 48, 40, 4, 6, 8
SKY, SKY_SHADES, GROUND, HORIZON, MARK = 32, 16, 48, 200, 5
CONF = (b'[sdl]\noutput=surface\n[dosbox]\nmachine=vgaonly\n[cpu]\ncycles=max\n[mixer]\nnosound=true\n'
        b'[sblaster]\nsbtype=none\n[speaker]\npcspeaker=false\n')
# mov ah,0Fh; int 10h; mov ah,4Ch; int 21h: the video mode as errorlevel.
VMODE = bytes([0xB4, 0x0F, 0xCD, 0x10, 0xB4, 0x4C, 0xCD, 0x21])


def pcx_rows(data):
    """The pixel rows of an 8-bit run-length PCX file."""
    xmin, ymin, xmax, ymax, stride = (int.from_bytes(data[o:o + 2], 'little') for o in (4, 6, 8, 10, 66))
    out, at = bytearray(), 128
    while len(out) < stride * (ymax - ymin + 1):
        count, at = (data[at] - 0xC0, at + 1) if data[at] >= 0xC0 else (1, at)
        out, at = out + data[at:at + 1] * count, at + 1
    return [out[y * stride:y * stride + xmax - xmin + 1] for y in range(ymax - ymin + 1)]


def background():
    screen = bytearray(W * H)
    for y in range(H):
        for x in range(W):
            screen[y * W + x] = SKY + y * SKY_SHADES // HORIZON if y < HORIZON else GROUND + (x // 16 + y // 8) % 2
    return screen


def step(at, speed, low, high):
    at += speed
    return (at + 2 * -speed, -speed) if at < low or at > high else (at, speed)


def painted(sheet, frames):
    """The page on screen after `frames` frames: each slime's cell with its top-left corner where the game's rules
    of motion put it (its feet, the hotspot, 24 and 37 pixels further)."""
    slimes = [[10 + 37 * i, 5 + 23 * i, 1 + i % 3, -1 - i % 3 if i % 2 else 1 + i % 2] for i in range(SLIMES)]
    for _ in range(frames - 1):
        for s in slimes:
            s[0], s[2] = step(s[0], s[2], -CELL_W // 2, W - CELL_W // 2)
            s[1], s[3] = step(s[1], s[3], -20, H - 20)
    screen, tick = background(), frames - 1
    for i, (x, y, _, _) in enumerate(slimes):
        cell = (tick // FRAME_TICKS + i) % FRAMES
        for r in range(max(0, -y), min(CELL_H, H - y)):
            for c in range(max(0, -x), min(CELL_W, W - x)):
                pixel = sheet[r][cell * CELL_W + c]
                screen[(y + r) * W + x + c] = pixel if pixel not in (0, MARK) else screen[(y + r) * W + x + c]
    return bytes(screen)


def main(pcx2kob, kob2pcx, slimes_com, sheet_pcx, work):
    shutil.rmtree(work, ignore_errors=True)
    good = work / 'GOOD'
    good.mkdir(parents=True)
    (work / 'DOSBOX.CNF').write_bytes(CONF)
    (work / 'VMODE.COM').write_bytes(VMODE)
    shutil.copy(slimes_com, work / 'SLIMES.COM')
    subprocess.run([pcx2kob, '-i', sheet_pcx, '-grid', f'{CELL_W}x{CELL_H}', '-bank', good / 'SLIME.KBK', '-mark',
                    str(MARK), '-p', good / 'SLIME.PAL'], check=True)
    # Sound banks of cells one column wider than the game's strip tables, and of one frame.
    (work / 'W.PCX').write_bytes(pcx_file([1] * (CELL_W + 1) * 2, CELL_W + 1, 2, bytes(768)))
    subprocess.run([pcx2kob, '-i', work / 'W.PCX', '-bank', work / 'W.KBK'], check=True)
    subprocess.run([pcx2kob, '-i', EXAMPLES / 'slime.pcx', '-bank', work / 'ONE.KBK'], check=True)
    bank = (good / 'SLIME.KBK').read_bytes()
    first = 16 + 16 * FRAMES + 17  # the skip of frame 0's sprite's first record
    cases = {  # directory: (files replaced, None to leave out; the command tail; the line it must say)
        'MISSING': ({'SLIME.KBK': None}, '5 D.BIN', "Cannot open bank file 'SLIME.KBK'"),
        'NOPAL': ({'SLIME.PAL': None}, '5 D.BIN', "Cannot open palette file 'SLIME.PAL'"),
        'SHORTPAL': ({'SLIME.PAL': bytes(767)}, '5 D.BIN', "Bad palette file 'SLIME.PAL': not 768 bytes"),
        'OVER': ({'SLIME.KBK': bank[:first] + bytes([bank[first] + 1]) + bank[first + 1:]}, '5 D.BIN', None),
        'TAIL': ({'SLIME.KBK': bank + b'\0'}, '5 D.BIN', None),
        'MAGIC': ({'SLIME.KBK': b'k' + bank[1:]}, '5 D.BIN', "Bad bank file 'SLIME.KBK': no KOBBVGAX magic (byte 0)"),
        'WIDE': ({'SLIME.KBK': (work / 'W.KBK').read_bytes()}, '5 D.BIN',
                 "Bad bank file 'SLIME.KBK': cells 49 wide, wider than the game's 48"),
        'ONE': ({'SLIME.KBK': (work / 'ONE.KBK').read_bytes()}, '5 D.BIN', "Bad bank file 'SLIME.KBK': no frame 1"),
        'BIG': ({'SLIME.KBK': bank + bytes(8192)}, '5 D.BIN', "Bad bank file 'SLIME.KBK': over 8192 bytes"),
        'USAGE': ({}, '0 D.BIN', 'Usage: SLIMES [frames [dumpfile]]'),
        'USAGE2': ({}, '5 D.BIN X', 'Usage: SLIMES [frames [dumpfile]]'),
    }
    runs = [('GOOD', '1 D1.BIN'), ('GOOD', '60 D60.BIN')] + [(name, tail) for name, (_, tail, _) in cases.items()]
    for name, (files, _, said) in cases.items():
        shutil.copytree(good, work / name)
        for file, data in files.items():
            (work / name / file).unlink()
            if data is not None:
                (work / name / file).write_bytes(data)
        if said is None:  # worded as kob2pcx words the same file
            file = next(iter(files))
            said = subprocess.run([kob2pcx, '-i', file, '-o', 'X.PCX'], cwd=work / name, capture_output=True,
                                  text=True).stderr.strip()
            cases[name] = (files, _, said)
    lines = ['@echo off']
    for n, (directory, tail) in enumerate(runs):
        # DOSBox creates the file of ECHO x> even when the IF is false, so the checks read it.
        lines += [f'CD {directory}', f'..\\SLIMES {tail} > ..\\M{n}.TXT', f'IF ERRORLEVEL 1 ECHO 1> ..\\E{n}.TXT',
                  '..\\VMODE', f'IF ERRORLEVEL 4 ECHO G> ..\\V{n}.TXT', 'CD ..']
    (work / 'RUN.BAT').write_bytes(('\r\n'.join(lines) + '\r\n').encode())
    env = dict(os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy', HOME=str(work))
    subprocess.run(['dosbox', '-conf', work / 'DOSBOX.CNF', '-c', f'mount c "{work}"', '-c', 'c:', '-c',
                    'CALL RUN.BAT', '-c', 'exit'], env=env, capture_output=True, timeout=120, check=True)

    def read(path):
        return path.read_bytes() if path.exists() else b''

    sheet = pcx_rows(Path(sheet_pcx).read_bytes())
    failures = []
    for n, (directory, tail) in enumerate(runs):
        said = read(work / f'M{n}.TXT').decode('latin-1')
        flags = ''.join(read(work / f'{f}{n}.TXT').decode().strip() for f in 'EV')
        dump = read(work / directory / tail.split()[1]) if len(tail.split()) > 1 else b''
        if directory == 'GOOD':
            expected = painted(sheet, int(tail.split()[0]))
            wrong = [i for i in range(min(len(dump), len(expected))) if dump[i] != expected[i]]
            if (said, flags, len(dump)) != ('', '', W * H) or wrong:
                failures.append(f'{tail}: said {said!r}, flags {flags!r}, {len(dump)} bytes, {len(wrong)} differ'
                                f' (first {wrong[:1]})')
        elif (said, flags, dump) != (cases[directory][2] + '\r\n', '1', b''):
            failures.append(f'{directory} {tail}: said {said!r}, flags {flags!r}, {len(dump)} bytes dumped,'
                            f' not {cases[directory][2]!r}')
    print('\n'.join(failures + [f'{len(runs)} SLIMES runs, {len(failures)} failed']))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main(*(Path(arg).resolve() for arg in sys.argv[1:6])))
