#!/usr/bin/env bash
# --sqlite and --split end to end: real SQLite files read back with the
# sqlite3 shell and Python's sqlite3 module and compared with -D.
#   sqlite_load.sh TAPELENS GEN_SAMPLE
source "$(dirname "$0")/lib.sh"
sq() { sqlite3 -batch "$@" </dev/null; }

"$GEN_SAMPLE" --records 4000 --seed 11 >a.bdt
"$GEN_SAMPLE" --records 3000 --seed 12 >b.bdt
cp "$DATA/small.bdt" "$DATA/hostile.bdt" .
for f in a.bdt b.bdt; do dview $f; done

echo "== the conversions do not map the database libraries"
same "no libsqlite3 or libpq among the linked libraries" 0 "$(ldd "$TAPELENS" | grep -c 'libsqlite3\|libpq')"

echo "== values, sums and metadata"
"$TAPELENS" --sqlite=v.db a.bdt b.bdt
same "two files load" 0 $?
check "every row equals -D, every SQL SUM the exact -D sum" python3 "$HERE/check_load.py" sqlite v.db a.bdt.D b.bdt.D
same "integrity" ok "$(sq v.db 'PRAGMA integrity_check')"
same "digest is what xxh128sum says" "$(xxh128sum a.bdt 2>/dev/null | cut -d' ' -f1)" \
  "$(sq v.db "SELECT digest FROM tapelens_files WHERE name = 'a.bdt'")"
# records: those the record filters let through (by default classes 1, 3, 4).
same "files" "1|a.bdt|$(stat -c %s a.bdt)|$(grep -c '^[134]' a.bdt)|1.7.46.0
2|b.bdt|$(stat -c %s b.bdt)|$(grep -c '^[134]' b.bdt)|1.7.46.0" \
  "$(sq v.db 'SELECT file_id, name, size, records, version FROM tapelens_files ORDER BY file_id')"
same "loaded_at is a UTC time" 2 "$(sq v.db "SELECT count(*) FROM tapelens_files WHERE loaded_at GLOB
  '20[0-9][0-9]-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z'")"
same "an amount column" "r102690_50|pos_062_072_amount_2_decimals|14|Pos 062-072 amount 2 decimals|62|11|2" \
  "$(sq v.db "SELECT * FROM tapelens_columns WHERE table_name = 'r102690_50' AND ordinal = 14")"
same "the first three columns" "file_id|1|||| line|2|||| idx|3|||| " \
  "$(sq v.db "SELECT column_name, ordinal, display_name, start, length, decimals FROM tapelens_columns
    WHERE table_name = 'r102690_50' AND ordinal <= 3 ORDER BY ordinal" | tr '\n' ' ')"
same "the common block is text" "record_identifier_pos_001_006|1|6|" \
  "$(sq v.db "SELECT column_name, start, length, decimals FROM tapelens_columns WHERE table_name = 'r100101_01' AND ordinal = 4")"
same "every column of every table listed" \
  "$(sq v.db "SELECT sum((SELECT count(*) FROM pragma_table_info(table_name))) FROM tapelens_layouts")" \
  "$(sq v.db 'SELECT count(*) FROM tapelens_columns')"
same "layouts" "r100101_01|100101.01|10|Bill record 100101.01
r300305_00|300305.00|30|Supplemental Detail record 300305.00" \
  "$(sq v.db "SELECT * FROM tapelens_layouts WHERE table_name IN ('r100101_01', 'r300305_00') ORDER BY 1")"
same "a table per layout met" "$(cut -c1-8 a.bdt b.bdt | sort -u | grep -c '^[134]')" \
  "$(( $(sq v.db 'SELECT count(*) FROM tapelens_layouts') + $(sq v.db "SELECT count(DISTINCT substr(raw, 1, 8)) FROM tapelens_rejects WHERE reason = 'unknown layout'") ))"

echo "== one thread and two: the same database"
# The database as text, the load times aside.
dumpdb() { sq "$1" .dump | sed -E "s/'20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z'/T/"; }
"$TAPELENS" --jobs=1 --sqlite=v1.db a.bdt b.bdt
same "--jobs=1: status" 0 $?
check "--jobs=1: the same tables, rows and values as on two threads" test "$(dumpdb v.db)" = "$(dumpdb v1.db)"

