#!/usr/bin/env python3
"""Reads back a map of the tape drawn by tapewren-scan --map, as a person would: by its axes.

Usage: scripts/picture-probe.py MAP.svg MAP.png QUERY...
MAP.png is MAP.svg rendered (rsvg-convert). Each QUERY is SECONDS,MICROSECONDS (a point in
the plot, placed by the axis labels of the SVG: the darkest pixel within three rows) or SECONDS,band (the files' band at that
time); for each one a line with the colour of the rendered pixel there, as #rrggbb.
"""
import re
import struct
import sys
import zlib


def read_png(path):
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    at, idat, width = 8, b"", 0
    while at < len(data):
        n, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + n]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), "8-bit RGB or RGBA only"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        at += 12 + n
    raw, stride = zlib.decompress(idat), width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return rows, channels


def fit(pairs):
    (v0, p0), (v1, p1) = pairs[0], pairs[-1]
    return lambda v: p0 + (p1 - p0) * (v - v0) / (v1 - v0)


def main():
    svg = open(sys.argv[1]).read()
    rows, channels = read_png(sys.argv[2])
    times = [(int(m) * 60 + int(s), float(x)) for x, m, s in re.findall(
        r'<text x="([\d.]+)" y="[\d.]+" text-anchor="middle">(\d+):(\d\d)</text>', svg)]
    lengths = [(float(us), float(y) - 4) for y, us in re.findall(
        r'<text x="[\d.]+" y="([\d.]+)" text-anchor="end">([\d.]+)</text>', svg)]
    band = re.search(r'<text x="[\d.]+" y="([\d.]+)">files</text>', svg)
    x_of, y_of = fit(times), fit(lengths)
    for q in sys.argv[3:]:
        t, where = q.split(",")
        x = x_of(float(t))
        y = float(band.group(1)) + 6 + 8 if where == "band" else y_of(float(where))
        # In the plot, the darkest pixel within 3 of the point: a class is a few rows thick.
        reach = 0 if where == "band" else 3
        c = int(round(x)) * channels
        px = min((rows[int(round(y)) + d][c:c + 3] for d in range(-reach, reach + 1)), key=sum)
        print("#%02x%02x%02x" % tuple(px))


if __name__ == "__main__":
    main()
