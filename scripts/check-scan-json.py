#!/usr/bin/env python3
"""Validates tapewren-scan --json output (JSON Lines on standard input) against the schema.

Usage: scripts/check-scan-json.py SCHEMA [--table]
Exit 0 when every line is one valid object, else 1 with the faults on standard error. With
--table, prints what the text report says, rebuilt from the JSON alone: each file's table row
and each recording's count line, so that a test can hold the two outputs against each other.
"""
import json
import sys

import jsonschema


def clock(seconds):
    s = int(seconds)
    return f"{s // 3600}:{s // 60 % 60:02d}:{s % 60:02d}" if s >= 3600 else f"{s // 60}:{s % 60:02d}"


def part(p):
    return "" if p is None else " ".join(c["state"] or "-" for c in p["copies"])


def row(f):
    address = lambda a: "" if a is None else f"${a:04X}"
    size = "" if f["size"] is None else str(f["size"])
    return (f"{f['number']:3d} {f['offset']:10d} {clock(f['seconds']):>7s}  {f['loader']:<10s} "
            f"{f['kind']:<9s} {f['name']:<16s} {address(f['start']):>5s} {address(f['end']):>5s} "
            f"{size:>5s}  {part(f['header']):<7s} {part(f['data']):<7s} {f['verdict_text']}")


def counts(o):
    return (f"{o['files']} files: {o['ok']} ok, {o['repaired']} repaired, {o['bad']} bad, "
            f"{o['incomplete']} incomplete, {o['named_only']} named only" +
            (f", {o['unverified']} unverified" if o['unverified'] else ""))


def percent(part, whole):
    return f"{100 * part / whole if whole > 0 else 0:.1f} %"


def shares(o):
    other = max(0.0, o["seconds"] - o["block_seconds"] - o["pause_seconds"])
    return (f"{clock(o['seconds'])} of tape: {percent(o['block_seconds'], o['seconds'])} in blocks, "
            f"{percent(o['pause_seconds'], o['seconds'])} pauses, {percent(other, o['seconds'])} not "
            f"recognised; {o['pulses']} pulses: {percent(o['block_pulses'], o['pulses'])} in blocks")


def columns(o):
    address = lambda a: "" if a is None else f"${a:04X}"
    size = "" if o["size"] is None else str(o["size"])
    return (f"{o['number']:3d} {o['loader']:<10s} {o['kind']:<9s} {o['name']:<16s} "
            f"{address(o['start']):>5s} {address(o['end']):>5s} {size:>5s}")


def several(o, rows, cell, last, tail):
    """The table of --merge or --compare: the recordings, then a row per file."""
    plural = lambda n, what: f"{n} {what}" + ("" if n == 1 else "s")
    for t in o["recordings"]:
        print(f"{t['label']}: {t['recording']}: {plural(t['files'], 'file')}, {t['good']} good; "
              f"fingerprint {t['fingerprint']}")
    cells = [", ".join(f"{c['label']}: {cell(c)}" for c in r["copies"]) for r in rows]
    width = max([len(c) for c in cells] + [0])
    print(f"{'#':>3s} {'loader':<10s} {'type':<9s} {'name':<16s} {'start':>5s} {'end':>5s} "
          f"{'size':>5s}  {'copies'.ljust(width)}  {last}")
    for r, c in zip(rows, cells):
        print(f"{columns(r)}  {c.ljust(width)}  {tail(r)}")


def main():
    schema = json.load(open(sys.argv[1]))
    table = "--table" in sys.argv[2:]
    validator = jsonschema.Draft202012Validator(schema)
    jsonschema.Draft202012Validator.check_schema(schema)
    faults = 0
    rows = []  # merged or compared files, until the object of the whole
    for number, line in enumerate(sys.stdin, 1):
        try:
            o = json.loads(line)
        except json.JSONDecodeError as e:
            print(f"line {number}: not JSON: {e}", file=sys.stderr)
            faults += 1
            continue
        for e in validator.iter_errors(o):
            print(f"line {number}: {e.json_path}: {e.message}", file=sys.stderr)
            faults += 1
        if not table:
            continue
        kind = o.get("type")
        if kind == "file":
            print(row(o))
        elif kind == "recording":
            print(f"{counts(o)}; fingerprint {o['fingerprint']}")
            print(shares(o))
            share = (o["block_seconds"] + o["pause_seconds"]) / o["seconds"] if o["seconds"] else 0
            if abs(share - o["recognised_share"]) > 1e-5:
                print(f"line {number}: recognised_share {o['recognised_share']}, blocks and pauses "
                      f"make {share:.6f}", file=sys.stderr)
                faults += 1
        elif kind in ("merged_file", "compared_file"):
            rows.append(o)
        elif kind == "merge":
            several(o, rows, lambda c: c["held"] or "-", "crc32     merged",
                    lambda r: f"{r['crc32']}  {r['verdict_text']}")
            print(f"{counts(o)}; fingerprint {o['fingerprint']}")
            n = o["only_by_merging"]
            print(f"{n} file{'' if n == 1 else 's'} recovered only by merging")
            flagged = sum(r["only_by_merging"] for r in rows)
            if flagged != n:
                print(f"line {number}: {n} files only by merging, {flagged} merged files say so",
                      file=sys.stderr)
                faults += 1
            rows = []
        elif kind == "comparison":
            several(o, rows,
                    lambda c: c["crc32"] if c["state"] == "good" else "-" if c["state"] == "missing"
                    else c["state"], "same",
                    lambda r: "same" if r["same"] else f"differ at byte {r['differ_at']}"
                    if r["differ_at"] is not None else "not good in every recording")
            print(f"the recordings hold the same {o['files']} files" if o["same"] else
                  f"the recordings differ in {o['differ']} of {o['files']} files")
            rows = []
        elif kind == "totals":
            print(f"total: {o['recordings']} recordings, {o['unreadable']} unreadable, "
                  f"{o['with_bad_files']} with bad or incomplete files, {o['without_files']} "
                  f"without files; {counts(o)}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
