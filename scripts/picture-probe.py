#!/usr/bin/env python3
"""Reads back a map of the tape drawn by tapewren-scan --map, as a person would: by its axes.

Usage: scripts/picture-probe.py MAP.svg MAP.png QUERY...
MAP.png is MAP.svg rendered (rsvg-convert). Each QUERY is SECONDS,MICROSECONDS (a point in
the plot, placed by the axis labels of the SVG: the darkest pixel within three rows) or
SECONDS,band (the files' band at that time); for each one a line with the colour of the
rendered pixel there, as #rrggbb. For a histogram (--histogram), a QUERY is MICROSECONDS,bar
(just above the x axis: a bar or nothing) or MICROSECONDS,mark (near the top of the plot:
a mark's line or nothing), placed by the x axis labels.
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


def pixel(rows, channels, x, y):
    c = int(round(x)) * channels
    return "#%02x%02x%02x" % tuple(rows[int(round(y))][c:c + 3])


def histogram(svg, rows, channels, queries):
    ticks = [(float(us), float(x)) for x, us in re.findall(
        r'<text x="([\d.]+)" y="[\d.]+" text-anchor="middle">([\d.]+)</text>', svg)]
    axis = re.search(r'<line x1="[\d.]+" y1="([\d.]+)" x2="[\d.]+" y2="[\d.]+" stroke="black"/>\n'
                     r'<line x1="[\d.]+" y1="([\d.]+)"', svg)
    bottom, top = float(axis.group(1)), float(axis.group(2))
    x_of = fit(ticks)
    for q in queries:
        us, where = q.split(",")
        x = x_of(float(us))
        if where == "bar":
            print(pixel(rows, channels, x, bottom - 3))
            continue
        # A mark's line is a pixel or two wide and may be dashed: the reddest pixel within two
        # columns, in the upper part of the plot.
        colours = [pixel(rows, channels, x + dx, y) for dx in (-2, -1, 0, 1, 2)
                   for y in range(int(top) + 20, int(top) + 60)]
        print(min(colours, key=lambda c: int(c[3:5], 16) - int(c[1:3], 16)))


def main():
    svg = open(sys.argv[1]).read()
    rows, channels = read_png(sys.argv[2])
    if "Pulse lengths of" in svg:
        return histogram(svg, rows, channels, sys.argv[3:])
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
