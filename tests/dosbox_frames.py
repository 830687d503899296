#!/usr/bin/env python3
"""dosbox_frames.py <FRAMES.COM> <work dir>: modex_show's frames passed, in DOSBox.

FRAMES.COM lets a known number of retraces go by before each modex_show; each call must return that number and one,
and the program end in text mode."""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from dosbox_kobview import FILES

EXPECTED = '1 1 2 3 4 6 1 21 1'  # tests/frames.c's `late`, plus one

if __name__ == '__main__':
    frames, work = (Path(arg).resolve() for arg in sys.argv[1:3])
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    shutil.copy(frames, work / 'FRAMES.COM')
    for name, data in FILES.items():
        (work / name).write_bytes(data)
    (work / 'RUN.BAT').write_bytes(b'@echo off\r\nFRAMES > OUT.TXT\r\nVMODE\r\nIF ERRORLEVEL 4 ECHO G> V.TXT\r\n')
    env = dict(os.environ, SDL_VIDEODRIVER='dummy', SDL_AUDIODRIVER='dummy', HOME=str(work))
    subprocess.run(['dosbox', '-conf', work / 'DOSBOX.CNF', '-c', f'mount c "{work}"', '-c', 'c:', '-c',
                    'CALL RUN.BAT', '-c', 'exit'], env=env, capture_output=True, timeout=120, check=True)
    said = (work / 'OUT.TXT').read_text().strip() if (work / 'OUT.TXT').exists() else ''
    graphics = (work / 'V.TXT').exists() and (work / 'V.TXT').read_text().strip() == 'G'  # DOSBox makes the file anyway
    print(f'returned {said!r}, expected {EXPECTED!r}' + (', left in graphics mode' if graphics else ''))
    sys.exit(0 if said == EXPECTED and not graphics else 1)
