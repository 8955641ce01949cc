#!/usr/bin/env bash
# --xlsx end to end: workbooks read back with openpyxl and compared cell by
# cell with --split of the same inputs (check_xlsx.py), continued sheets,
# and the failures that must leave FILE as it was and nothing else behind.
#   xlsx.sh TAPELENS GEN_SAMPLE XLSX_ROWS
XLSX_ROWS=$(readlink -f "$3")
CHECK=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/check_xlsx.py
source "$(dirname "$0")/../load/lib.sh"
PY=/usr/bin/python3
$PY -c 'import openpyxl' || { echo "FAILED: $PY has no openpyxl (tools/install-deps.sh installs python3-openpyxl)"; exit 1; }

# The names in a folder (but the error output and the FIFO of interrupt).
names() { ls -A "$1" | grep -v -x -e err -e in.fifo; }

"$GEN_SAMPLE" --records 4000 --seed 41 >a.bdt
"$GEN_SAMPLE" --records 3000 --seed 42 --hostile >h.bdt
cp "$DATA/small.bdt" "$DATA/hostile.bdt" .
# A text field that reads as an OOXML escape, and bytes 0x80 and up in it.
$PY - <<'PY'
recs = open("small.bdt", "rb").read().split(b"\r\n")
r = bytearray(recs[1])            # 102690.50: text at 49-61
r[48:61] = b"_x0041_\xe9_x00"
open("escape.bdt", "wb").write(b"\r\n".join([recs[0], bytes(r)] + recs[2:]))
PY
gzip -c a.bdt >az.bdt.gz
zip -q m.zip h.bdt small.bdt

echo "== every cell as --split has it"
"$TAPELENS" --xlsx=all.xlsx az.bdt.gz m.zip - hostile.bdt escape.bdt <a.bdt
same "status" 0 $?
"$TAPELENS" --split=all az.bdt.gz m.zip - hostile.bdt escape.bdt <a.bdt
check "openpyxl reads every cell back as --split has it" $PY "$CHECK" all.xlsx all
same "a compressed input's size is of its content" "$(wc -c <a.bdt | tr -d ' ')" \
  "$($PY -c 'import openpyxl; print(openpyxl.load_workbook("all.xlsx")["Summary"]["B2"].value)')"
touch m.xlsx
chmod 600 m.xlsx
(umask 027; "$TAPELENS" --xlsx=m.xlsx small.bdt)
same "the mode a new file gets, not the earlier file's" 640 "$(stat -c %a m.xlsx)"

cp small.bdt $'caf\xe9.bdt'
"$TAPELENS" --xlsx=latin.xlsx $'caf\xe9.bdt'
same "a file name that is not UTF-8: its bytes as Latin-1" "café.bdt" \
  "$($PY -c 'import openpyxl; print(openpyxl.load_workbook("latin.xlsx")["Summary"]["A2"].value)')"

# A document whose reading fails half-way is left out whole, as --split
# leaves it out.
head -c 60000 az.bdt.gz >cut.bdt.gz
"$TAPELENS" --xlsx=cut.xlsx small.bdt cut.bdt.gz hostile.bdt 2>err
same "a failed read: status" 1 $?
check "a failed read: its own message" grep -qx "ERROR: cut.xlsx: writing cut.bdt.gz stopped; nothing of it was kept" err
"$TAPELENS" --split=cut small.bdt cut.bdt.gz hostile.bdt 2>/dev/null
check "a failed read: the others as --split has them" $PY "$CHECK" cut.xlsx cut
same "a failed read: two inputs on Summary" "small.bdt hostile.bdt" \
  "$($PY -c 'import openpyxl; s = openpyxl.load_workbook("cut.xlsx")["Summary"]; print(s["A2"].value, s["A3"].value)')"