echo "== a signal while the writer thread is behind"
# A file that takes a while to load, stopped while converting at full speed
# once the first file is in: the rows queued for the writer are dropped.
"$GEN_SAMPLE" --size 60 --seed 13 >big.bdt
# file2_rows DB: the rows of the second file in every layout table.
file2_rows() {
  sq "$1" "SELECT 'SELECT ' || group_concat('(SELECT count(*) FROM \"' || table_name || '\" WHERE file_id <> 1)', ' + ') FROM tapelens_layouts" | sqlite3 -batch "$1"
}
for sig in INT TERM; do
  rm -f sig.db
  mkfifo in.fifo
  "$TAPELENS" --sqlite=sig.db a.bdt in.fifo 2>err &
  pid=$!
  # No pause before the signal: the reader is as far ahead as it gets.
  { head -c 30000000 big.bdt; kill -$sig $pid; start=$(date +%s%N); echo "$start" >start; cat big.bdt; } >in.fifo 2>/dev/null
  wait $pid
  status=$?
  took=$((($(date +%s%N) - $(cat start)) / 1000000))
  rm -f in.fifo
  same "SIG$sig: status" "$([ $sig = INT ] && echo 130 || echo 143)" $status
  same "SIG$sig: message" "ERROR: sig.db: loading in.fifo stopped; nothing of it was kept" "$(cat err)"
  check "SIG$sig: stopped without writing what was queued (${took} ms)" test "$took" -lt 2000
  same "SIG$sig: only the first file" "1|a.bdt|0|ok" \
    "$(sq sig.db 'SELECT file_id, name FROM tapelens_files')|$(file2_rows sig.db)|$(sq sig.db 'PRAGMA integrity_check')"
  check "SIG$sig: the first file whole" python3 "$HERE/check_load.py" sqlite sig.db a.bdt.D
done

echo "== size and digest are of the bytes read"
gzip -c a.bdt >az.bdt.gz
zip -q am.zip b.bdt
"$TAPELENS" --sqlite=z.db az.bdt.gz am.zip
same "compressed and archived: load" 0 $?
plain() { echo "$(wc -c <"$1" | tr -d ' ')|$(xxh128sum "$1" | cut -d' ' -f1)"; }
same "a compressed file: size and digest of its content" "$(plain a.bdt)" \
  "$(sq z.db 'SELECT size, digest FROM tapelens_files WHERE file_id = 1')"
same "an archive member: size and digest of the member" "$(plain b.bdt)" \
  "$(sq z.db 'SELECT size, digest FROM tapelens_files WHERE file_id = 2')"
"$TAPELENS" --split=zsplit az.bdt.gz am.zip
same "--split: the same sizes and digests" "$(plain a.bdt) $(plain b.bdt)" \
  "$(python3 -c 'import csv,sys; print(" ".join(r["size"] + "|" + r["digest"] for r in csv.DictReader(open("zsplit/tapelens_files.csv"))))')"

echo "== rejects, views, text bytes (small.bdt, hostile.bdt)"
"$TAPELENS" --sqlite=s.db small.bdt hostile.bdt
same "load" 0 $?
same "amounts as integers of the smallest unit" "12345|-100" \
  "$(sq s.db 'SELECT pos_062_072_amount_2_decimals, pos_073_083_amount_2_decimals FROM r102690_50 WHERE file_id = 1 AND line = 2')"
same "the view shows them as -D does" "123.45|-1.00" \
  "$(sq s.db 'SELECT pos_062_072_amount_2_decimals, pos_073_083_amount_2_decimals FROM r102690_50_v WHERE file_id = 1 AND line = 2')"
same "rejects of small.bdt" "6|unknown layout
8|unknown layout
9|short record (66 of 225 characters); amount cut short in pos_062_072_amount_2_decimals" \
  "$(sq s.db 'SELECT line, reason FROM tapelens_rejects WHERE file_id = 1 ORDER BY line')"
check "rejects keep the raw bytes, line end included" \
  bash -c "for n in 6 8 9; do [ \"\$(sqlite3 s.db \"SELECT hex(raw) FROM tapelens_rejects WHERE file_id = 1 AND line = \$n\")\" = \
    \"\$(sed -n \${n}p small.bdt | od -An -v -tx1 | tr -d ' \n' | tr a-f A-F)\" ] || exit 1; done"
same "a short record stored as far as it goes" "ACCT-0001    ||" \
  "$(sq s.db 'SELECT pos_049_061_text, pos_062_072_amount_2_decimals, pos_073_083_amount_2_decimals FROM r102690_50 WHERE file_id = 1 AND line = 9')"
same "rejects counted in files" "$(sq s.db 'SELECT count(*) FROM tapelens_rejects WHERE file_id = 2')" \
  "$(sq s.db 'SELECT rejects FROM tapelens_files WHERE file_id = 2')"
