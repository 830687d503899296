#!/usr/bin/env python3
"""check_listing.py <doc.md> <source>: the doc's one listing marked with the source's name is that file, byte for
byte."""
import sys
from pathlib import Path

doc, source = Path(sys.argv[1]).read_text(), Path(sys.argv[2])
marker = f'the listing below is {source.parent.name}/{source.name}'
if marker not in doc:
    sys.exit(f'{sys.argv[1]}: no listing marked "{marker}"')
listing = doc.split(marker, 1)[1].split('```c\n', 1)[1].split('\n```', 1)[0] + '\n'
if listing != source.read_text():
    sys.exit(f'{sys.argv[1]}: the listing is not {source}')
print(f'{sys.argv[1]}: the listing is {source}')