echo "== record filters and names"
"$TAPELENS" -3 --layouts=30 --xlsx=f.xlsx a.bdt && "$TAPELENS" -3 --layouts=30 --split=f a.bdt
check "-3 --layouts=30" $PY "$CHECK" f.xlsx f
{ echo "record_key,start,name"; echo "102690.50,62,Amount billed"; } >names.csv
"$TAPELENS" --names=names.csv --xlsx=n.xlsx small.bdt && "$TAPELENS" --names=names.csv --split=n small.bdt
check "--names names the header" $PY "$CHECK" n.xlsx n
same "the header holds the name" "Amount billed" "$(cut -d, -f4 n/tapelens_columns.csv | grep -x 'Amount billed')"

echo "== continued sheets"
"$GEN_SAMPLE" --records 3000 --seed 43 >c.bdt
"$XLSX_ROWS" 6 c.xlsx c.bdt hostile.bdt small.bdt
same "status" 0 $?
"$TAPELENS" --split=c c.bdt hostile.bdt small.bdt
check "sheets of 6 rows continued on NAME (2), (3) ..." $PY "$CHECK" c.xlsx c 6
check "a layout and Rejects continued more than twice" $PY -c '
import openpyxl, sys
sys.exit(0 if {"Rejects (3)", "r100101_00 (3)"} <= set(openpyxl.load_workbook("c.xlsx", read_only=True).sheetnames) else 1)'

echo "== usage errors"
for combo in "--xlsx=u.xlsx -c" "-s --xlsx=u.xlsx" "--xlsx=u.xlsx --json" "--sqlite=u.db --xlsx=u.xlsx" "--xlsx=u.xlsx --split=u" "-x --xlsx=u.xlsx"; do
  # shellcheck disable=SC2086
  "$TAPELENS" $combo small.bdt >out 2>err
  same "usage error: $combo" "1|Usage: $TAPELENS [OPTION]... [FILE]...|Try \`$TAPELENS --help' for more information." \
    "$?|$(cat out)|$(cat err)"
done
check "usage errors made nothing" test ! -e u.xlsx -a ! -e u.db -a ! -e u

echo "== failures leave FILE as it was and nothing behind"
"$TAPELENS" --xlsx=keep.xlsx small.bdt
cp keep.xlsx keep.orig
before=$(names .)
"$TAPELENS" --xlsx=nodir/x.xlsx small.bdt 2>err
same "missing folder: status" 1 $?
same "missing folder: message" "ERROR: nodir/x.xlsx: cannot write in nodir: No such file or directory" "$(cat err)"
"$TAPELENS" --xlsx= small.bdt 2>err
same "no file name: status and message" "1|ERROR: --xlsx needs the name of a workbook file" "$?|$(cat err)"
mkdir adir
"$TAPELENS" --xlsx=adir small.bdt 2>err
same "a folder: status and message" "1|ERROR: adir is not a regular file" "$?|$(cat err)"
rmdir adir
"$TAPELENS" --xlsx=keep.xlsx small.bdt keep.xlsx 2>err
same "an input is the workbook: status" 1 $?
same "an input is the workbook: message" "ERROR: input file keep.xlsx is also the output file" "$(cat err)"
check "an input is the workbook: unchanged" cmp -s keep.xlsx keep.orig
same "nothing left behind" "$before" "$(names .)"
"$TAPELENS" --xlsx=k2.xlsx small.bdt missing.bdt 2>/dev/null
same "a missing input: status 1, the other one written" "1|small.bdt|None" \
  "$?|$($PY -c 'import openpyxl; s = openpyxl.load_workbook("k2.xlsx")["Summary"]; print("%s|%s" % (s["A2"].value, s["A3"].value))')"

# A file size limit that the spool passes, and one that only the sheet's
# XML passes (one layout's records many times over): FILE stays as it was.
"$GEN_SAMPLE" --records 20000 --seed 44 >big.bdt
for i in $(seq 200); do grep -a '^10269050' big.bdt; done >one.bdt
before=$(names .)
for kb in 64 8192; do
  (ulimit -f $kb; "$TAPELENS" --xlsx=keep.xlsx one.bdt 2>err)
  status=$?
  same "file size limit ${kb} KB: status" 1 $status
  same "file size limit ${kb} KB: message" "ERROR: keep.xlsx: cannot write: File too large" "$(cat err)"
  check "file size limit ${kb} KB: FILE unchanged" cmp -s keep.xlsx keep.orig
  same "file size limit ${kb} KB: nothing left behind" "$before" "$(names .)"
