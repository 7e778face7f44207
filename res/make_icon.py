#!/usr/bin/env python3
"""Builds uninicon.ico from the pixel table uninicon.txt.

The table is 32 rows of 32 characters, top row first: a hexadecimal digit
is an index into the standard 16-colour palette, '.' is a transparent pixel.
The icon holds one image, 32x32 at 4 bits per pixel, so that Windows 95
shows it as drawn, with no colour reduction of its own.

    python3 res/make_icon.py [table] [icon]
    python3 res/make_icon.py --check       fails when uninicon.ico is out of date
"""
import os
import struct
import sys

SIZE = 32

# The standard 16-colour palette, in its usual order (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def read_table(path):
    rows = [line.rstrip('\n') for line in open(path, encoding='ascii')
            if line.strip() and not line.startswith('#')]
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        sys.exit(f'{path}: need {SIZE} rows of {SIZE} pixels')
    for r in rows:
        for c in r:
            if c != '.' and c not in '0123456789ABCDEF':
                sys.exit(f'{path}: bad pixel {c!r}')
    return rows


def icon_image(rows):
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, 2 * SIZE, 1, 4, 0,
                         SIZE * SIZE // 2, 0, 0, 0, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom row first
        indices = [0 if c == '.' else int(c, 16) for c in row]
        for x in range(0, SIZE, 2):
            colour.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for x, c in enumerate(row):
            if c == '.':
                bits |= 1 << (SIZE - 1 - x)
        mask += struct.pack('>I', bits)  # 32 pixels: one DWORD, no padding
    return header + palette + bytes(colour) + bytes(mask)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = [a for a in sys.argv[1:] if a != '--check']
    table = args[0] if len(args) > 0 else os.path.join(here, 'uninicon.txt')
    out = args[1] if len(args) > 1 else os.path.join(here, 'uninicon.ico')
    image = icon_image(read_table(table))
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    data = directory + entry + image
    if '--check' in sys.argv[1:]:
        if not os.path.exists(out) or open(out, 'rb').read() != data:
            sys.exit(f'{out} is out of date: run python3 res/make_icon.py')
        return
    with open(out, 'wb') as f:
        f.write(data)
    print(f'{out}: {6 + 16 + len(image)} bytes, image {len(image)} bytes')


if __name__ == '__main__':
    main()
