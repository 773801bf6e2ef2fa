#!/usr/bin/env python3
"""Checks core/uitext.tsv, the interface texts compiled into the program.

Usage: check_uitext.py [path-to-uitext.tsv]

Exits 0 when the file is sound, 1 (after listing every problem) when it is not.
"""

import re
import sys
from pathlib import Path

MAX_ROW = 2047         # last row of the table (rows above 616 are added by later work)
LANGS = ("Simplified Chinese", "English", "Traditional Chinese", "Japanese")
EN = 1

PLACEHOLDER = re.compile(r"%[1-6]")


def escapes_ok(cell):
    # The loader only knows \\n, \\r, \\t and \\\\; any other backslash would lose a character.
    # Walk the cell so that "\\n" counts as an escaped backslash followed by a plain n.
    i = 0
    while i < len(cell):
        if cell[i] == "\\":
            if i + 1 >= len(cell) or cell[i + 1] not in "nrt\\":
                return False
            i += 2
        else:
            i += 1
    return True


def check(path):
    problems = []
    raw = Path(path).read_bytes()
    if raw.startswith(b"\xef\xbb\xbf"):
        problems.append("file starts with a byte-order mark")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as err:
        return ["not valid UTF-8: %s" % err]

    last = -1
    seen = set()
    rows = 0
    for lineno, line in enumerate(text.split("\n"), 1):
        if line == "" or line.startswith("#"):
            continue
        where = "line %d" % lineno
        if "\r" in line:
            problems.append("%s: raw carriage return (write it as \\r)" % where)
        fields = line.split("\t")
        if len(fields) != 1 + len(LANGS):
            problems.append("%s: %d fields, want %d" % (where, len(fields), 1 + len(LANGS)))
            continue
        if not re.fullmatch(r"0|[1-9][0-9]*", fields[0]):
            problems.append("%s: row number %r is not a number" % (where, fields[0]))
            continue
        row = int(fields[0])
        where = "row %d (line %d)" % (row, lineno)
        rows += 1
        if row > MAX_ROW:
            problems.append("%s: beyond the last row %d" % (where, MAX_ROW))
        if row in seen:
            problems.append("%s: row listed twice" % where)
        elif row < last:
            problems.append("%s: rows out of order (after row %d)" % (where, last))
        seen.add(row)
        last = row

        cells = fields[1:]
        for lang, cell in zip(LANGS, cells):
            if not escapes_ok(cell):
                problems.append("%s: %s has a stray backslash" % (where, lang))

        english = cells[EN]
        if english == "":
            # A few rows have no English; there is nothing to compare the others against.
            continue
        want = sorted(PLACEHOLDER.findall(english))
        for lang, cell in zip(LANGS, cells):
            if cell and sorted(PLACEHOLDER.findall(cell)) != want:
                problems.append("%s: %s placeholders %s, English has %s"
                                % (where, lang, sorted(PLACEHOLDER.findall(cell)), want))

        # Fragments are glued onto a running change description, so each language must open
        # with its own comma or the record line reads as one run-on word.
        if english.startswith(",") or english.startswith("\uff0c"):
            for idx, mark in ((0, "\uff0c"), (2, "\uff0c"), (3, "\u3001")):
                if not cells[idx].startswith(mark):
                    problems.append("%s: %s fragment must start with %s"
                                    % (where, LANGS[idx], mark))
    if rows == 0:
        problems.append("no rows at all")
    return problems


def main(argv):
    path = argv[1] if len(argv) > 1 else Path(__file__).resolve().parent.parent / "core" / "uitext.tsv"
    problems = check(path)
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print("%s: %d problem(s)" % (path, len(problems)), file=sys.stderr)
        return 1
    print("%s: ok" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
