#!/usr/bin/env bash
# Reads the --json output of several files back with real JSON parsers (jq
# for every line's shape, Python's json with exact decimals for the values)
# and compares it value by value with the -D -C CSV output of the same file
# (one line per record: key, index, the common block, the shown fields),
# and each record's line number, key and unknown text with the input itself.
#
#   json_vs_csv.sh TAPELENS GEN_SAMPLE SOURCE_DIR
set -euo pipefail
tapelens=$(readlink -f "$1")
gen=$(readlink -f "$2")
src=$(readlink -f "$3")
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-json.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
command -v jq >/dev/null || { echo "jq is missing (tools/install-deps.sh installs it)"; exit 1; }

cp "$src"/tests/data/*.bdt .
"$gen" --records 3000 --hostile >hostile-gen.bdt
"$gen" --records 3000 --random --seed 7 >random.bdt
"$gen" --records 500 --lf >lf.bdt

for f in *.bdt; do
  "$tapelens" --json "$f" >"$f.json"
  "$tapelens" -D -C "$f" >"$f.csv"
  # Every line one object of the documented shape.
  jq -e -c 'if has("unknown") then (keys == ["file","line","unknown"]) and (.unknown | type) == "string"
            else (keys_unsorted == ["file","line","key","type","common","fields"]) and (.common | type) == "object"
                 and (.fields | type) == "object" and ([.common[], .fields[]] | all(type == "string" or type == "number"))
            end and .file == $f and (.line | type) == "number"' --arg f "$f" "$f.json" >"$f.shape"
  if grep -qv '^true$' "$f.shape"; then
    echo "FAILED: $f: a line of the wrong shape"
    exit 1
  fi
done

python3 - "$src/src/catalogue/sr1872i16_version_1.csv" *.bdt <<'PY'
import csv, io, json, sys
from decimal import Decimal

catalogue, files = sys.argv[1], sys.argv[2:]
amount = {}   # (key, ordinal among shown fields incl. the common block) -> (decimals, length)
shown = {}
common = []
for row in csv.reader(l for l in open(catalogue) if not l.startswith("#")):
    if row[0] != "field":
        continue
    if row[6] != "1":
        continue
    entry = (int(row[9]), int(row[4]))
    if row[1] == "common":
        common.append((-1, entry[1]))  # written as cut, as the other formats do
    else:
        shown.setdefault(row[1], []).append(entry)

OVER = {"{": ("0", 1), "}": ("0", -1)}
for i in range(10):
    OVER[str(i)] = (str(i), 1)
for i in range(9):
    OVER[chr(ord("A") + i)] = (str(i + 1), 1)
    OVER[chr(ord("J") + i)] = (str(i + 1), -1)

def csv_amount(raw, dec, length):
    """The text the CSV formats give a whole amount field of raw characters."""
    last = raw[-1]
    digit, sign = OVER.get(last, ("", 0))
    body = raw[:-1]
    point = length - dec if 0 < dec <= length else length + 1
    if point <= len(body):
        body = body[:point] + "." + body[point:]
    return ("-" if sign < 0 else "") + body + digit

def zoned(raw):
    return len(raw) > 0 and all(c.isdigit() and c.isascii() for c in raw[:-1]) and raw[-1] in OVER

checked = 0
for name in files:
    records = [json.loads(l, parse_float=Decimal, parse_int=Decimal) for l in open(name + ".json", encoding="utf-8")]
    text = open(name + ".csv", "rb").read().decode("latin-1")
    # The unknown-record notices span the record's own line end: taken out
    # before the CSV is parsed, and compared with the unknown objects.
    kept, notices, notice = [], [], None
    for l in text.split("\n"):
        if notice is not None:
            notices.append(notice + "\n" + l[:-1])
            notice = None
            continue
        if l.startswith("Unknown record type found: line = ["):
            body = l[len("Unknown record type found: line = ["):]
            if body.endswith("]"):
                notices.append(body[:-1])
            else:
                notice = body
            continue
        kept.append(l)
    rows = [r for r in csv.reader(io.StringIO("\n".join(kept), newline=""))
            if r and not (len(r) > 1 and r[1] == " Index")]
    known = [r for r in records if "unknown" not in r]
    unknown = [r["unknown"] for r in records if "unknown" in r]
    # Numbered among all records, those the class filters leave out too.
    numbers = [r["line"] for r in records]
    assert numbers == sorted(set(numbers)) and all(n >= 1 for n in numbers), name
    assert len(known) == len(rows), f"{name}: {len(known)} known records, {len(rows)} CSV rows"
    assert len(unknown) == len(notices), f"{name}: {len(unknown)} unknown records, {len(notices)} notices"
    for u, n in zip(unknown, notices):
        assert u.strip(" ") == n.rstrip("\r\n").strip(" "), (name, u, n)
        checked += 1
    for rec, row in zip(known, rows):
        where = f"{name}:{rec['line']}"
        assert row[0] == rec["key"], (where, row[0])
        values = list(rec["common"].values()) + list(rec["fields"].values())
        cells = row[2:]
        if cells and cells[-1] == "":
            cells.pop()
        assert len(values) == len(cells), (where, len(values), len(cells))
        kinds = common + shown[rec["key"]]
        for (dec, length), v, cell in zip(kinds, values, cells):
            if isinstance(v, Decimal):
                assert dec >= 0, (where, "number in a text field", v)
                try:
                    ok = v == Decimal(cell)
                except Exception:
                    ok = False
                assert ok, (where, v, cell)
                if dec > 0:
                    assert -v.as_tuple().exponent == dec, (where, v, dec)
            elif dec >= 0 and len(v) == length:
                assert not zoned(v), (where, "a zoned amount written as a string", v)
                assert csv_amount(v, dec, length) == cell, (where, v, cell)
            elif dec >= 0:
                pass  # cut short by the record's end: the CSV gives it with its point
            else:
                assert v == cell, (where, v, cell)
            checked += 1
print(f"{checked} values compared in {len(files)} files")
PY
