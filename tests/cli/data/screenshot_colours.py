#!/usr/bin/env python3
"""Counts the pixels of given colours in a PNG screenshot (standard library
only) and prints one count per colour: used to check that a page's pictures
were drawn by the browser."""
import struct
import sys
import zlib


def pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise SystemExit("not a PNG file")
    at, idat, width, height, colour_type, depth = 8, b"", 0, 0, 0, 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour_type = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    if depth != 8 or colour_type not in (2, 6):
        raise SystemExit("unexpected PNG layout")
    bpp = 3 if colour_type == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return rows, bpp


def main():
    rows, bpp = pixels(sys.argv[1])
    colours = [tuple(int(c[i:i + 2], 16) for i in (0, 2, 4)) for c in sys.argv[2:]]
    counts = [0] * len(colours)
    for line in rows:
        for x in range(0, len(line), bpp):
            px = tuple(line[x:x + 3])
            for k, col in enumerate(colours):
                if all(abs(px[j] - col[j]) <= 6 for j in range(3)):
                    counts[k] += 1
    print(" ".join(str(c) for c in counts))


main()