# Every byte of 0x80 and more is the Latin-1 character of its code.
check "text bytes from 0x80 as Latin-1 in UTF-8" python3 - <<'PY'
import sqlite3, sys
db = sqlite3.connect("s.db")
recs = open("hostile.bdt", "rb").read().split(b"\n")
checked = 0
for t, in db.execute("SELECT table_name FROM tapelens_layouts"):
    cols = db.execute("SELECT column_name, start, length FROM tapelens_columns WHERE table_name = ? AND decimals IS NULL AND start IS NOT NULL", (t,)).fetchall()
    for row in db.execute('SELECT * FROM "%s" WHERE file_id = 2' % t, ()):
        pass
    for c, s, n in cols:
        for line, v in db.execute('SELECT line, "%s" FROM "%s" WHERE file_id = 2' % (c, t)):
            raw = recs[line - 1].rstrip(b"\r")[s - 1:s - 1 + n]
            if v is None:
                continue
            if v != raw.decode("latin-1"):
                print("differs:", t, line, c, repr(v), raw)
                sys.exit(1)
            checked += any(b >= 0x80 for b in raw)
print("values with high bytes checked:", checked)
sys.exit(0 if checked > 0 else 1)
PY

echo "== reload skipped"
"$TAPELENS" --sqlite=v.db b.bdt 2>err
same "status" 0 $?
same "notice" "NOTICE: v.db: b.bdt was loaded before (digest $(xxh128sum b.bdt 2>/dev/null | cut -d' ' -f1)); skipped" "$(cat err)"
same "no second row" 2 "$(sq v.db 'SELECT count(*) FROM tapelens_files')"
check "the rows as before" python3 "$HERE/check_load.py" sqlite v.db a.bdt.D b.bdt.D >/dev/null
cp a.bdt a-copy.bdt
"$TAPELENS" --sqlite=v.db a-copy.bdt 2>/dev/null
same "the same bytes under another name are skipped too" 2 "$(sq v.db 'SELECT count(*) FROM tapelens_files')"

echo "== record filters"
"$TAPELENS" -3 --sqlite=f.db a.bdt
same "-3 loads only detail layouts" "30" "$(sq f.db 'SELECT DISTINCT class FROM tapelens_layouts')"
"$TAPELENS" --layouts=102690,4005 --sqlite=l.db small.bdt
same "--layouts loads only those" "r102690_50 r400505_01" "$(sq l.db 'SELECT table_name FROM tapelens_layouts ORDER BY 1' | tr '\n' ' ' | sed 's/ $//')"

echo "== interrupted load"
for sig in INT TERM; do
  rm -f i.db
  interrupt $sig 300000 b.bdt --sqlite=i.db a.bdt in.fifo
  status=$?
  same "SIG$sig status" "$([ $sig = INT ] && echo 130 || echo 143)" $status
  same "SIG$sig message" "ERROR: i.db: loading in.fifo stopped; nothing of it was kept" "$(cat err)"
  same "SIG$sig: only the first file" "1|a.bdt" "$(sq i.db 'SELECT file_id, name FROM tapelens_files')"
  check "SIG$sig: the first file whole" python3 "$HERE/check_load.py" sqlite i.db a.bdt.D >/dev/null
  same "SIG$sig: integrity" ok "$(sq i.db 'PRAGMA integrity_check')"
done

echo "== failed read"
"$TAPELENS" --sqlite=r.db a.bdt /proc/self/mem b.bdt 2>err
same "status" 1 $?
same "the files around it loaded" "a.bdt b.bdt" "$(sq r.db 'SELECT name FROM tapelens_files ORDER BY file_id' | tr '\n' ' ' | sed 's/ $//')"
check "its own message and the roll-back" grep -q "^ERROR: r.db: loading /proc/self/mem stopped; nothing of it was kept$" err

echo "== several loaders at once wait for each other"
for s in 21 22 23 24; do "$GEN_SAMPLE" --records 2000 --seed $s >p$s.bdt; done
ls p*.bdt | xargs -P 4 -n 1 "$TAPELENS" --sqlite=p.db
same "all succeed" 0 $?
same "all files in" "p21.bdt p22.bdt p23.bdt p24.bdt" "$(sq p.db 'SELECT name FROM tapelens_files ORDER BY name' | tr '\n' ' ' | sed 's/ $//')"
same "all records in" "$(cat p*.bdt | grep -c '^[134]')" "$(sq p.db "SELECT sum(records) FROM tapelens_files")"

