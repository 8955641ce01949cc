#!/usr/bin/env python3
"""Compares a load with the -D -C output of the same files, value by value.

  check_load.py sqlite DB  D1 [D2 ...]   tables of an SQLite database
  check_load.py csv DIR    D1 [D2 ...]   <table>.csv files (--split, or a PostgreSQL dump)
  check_load.py --sums FILE csv DIR D1 ...  also FILE's "table|ordinal|SUM" lines (PostgreSQL)
  check_load.py raw DIR FILE ID   text values of file_id ID in DIR's CSV files against the
                                  bytes of FILE read as Latin-1 (some must be 0x80 or more)

D1, D2 ... are the -D -C outputs of the files with file_id 1, 2, ...
Every row of every layout table must equal the -D data line of the same
record (text as cut, amounts as exact decimals), in the same order, and the
counts must match; the SQL SUM of each amount column (from SQLite itself, or
from --sums) must equal the exact decimal sum of the -D values.
"""
import csv
import sqlite3
import sys
from decimal import Decimal


def d_rows(path):
    """Record key -> list of value lists (idx first) from a -D -C output."""
    rows = {}
    with open(path, "rb") as f:
        for raw in f.read().split(b"\n"):
            line = raw.decode("latin-1")
            # An unknown record's notice holds the record with its line end: "[...\r", then "]".
            if line.startswith("Unknown record type found") or line == "]":
                continue
            assert line == "" or line.endswith("\r"), line
            line = line[:-1]
            if not line or ", Index, " in line:
                continue
            parts = line.split(",")
            assert parts[-1] == "", line
            rows.setdefault(parts[0], []).append(parts[1:-1])
    return rows


def raw_texts(where, path, file_id):
    recs = [r[:-1] if r.endswith(b"\r") else r for r in open(path, "rb").read().split(b"\n")]
    with open(where + "/tapelens_columns.csv", newline="", encoding="utf-8") as f:
        cols = [r for r in list(csv.reader(f))[1:] if r[6] == "" and r[4] != ""]
    high = 0
    for t in sorted(set(r[0] for r in cols)):
        try:
            with open("%s/%s.csv" % (where, t), newline="", encoding="utf-8") as f:
                rows = list(csv.reader(f))[1:]
        except FileNotFoundError:
            continue
        for row in rows:
            if row[0] != file_id:
                continue
            rec = recs[int(row[1]) - 1]
            for _, _, o, _, start, length, _ in (c for c in cols if c[0] == t):
                raw = rec[int(start) - 1:int(start) - 1 + int(length)]
                v = row[int(o) - 1]
                if v == "" and not raw:
                    continue
                if v != raw.decode("latin-1"):
                    print("MISMATCH %s line %s column %s: %r, the file has %r" % (t, row[1], o, v, raw))
                    sys.exit(1)
                high += any(b >= 0x80 for b in raw)
    print("text values with bytes from 0x80 compared:", high)
    sys.exit(0 if high > 0 else 1)


def main():
    args = sys.argv[1:]
    if args[0] == "raw":
        raw_texts(args[1], args[2], args[3])
    sql_sums = {}
    if args[0] == "--sums":
        with open(args[1], encoding="utf-8") as f:
            for line in f:
                t, o, v = line.rstrip("\n").split("|")
                sql_sums[(t, int(o))] = Decimal(v) if v != "" else Decimal(0)
        args = args[2:]
    kind, where, dfiles = args[0], args[1], args[2:]
    if kind == "sqlite":
        db = sqlite3.connect(where)
        db.text_factory = lambda b: b.decode("utf-8")
        layouts = db.execute("SELECT table_name, record_key FROM tapelens_layouts").fetchall()
        cols = db.execute("SELECT table_name, ordinal, decimals FROM tapelens_columns").fetchall()

        def table_rows(t):
            return [list(r) for r in db.execute('SELECT * FROM "%s" ORDER BY file_id, line' % t)]

        for t, name, o, d in db.execute(
                "SELECT table_name, column_name, ordinal, decimals FROM tapelens_columns WHERE decimals IS NOT NULL"):
            v = db.execute('SELECT SUM("%s") FROM "%s"' % (name, t)).fetchone()[0]
            sql_sums[(t, o)] = Decimal(v if v is not None else 0).scaleb(-d)
    else:
        with open(where + "/tapelens_layouts.csv", newline="", encoding="utf-8") as f:
            layouts = [(r[0], r[1]) for r in list(csv.reader(f))[1:]]
        with open(where + "/tapelens_columns.csv", newline="", encoding="utf-8") as f:
            cols = [(r[0], int(r[2]), int(r[6]) if r[6] != "" else None) for r in list(csv.reader(f))[1:]]

        def table_rows(t):
            with open("%s/%s.csv" % (where, t), newline="", encoding="utf-8") as f:
                return list(csv.reader(f))[1:]

    decimals = {}
    for t, o, d in cols:
        decimals.setdefault(t, {})[o] = d
    expected = {}
    for file_id, path in enumerate(dfiles, 1):
        for key, rs in d_rows(path).items():
            expected.setdefault(key, []).extend((file_id, r) for r in rs)
    bad = nrows = nsums = 0
    seen_keys = set()
    for t, key in sorted(layouts):
        seen_keys.add(key)
        got = table_rows(t)
        want = expected.get(key, [])
        if len(got) != len(want):
            print("MISMATCH %s: %d rows, -D has %d" % (t, len(got), len(want)))
            bad += 1
            continue
        ncol = len(decimals[t])
        sums = {o: Decimal(0) for o, d in decimals[t].items() if d is not None}
        for g, (file_id, w) in zip(got, want):
            if int(g[0]) != file_id or len(g) != ncol or len(w) != ncol - 2:
                print("MISMATCH %s line %s: file or width" % (t, g[1]))
                bad += 1
                break
            for o in range(3, ncol + 1):
                d = decimals[t][o]
                gv, wv = g[o - 1], w[o - 3]
                if d is not None:
                    if kind == "sqlite":
                        gv = Decimal(gv).scaleb(-d)
                    else:
                        gv = Decimal(gv)
                    ok = gv == Decimal(wv)
                    sums[o] += Decimal(wv)
                else:
                    ok = str(gv) == wv
                if not ok:
                    print("MISMATCH %s line %s column %d: %r, -D has %r" % (t, g[1], o, gv, wv))
                    bad += 1
                    break
        for o, total in sums.items():
            if (kind == "sqlite" or sql_sums) and sql_sums.get((t, o)) != total:
                print("MISMATCH %s column %d: SQL SUM %s, -D sums to %s" % (t, o, sql_sums.get((t, o)), total))
                bad += 1
        nrows += len(got)
        nsums += len(sums)
    for key in expected:
        if key not in seen_keys:
            print("MISSING layout %s (%d rows in -D)" % (key, len(expected[key])))
            bad += 1
    print("%d tables, %d rows, %d amount sums compared with -D; %d mismatches" % (len(layouts), nrows, nsums, bad))
    sys.exit(1 if bad else 0)


main()
