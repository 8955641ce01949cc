#!/usr/bin/python3
"""Reads a --xlsx workbook back with openpyxl and compares it cell by cell
with the --split CSV files of the same inputs.

  check_xlsx.py WORKBOOK SPLIT_DIR [ROWS_PER_SHEET]

Sheets: Summary, then the layouts with rows in the order of
tapelens_layouts.csv (catalogue order), each continued on "NAME (2)" ... past ROWS_PER_SHEET
rows (header included; 1048576 by default), then Rejects. Text cells equal
the CSV text; amounts are numbers equal to the CSV decimal, in a number
format with exactly their decimals; an amount that the CSV leaves empty
because it holds no number shows the input's bytes as text in a cell with a
fill, and its record is on Rejects; the header row is bold, frozen and
filtered, and column widths grow with the field widths. Prints what it
checked; exits 1 on the first difference.
"""
import csv
import re
import sys
from decimal import Decimal

import openpyxl

book_path, split = sys.argv[1], sys.argv[2]
per_sheet = int(sys.argv[3]) - 1 if len(sys.argv) > 3 else 1048575


def fail(*what):
    print("FAILED:", *what)
    sys.exit(1)


def rows_of(name):
    """The rows of SPLIT_DIR/name.csv; none where --split made no such file."""
    try:
        f = open("%s/%s.csv" % (split, name), newline="", encoding="utf-8")
    except FileNotFoundError:
        return []
    with f:
        return list(csv.DictReader(f))


# openpyxl hands inline strings back as stored; Excel and LibreOffice decode
# the _xHHHH_ escapes of OOXML text, so the comparison does too.
ESC = re.compile(r"_x([0-9A-Fa-f]{4})_")


def shown(v):
    return ESC.sub(lambda m: chr(int(m.group(1), 16)), v) if isinstance(v, str) else v


def record_text(raw):
    return "".join(chr(b) if 0x20 <= b < 0x7F else "\\x%02x" % b for b in raw)


def number_format(d):
    return "0" if d == 0 else "0." + "0" * d


files = rows_of("tapelens_files")
names = {r["file_id"]: r["name"] for r in files}
layouts = rows_of("tapelens_layouts")
columns = {}
for c in rows_of("tapelens_columns"):
    columns.setdefault(c["table_name"], []).append(c)
rejects = rows_of("tapelens_rejects")
raw_of = {(r["file_id"], r["line"]): bytes.fromhex(r["raw"][2:]) for r in rejects}

book = openpyxl.load_workbook(book_path)