# Another writer holds the database: a loader waits for it, and a Ctrl-C
# while waiting stops it at once.
sq lk.db 'CREATE TABLE other(x)'
{ echo "BEGIN IMMEDIATE; INSERT INTO other VALUES (1);"; sleep 3; echo "COMMIT;"; } | sqlite3 lk.db &
holder=$!
sleep 1
start=$(date +%s)
"$TAPELENS" --sqlite=lk.db small.bdt
same "a held lock: waited for and loaded" "0|1" "$?|$(sq lk.db 'SELECT count(*) FROM tapelens_files')"
check "a held lock: waited about as long as it was held" test $(($(date +%s) - start)) -ge 1
wait $holder
{ echo "BEGIN IMMEDIATE; INSERT INTO other VALUES (2);"; sleep 8; echo "COMMIT;"; } | sqlite3 lk.db &
holder=$!
sleep 1
"$TAPELENS" --sqlite=lk.db a.bdt 2>err &
pid=$!
sleep 1
start=$(date +%s)
kill -INT $pid
wait $pid
same "Ctrl-C while waiting: status and message" "130|ERROR: lk.db: stopped while waiting for another loader's lock" "$?|$(cat err)"
check "Ctrl-C while waiting: stopped at once" test $(($(date +%s) - start)) -le 2
wait $holder
same "Ctrl-C while waiting: nothing loaded" "small.bdt" "$(sq lk.db 'SELECT name FROM tapelens_files')"

echo "== errors leave things as they were"
printf 'not a database\n' >notdb
cp notdb notdb.orig
"$TAPELENS" --sqlite=notdb small.bdt 2>err
same "not a database: status" 1 $?
same "not a database: message" "ERROR: notdb is not an SQLite database" "$(cat err)"
check "not a database: file unchanged" cmp -s notdb notdb.orig
sq c.db 'CREATE TABLE r100101_01(file_id INTEGER, line INTEGER, idx INTEGER, other TEXT)'
"$TAPELENS" --sqlite=c.db small.bdt 2>err
same "other columns: status" 1 $?
check "other columns: the message names the table" grep -q "table r100101_01 has other columns" err
same "other columns: nothing loaded" "0|0|0" \
  "$(sq c.db 'SELECT (SELECT count(*) FROM tapelens_files), (SELECT count(*) FROM r100101_01), (SELECT count(*) FROM sqlite_master WHERE name GLOB "r1026*")')"
# Run-time names name the columns; a table made under other names is refused.
{ echo "record_key,start,name"; echo "102690.50,62,Amount billed"; echo "common,49,Billing account"; } >names.csv
"$TAPELENS" --names=names.csv --sqlite=n.db small.bdt
same "run-time names: status" 0 $?
same "run-time names name the columns" "billing_account|amount_billed|Amount billed" \
  "$(sq n.db "SELECT (SELECT column_name FROM tapelens_columns WHERE table_name = 'r102690_50' AND start = 49),
    column_name, display_name FROM tapelens_columns WHERE table_name = 'r102690_50' AND start = 62")"
same "run-time names: the values" "ACCT-0001    |12345" "$(sq n.db 'SELECT billing_account, amount_billed FROM r102690_50 WHERE line = 2')"
"$TAPELENS" --sqlite=n.db hostile.bdt 2>err
same "names changed: status" 1 $?
check "names changed: the message names a table made under the other names" \
  grep -q "^ERROR: n.db: table r[0-9_]* has other columns than this tapelens makes for layout [0-9.]*; nothing of hostile.bdt loaded$" err
same "names changed: nothing of the file loaded" 1 "$(sq n.db 'SELECT count(*) FROM tapelens_files')"
sq ro.db 'CREATE TABLE keep(x)'
chmod 444 ro.db
cp ro.db ro.orig
# As root every file can be written: the check runs as nobody then, with a
# copy of the program in the work folder (the build folder may be closed to nobody).
as_other() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
cp "$TAPELENS" ./tapelens-copy
as_other ./tapelens-copy --sqlite=ro.db small.bdt 2>err
same "read-only database: status" 1 $?
same "read-only database: message" "ERROR: ro.db: the SQLite database cannot be written" "$(cat err)"
check "read-only database: unchanged" cmp -s ro.db ro.orig
"$TAPELENS" --sqlite=nodir/x.db small.bdt 2>err
same "missing folder: status" 1 $?
check "missing folder: message" grep -q "^ERROR: nodir/x.db: cannot open the SQLite database" err
"$TAPELENS" --sqlite= small.bdt 2>err
same "no file name: status and message" "1|ERROR: --sqlite needs the name of a database file" "$?|$(cat err)"
for combo in "--sqlite=u.db --json" "--names-template --split=u.db" "--postgres=x --sqlite=u.db" "--sqlite=u.db -c" "-x --sqlite=u.db" "--sqlite=u.db --split=d" "--sqlite=u.db -s" "--sqlite=u.db -D"; do
  # shellcheck disable=SC2086
  "$TAPELENS" $combo small.bdt >out 2>err
  same "usage error: $combo" "1|Usage: $TAPELENS [OPTION]... [FILE]...|Try \`$TAPELENS --help' for more information." \
    "$?|$(cat out)|$(cat err)"