done

# As root every folder can be written: the check runs as nobody then.
mkdir ro
cp keep.orig ro/keep.xlsx
chmod 555 ro
as_other() { if [ "$(id -u)" = 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi; }
cp "$TAPELENS" ./tapelens-copy
as_other ./tapelens-copy --xlsx=ro/keep.xlsx small.bdt 2>err
same "read-only folder: status and message" "1|ERROR: ro/keep.xlsx: cannot write in ro: Permission denied" "$?|$(cat err)"
check "read-only folder: unchanged" cmp -s ro/keep.xlsx keep.orig

before=$(names .)
for sig in INT TERM; do
  interrupt $sig 300000 big.bdt --xlsx=keep.xlsx small.bdt in.fifo
  status=$?
  same "SIG$sig while reading: status" "$([ $sig = INT ] && echo 130 || echo 143)" $status
  same "SIG$sig while reading: message" "ERROR: keep.xlsx: stopped; the workbook was not written" "$(cat err)"
  check "SIG$sig while reading: FILE unchanged" cmp -s keep.xlsx keep.orig
  same "SIG$sig while reading: nothing left behind" "$before" "$(names .)"
done

# A signal while the workbook is written (the inputs are read in a
# fraction of the time).
"$GEN_SAMPLE" --records 300000 --seed 45 >long.bdt
"$TAPELENS" --xlsx=keep.xlsx long.bdt 2>err &
pid=$!
sleep 1
kill -INT $pid
wait $pid
same "SIGINT while writing: status" 130 $?
same "SIGINT while writing: message" "ERROR: keep.xlsx: stopped; the workbook was not written" "$(cat err)"
check "SIGINT while writing: FILE unchanged" cmp -s keep.xlsx keep.orig
rm long.bdt
same "SIGINT while writing: nothing left behind" "$before" "$(names .)"

echo "== full disk"
# Disks of growing size: too small for the spool, for the sheet's XML, for
# putting the workbook together, then large enough. Each run either writes
# the whole workbook or fails and leaves FILE as it was, nothing else.
mkdir full
"$TAPELENS" --split=one-split one.bdt
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=4m tapelens-xlsx-full full 2>/dev/null; then
  umount full
  failed_runs=0 whole_runs=0
  for mb in 4 12 20 28 36 44; do
    mount -t tmpfs -o size=${mb}m tapelens-xlsx-full full
    cp keep.orig full/keep.xlsx
    before=$(names full)
    "$TAPELENS" --xlsx=full/keep.xlsx one.bdt 2>err
    status=$?
    if [ $status = 0 ]; then
      whole_runs=$((whole_runs + 1))
      check "$mb MB disk: a whole workbook" $PY "$CHECK" full/keep.xlsx one-split
    else
      failed_runs=$((failed_runs + 1))
      same "$mb MB disk: status and message" "1|ERROR: full/keep.xlsx: cannot write: No space left on device" "$status|$(cat err)"
      check "$mb MB disk: FILE unchanged" cmp -s full/keep.xlsx keep.orig
      same "$mb MB disk: nothing left behind" "$before" "$(names full)"
    fi
    umount full
  done
  check "some disks too small, some large enough" test $failed_runs -ge 3 -a $whole_runs -ge 1
  mount -t tmpfs -o size=8m tapelens-xlsx-full full
  "$TAPELENS" --xlsx=full/keep.xlsx small.bdt hostile.bdt 2>err
  same "a small workbook on a small disk: status" 0 $?
  "$TAPELENS" --split=small-split small.bdt hostile.bdt
  check "a small workbook on a small disk: as --split has it" $PY "$CHECK" full/keep.xlsx small-split
  umount full
else
  echo "note: full disk not checked here (mounting a small tmpfs needs root)"
fi

finish