# The sheets and their rows, as they must be.
parts = []
for lay in layouts:
    data = rows_of(lay["table_name"])
    # --split keeps the header of a layout whose rows were all dropped with
    # a failed document; the workbook makes no sheet without rows.
    for k in range(0, len(data), per_sheet):
        name = lay["table_name"] + ("" if k == 0 else " (%d)" % (k // per_sheet + 1))
        parts.append((name, lay, data[k:k + per_sheet]))
reject_parts = []
for k in range(0, max(len(rejects), 1), per_sheet):
    reject_parts.append(("Rejects" + ("" if k == 0 else " (%d)" % (k // per_sheet + 1)), rejects[k:k + per_sheet]))
want_names = ["Summary"] + [p[0] for p in parts] + [p[0] for p in reject_parts]
if book.sheetnames != want_names:
    fail("sheets", book.sheetnames, "expected", want_names)


def values(ws):
    return [[c for c in row] for row in ws.iter_rows()]


def check_frame(ws, header, nrows):
    """Header row, frozen, filtered, widths."""
    got = [shown(c.value) for c in next(ws.iter_rows(max_row=1))]
    if got != header:
        fail(ws.title, "header", got, header)
    if any(not c.font.b for c in next(ws.iter_rows(max_row=1))):
        fail(ws.title, "header not bold")
    if ws.freeze_panes != "A2":
        fail(ws.title, "frozen panes", ws.freeze_panes)
    want = "A1:%s%d" % (openpyxl.utils.get_column_letter(len(header)), nrows + 1)
    if ws.auto_filter.ref != want:
        fail(ws.title, "autofilter", ws.auto_filter.ref, want)
    if ws.max_row != nrows + 1:
        fail(ws.title, "rows", ws.max_row, nrows + 1)


# Summary: the inputs as tapelens_files, then the sheets of the layouts.
summary = [[c.value for c in row] for row in book["Summary"].iter_rows()]
if summary[0][:5] != ["name", "size", "digest", "records", "rejects"]:
    fail("Summary header", summary[0])
for f, row in zip(files, summary[1:]):
    want = [f["name"], int(f["size"]), f["digest"], int(f["records"]), int(f["rejects"])]
    if [shown(v) for v in row[:5]] != want:
        fail("Summary input", row, want)
at = 1 + len(files)
if any(v is not None for v in summary[at]) or summary[at + 1][:4] != ["sheet", "record key", "layout", "records"]:
    fail("Summary: sheets table header", summary[at:at + 2])
for (name, lay, data), row in zip(parts, summary[at + 2:]):
    want = [name, lay["record_key"], lay["name"] or None, len(data)]
    if [shown(v) for v in row[:4]] != want:
        fail("Summary sheet row", row, want)
if len(summary) != at + 2 + len(parts):
    fail("Summary rows", len(summary), at + 2 + len(parts))

# The layout sheets.
cells = styled = 0
for name, lay, data in parts:
    ws = book[name]
    cols = columns[lay["table_name"]][3:]
    check_frame(ws, ["file", "line", "idx"] + [c["display_name"] for c in cols], len(data))
    for want, row in zip(data, list(ws.iter_rows(min_row=2))):
        where = "%s line %s" % (name, want["line"])
        if shown(row[0].value) != names[want["file_id"]] or row[0].data_type != "s":
            fail(where, "file", row[0].value)
        for c, key in ((row[1], "line"), (row[2], "idx")):
            if c.value != int(want[key]) or c.data_type != "n":
                fail(where, key, c.value, want[key])
        row = list(row) + [None] * (len(cols) + 3 - len(row))
        for col, cell in zip(cols, row[3:]):
            v = want[col["column_name"]]
            value = None if cell is None else cell.value
            cells += 1
            if col["decimals"] == "":
                if (shown(value) if value is not None else "") != v or (value is not None and cell.data_type != "s"):
                    fail(where, col["column_name"], repr(value), repr(v))
            elif v != "":
                if cell.data_type != "n" or Decimal(repr(value)) != Decimal(v):
                    fail(where, col["column_name"], repr(value), v)
                if cell.number_format != number_format(int(col["decimals"])):
                    fail(where, col["column_name"], "format", cell.number_format)
            elif value is not None:
                # No number: the bytes as cut, set apart, and the record a reject.
                raw = raw_of.get((want["file_id"], want["line"]))
                if raw is None:
                    fail(where, col["column_name"], "text amount of a record not rejected")
                body = raw.rstrip(b"\n").rstrip(b"\r")
                s = int(col["start"]) - 1
                if shown(value) != body[s:s + int(col["length"])].decode("latin-1") or cell.data_type != "s":
                    fail(where, col["column_name"], repr(value))
                if cell.fill.fgColor.rgb in (None, "00000000") or cell.fill.fill_type != "solid":
                    fail(where, col["column_name"], "not set apart", cell.fill)
                styled += 1
    # Widths follow the field widths: every column set, a wider field never
    # in a narrower column, a 1-character field narrower than a 40-character one.
    widths = sorted((int(c["length"]), ws.column_dimensions[openpyxl.utils.get_column_letter(int(c["ordinal"]))].width)
                    for c in cols)
    if any(w is None or w <= 0 for _, w in widths) or any(a[1] > b[1] for a, b in zip(widths, widths[1:])):
        fail(name, "column widths", widths)
    if widths[0][0] <= 1 and widths[-1][0] >= 40 and not widths[0][1] < widths[-1][1]:
        fail(name, "column widths", widths[0], widths[-1])

# Rejects, as tapelens_rejects: the record as text.
for name, data in reject_parts:
    ws = book[name]
    check_frame(ws, ["file", "line", "reason", "record"], len(data))
    for want, row in zip(data, ws.iter_rows(min_row=2)):
        got = [shown(c.value) for c in row]
        exp = [names[want["file_id"]], int(want["line"]), want["reason"], record_text(bytes.fromhex(want["raw"][2:]))]
        if got != exp:
            fail(name, got, exp)

print("checked %d sheets, %d field cells (%d amounts without a number set apart), %d rejects"
      % (len(book.sheetnames), cells, styled, len(rejects)))