done
check "usage errors made nothing" test ! -e u.db -a ! -e d

echo "== full disk"
mkdir full
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=1m tapelens-full full 2>/dev/null; then
  "$GEN_SAMPLE" --records 20000 --seed 5 >big.bdt
  "$TAPELENS" --sqlite=full/x.db small.bdt big.bdt 2>err
  same "full disk: status" 1 $?
  check "full disk: message" grep -q "ERROR: full/x.db: .*full" err
  same "full disk: the first file kept, nothing of the second" "small.bdt" "$(sq full/x.db 'SELECT name FROM tapelens_files')"
  same "full disk: integrity" ok "$(sq full/x.db 'PRAGMA integrity_check')"
  umount full
  # The same for --split: the CSV files of the first file stay, cut back to it.
  mount -t tmpfs -o size=1m tapelens-full full
  "$TAPELENS" --split=small-alone small.bdt
  "$TAPELENS" --split=full/d small.bdt big.bdt 2>err
  same "full disk, --split: status" 1 $?
  check "full disk, --split: message" grep -q "ERROR: full/d: cannot write: No space left on device" err
  rows_of() { for f in "$1"/r*.csv; do tail -n +2 "$f"; done | sort; }
  same "full disk, --split: the rows of the first file, nothing of the second" "$(rows_of small-alone)" "$(rows_of full/d)"
  umount full
else
  echo "note: full disk not checked here (mounting a small tmpfs needs root)"
fi

echo "== --split"
"$TAPELENS" --split=split1 a.bdt b.bdt
same "status" 0 $?
check "every row of the CSV files equals -D" python3 "$HERE/check_load.py" csv split1 a.bdt.D b.bdt.D
same "a header row of the column names" "file_id,line,idx,record_identifier_pos_001_006" "$(head -1 split1/r102690_50.csv | cut -d, -f1-4)"
same "rows end in CR LF" "$(wc -l <split1/r102690_50.csv)" "$(grep -c $'\r$' split1/r102690_50.csv)"
same "the same tables as the database" "$(sq v.db 'SELECT table_name FROM tapelens_layouts ORDER BY 1' | tr '\n' ' ')" \
  "$(ls split1 | sed -n 's/^\(r[0-9_]*\)\.csv$/\1/p' | sort | tr '\n' ' ')"
"$TAPELENS" --split=hs hostile.bdt
# Quoting: Python's CSV reader gives back the values SQLite got bound directly.
check "CSV quoting of hostile values" python3 - <<'PY'
import csv, sqlite3, sys
db = sqlite3.connect("s.db")
n = 0
for t, in db.execute("SELECT table_name FROM tapelens_layouts"):
    try:
        rows = list(csv.reader(open("hs/%s.csv" % t, newline="", encoding="utf-8")))[1:]
    except FileNotFoundError:
        continue
    dec = {o: d for o, d in db.execute("SELECT ordinal, decimals FROM tapelens_columns WHERE table_name = ?", (t,))}
    got = [list(r) for r in db.execute('SELECT * FROM "%s_v" WHERE file_id = 2 ORDER BY line' % t)]
    for a, b in zip(rows, got):
        for o, (x, y) in enumerate(zip(a[1:], b[1:]), 2):
            y = "" if y is None else str(y)
            if x != y:
                print("differs", t, o, repr(x), repr(y)); sys.exit(1)
            n += any(c in x for c in ',"\r\n')
    if len(rows) != len(got):
        print("row count", t); sys.exit(1)
print("values needing quotes:", n)
sys.exit(0 if n > 0 else 1)
PY
same "rejects with raw bytes as hex" "1,6,unknown layout,\\x313030313031" "$("$TAPELENS" --split=sm small.bdt && sed -n 2p sm/tapelens_rejects.csv | cut -c1-33)"
printf x >afile
"$TAPELENS" --split=afile small.bdt 2>err
same "split into a file: status" 1 $?
same "split into a file: message" "ERROR: afile is not a folder" "$(cat err)"
interrupt INT 300000 b.bdt --split=cut a.bdt in.fifo
same "split interrupted: status" 130 $?
check "split interrupted: the first file whole, nothing of the second" python3 "$HERE/check_load.py" csv cut a.bdt.D

finish
