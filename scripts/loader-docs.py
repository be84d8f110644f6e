#!/usr/bin/env python3
"""Writes the README's and the manual page's loader tables from the program's own listing.

Usage: scripts/loader-docs.py [--check] SCAN README.md tapewren-scan.1
SCAN is the built tapewren-scan; its --loaders listing (columns two spaces or more apart, a
header line first) is the one source. Each document holds its table between two marker
lines; the script rewrites what is between them. With --check it writes nothing and exits 1,
showing the difference, when a document is not what the listing makes of it (a test runs it
so): a loader added, renamed or described anew is in the docs once `make` has run it again.
"""
import difflib
import re
import subprocess
import sys

MARKS = {
    "md": ("<!-- loaders: written by scripts/loader-docs.py from tapewren-scan --loaders -->",
           "<!-- end of loaders -->"),
    "man": ('.\\" loaders: written by scripts/loader-docs.py from tapewren-scan --loaders',
            '.\\" end of loaders'),
}


def listing(scan):
    lines = subprocess.run([scan, "--loaders"], capture_output=True, text=True,
                           check=True).stdout.splitlines()
    rows = [re.split(r"  +", line.rstrip()) for line in lines if line.strip()]
    width = len(rows[0])
    for row in rows:
        if len(row) != width:
            sys.exit(f"{scan} --loaders: a line of {len(row)} columns, not {width}: {row}")
    return rows[0], rows[1:]


def markdown(head, rows):
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in rows:
        cells = ["`" + row[0] + "`"] + [c.replace("|", "\\|") for c in row[1:]]
        out.append("| " + " | ".join(cells) + " |")
    return out


def man(head, rows):
    def text(s):
        s = s.replace("\\", "\\e").replace("-", "\\-")
        return "\\&" + s if s[:1] in (".", "'") else s
    out = []
    for row in rows:
        out += [".TP", ".B " + text(row[0])]
        fields = [f"{head[i]}: {row[i]}" for i in range(1, len(row) - 1)]
        fields[0] = fields[0][:1].upper() + fields[0][1:]
        out.append(text(row[-1][:1].upper() + row[-1][1:] + ". " + "; ".join(fields) + "."))
    return out


def rewrite(path, kind, body, check):
    old = open(path, encoding="utf-8").read().split("\n")
    begin, end = MARKS[kind]
    try:
        a, b = old.index(begin), old.index(end)
    except ValueError:
        sys.exit(f"{path}: the marker lines of the loader table are missing")
    new = old[:a + 1] + body + old[b:]
    if new == old:
        return True
    if check:
        sys.stdout.writelines(difflib.unified_diff([l + "\n" for l in old], [l + "\n" for l in new],
                                                   path, "from tapewren-scan --loaders"))
        return False
    open(path, "w", encoding="utf-8").write("\n".join(new))
    print(f"{path}: loader table written")
    return True


def main():
    args = sys.argv[1:]
    check = args[:1] == ["--check"]
    if check:
        args = args[1:]
    if len(args) != 3:
        sys.exit(__doc__)
    head, rows = listing(args[0])
    same = rewrite(args[1], "md", markdown(head, rows), check)
    same = rewrite(args[2], "man", man(head, rows), check) and same
    if not same:
        print("the loader tables differ from the listing: run scripts/loader-docs.py "
              "BUILD/tapewren-scan README.md docs/man/tapewren-scan.1")
    sys.exit(0 if same else 1)


if __name__ == "__main__":
    main()
