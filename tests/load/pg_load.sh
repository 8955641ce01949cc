#!/usr/bin/env bash
# --postgres end to end against the real PostgreSQL 15 server that
# pg_server.sh started (its folder in STATEFILE); each part in a database
# of its own, read back with psql and compared with -D.
#   pg_load.sh TAPELENS GEN_SAMPLE STATEFILE
source "$(dirname "$0")/lib.sh"
state=$3
if [ ! -s "$state" ]; then
  echo "FAILED: no PostgreSQL server for the tests (pg_server.sh start $state)"
  exit 1
fi
sock=$(cat "$state")
base="host=$sock user=postgres"
n=0
newdb() {  # makes an empty database and sets conn to it
  n=$((n + 1))
  PGOPTIONS="-c client_min_messages=warning" psql "$base dbname=postgres" -X -q -c "DROP DATABASE IF EXISTS t$n" -c "CREATE DATABASE t$n" || exit 1
  conn="$base dbname=t$n"
}
q() { psql "$conn" -X -q -At -v ON_ERROR_STOP=1 "$@" </dev/null; }
digest() { xxh128sum "$1" 2>/dev/null | cut -d' ' -f1; }

"$GEN_SAMPLE" --records 4000 --seed 31 >a.bdt
"$GEN_SAMPLE" --records 3000 --seed 32 >b.bdt
"$GEN_SAMPLE" --size 3 --seed 33 >c.bdt
cp "$DATA/small.bdt" "$DATA/hostile.bdt" .
for f in a.bdt b.bdt c.bdt; do dview $f; done

echo "== values, sums and metadata"
newdb
"$TAPELENS" --postgres="$conn" a.bdt b.bdt
same "two files load" 0 $?
bash "$HERE/pg_dump_csv.sh" "$conn" dump1
check "every row equals -D, every SQL SUM the exact -D sum" \
  python3 "$HERE/check_load.py" --sums dump1/sums csv dump1 a.bdt.D b.bdt.D
newdb
"$TAPELENS" --jobs=1 --postgres="$conn" a.bdt b.bdt
same "--jobs=1: two files load" 0 $?
bash "$HERE/pg_dump_csv.sh" "$conn" dump1j
check "--jobs=1 (tables made and rows sent on one thread): the same tables and rows" \
  diff -r dump1 dump1j
same "files" "1|a.bdt|$(stat -c %s a.bdt)|$(digest a.bdt)|$(grep -c '^[134]' a.bdt)|1.7.46.0
2|b.bdt|$(stat -c %s b.bdt)|$(digest b.bdt)|$(grep -c '^[134]' b.bdt)|1.7.46.0" \
  "$(q -c 'SELECT file_id, name, size, digest, records, version FROM tapelens_files ORDER BY file_id')"
same "loaded_at set" 2 "$(q -c 'SELECT count(*) FROM tapelens_files WHERE loaded_at > now() - interval '\''1 hour'\''')"
same "amount columns are NUMERIC(length, decimals)" "numeric|11|2" \
  "$(q -c "SELECT data_type, numeric_precision, numeric_scale FROM information_schema.columns
    WHERE table_name = 'r102690_50' AND column_name = 'pos_062_072_amount_2_decimals'")"
same "the same columns as tapelens_columns says" "" \
  "$(q -c "SELECT c.table_name, c.column_name FROM tapelens_columns c FULL JOIN information_schema.columns i
    ON i.table_name = c.table_name AND i.column_name = c.column_name AND i.ordinal_position = c.ordinal
    WHERE (c.table_name IS NULL AND i.table_name ~ '^r[0-9]{6}_[0-9]{2}$') OR (i.table_name IS NULL)")"
same "layouts" "r100101_01|100101.01|10|Bill record 100101.01" \
  "$(q -c "SELECT * FROM tapelens_layouts WHERE table_name = 'r100101_01'")"

echo "== more rows than are gathered at once"
# Past the bound on the rows gathered, the fullest tables go first and the
# others wait for more: every row still lands, on one thread or several.
"$GEN_SAMPLE" --size 12 --seed 35 >d.bdt
dview d.bdt
for j in 1 2; do
  newdb
  "$TAPELENS" --jobs=$j --postgres="$conn" d.bdt
  same "--jobs=$j: a 12 MB file loads" 0 $?
  bash "$HERE/pg_dump_csv.sh" "$conn" dumpd$j
  check "--jobs=$j: every row equals -D, every SQL SUM the exact -D sum" \
    python3 "$HERE/check_load.py" --sums dumpd$j/sums csv dumpd$j d.bdt.D
done

echo "== size and digest are of the bytes read"
newdb
gzip -c a.bdt >az.bdt.gz
zip -q am.zip b.bdt
"$TAPELENS" --postgres="$conn" az.bdt.gz am.zip
same "compressed and archived: load" 0 $?
same "size and digest of a compressed file's content and of an archive member" \
  "1|$(wc -c <a.bdt | tr -d ' ')|$(digest a.bdt)
2|$(wc -c <b.bdt | tr -d ' ')|$(digest b.bdt)" \
  "$(q -c 'SELECT file_id, size, digest FROM tapelens_files ORDER BY file_id')"

echo "== rejects and text bytes"
newdb
"$TAPELENS" --postgres="$conn" small.bdt hostile.bdt
same "load" 0 $?
same "amounts" "123.45|-1.00" \
  "$(q -c 'SELECT pos_062_072_amount_2_decimals, pos_073_083_amount_2_decimals FROM r102690_50 WHERE file_id = 1 AND line = 2')"
same "rejects of small.bdt" "6|unknown layout
8|unknown layout
9|short record (66 of 225 characters); amount cut short in pos_062_072_amount_2_decimals" \
  "$(q -c 'SELECT line, reason FROM tapelens_rejects WHERE file_id = 1 ORDER BY line')"
check "rejects keep the raw bytes" bash -c "for n in 6 8 9; do [ \"\$(psql '$conn' -X -At -c \"SELECT encode(raw, 'hex') FROM tapelens_rejects WHERE file_id = 1 AND line = \$n\")\" = \
    \"\$(sed -n \${n}p small.bdt | od -An -v -tx1 | tr -d ' \n')\" ] || exit 1; done"
bash "$HERE/pg_dump_csv.sh" "$conn" dump2
check "every text byte kept, from 0x80 as Latin-1 in UTF-8" python3 "$HERE/check_load.py" raw dump2 hostile.bdt 2

echo "== reload skipped"
newdb
"$TAPELENS" --postgres="$conn" a.bdt 2>/dev/null
"$TAPELENS" --postgres="$conn" a.bdt 2>err
same "status" 0 $?
same "notice" "NOTICE: PostgreSQL: a.bdt was loaded before (digest $(digest a.bdt)); skipped" "$(cat err)"
same "one row in files" "1|$(grep -c '^[134]' a.bdt)" "$(q -c 'SELECT count(*), sum(records) FROM tapelens_files')"
same "the records once" "$(grep -c '^10010100' a.bdt)" "$(q -c 'SELECT count(*) FROM r100101_00')"

# Two loaders given the same bytes at once: the unique digest lets one in.
newdb
"$TAPELENS" --postgres="$conn" c.bdt 2>err1 &
p1=$!
"$TAPELENS" --postgres="$conn" c.bdt 2>err2 &
p2=$!
wait $p1
s1=$?
wait $p2
s2=$?
same "the same file twice at once: both succeed" "0 0" "$s1 $s2"
same "the same file twice at once: one notice" 1 "$(cat err1 err2 | grep -c 'was loaded before')"
same "the same file twice at once: loaded once" "1|$(grep -c '^10010100' c.bdt)" \
  "$(q -c 'SELECT count(*) FROM tapelens_files')|$(q -c 'SELECT count(*) FROM r100101_00')"

echo "== four loaders at once"
newdb
for s in 41 42 43 44 45 46 47 48; do "$GEN_SAMPLE" --records 3000 --seed $s >p$s.bdt; done
ls p*.bdt | xargs -P 4 -n 1 "$TAPELENS" --postgres="$conn" 2>err
same "all succeed" "0|" "$?|$(cat err)"
same "all files in" "p41.bdt p42.bdt p43.bdt p44.bdt p45.bdt p46.bdt p47.bdt p48.bdt" \
  "$(q -c 'SELECT name FROM tapelens_files ORDER BY name' | tr '\n' ' ' | sed 's/ $//')"
order=$(q -c 'SELECT name FROM tapelens_files ORDER BY file_id')
for f in $order; do dview $f; done
bash "$HERE/pg_dump_csv.sh" "$conn" dump4
# shellcheck disable=SC2046
check "nothing lost: every row equals -D" python3 "$HERE/check_load.py" --sums dump4/sums csv dump4 $(for f in $order; do echo $f.D; done)

echo "== interrupted load"
for sig in INT TERM; do
  newdb
  interrupt $sig 1000000 c.bdt --postgres="$conn" a.bdt in.fifo
  status=$?
  same "SIG$sig status" "$([ $sig = INT ] && echo 130 || echo 143)" $status
  same "SIG$sig message" "ERROR: PostgreSQL: loading in.fifo stopped; nothing of it was kept" "$(cat err)"
  same "SIG$sig: only the first file" "1|a.bdt" "$(q -c 'SELECT file_id, name FROM tapelens_files')"
  same "SIG$sig: nothing of the second" 0 "$(q -c 'SELECT count(*) FROM r100101_00 WHERE file_id <> 1')"
  bash "$HERE/pg_dump_csv.sh" "$conn" dumpi$sig
  check "SIG$sig: the first file whole" python3 "$HERE/check_load.py" --sums dumpi$sig/sums csv dumpi$sig a.bdt.D
done

# lost_message WHAT: err says that the server ended the connection, in one
# of libpq's words for it (which depends on whether the server's last
# message came with a command's result or before it), and no server message
# stands bare as libpq's default prints one ("FATAL:  ..." on a line of its
# own); err is shown when it fails.
lost_message() {
  if grep -q -E "^(ERROR|NOTICE): PostgreSQL: .*(terminat|closed the connection|connection to server was lost)" err &&
    ! grep -q -E "^(FATAL|PANIC|ERROR|WARNING|NOTICE|INFO|LOG):  " err; then
    echo "ok: $1"
  else
    echo "FAILED: $1:"
    cat err
    failures=$((failures + 1))
  fi
}

echo "== lost server"
newdb
mkfifo in.fifo
"$TAPELENS" --postgres="$conn" a.bdt in.fifo 2>err &
pid=$!
{
  head -c 1000000 c.bdt
  sleep 1
  psql "$base dbname=postgres" -X -q -At -c "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity
    WHERE datname = 't$n' AND pid <> pg_backend_pid()" >/dev/null
  cat c.bdt
} >in.fifo
wait $pid
same "lost server: status" 1 $?
rm -f in.fifo
lost_message "lost server: message"
same "lost server: the first file kept, nothing of the second" "a.bdt|0" \
  "$(q -c 'SELECT name FROM tapelens_files')|$(q -c 'SELECT count(*) FROM r100101_00 WHERE file_id <> 1')"

echo "== lost server while the writer thread is behind"
# No pause before the server goes: the reader is as far ahead as it gets.
"$GEN_SAMPLE" --size 60 --seed 34 >big.bdt
newdb
mkfifo in.fifo
"$TAPELENS" --postgres="$conn" a.bdt in.fifo 2>err &
pid=$!
{
  head -c 30000000 big.bdt
  psql "$base dbname=postgres" -X -q -At -c "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity
    WHERE datname = 't$n' AND pid <> pg_backend_pid()" >/dev/null
  cat big.bdt
} >in.fifo 2>/dev/null
wait $pid
same "lost server, writer behind: status" 1 $?
rm -f in.fifo
lost_message "lost server, writer behind: message"
same "lost server, writer behind: the first file kept, nothing of the second" "a.bdt|0" \
  "$(q -c 'SELECT name FROM tapelens_files')|$(q -c 'SELECT count(*) FROM r100101_00 WHERE file_id <> 1')"
bash "$HERE/pg_dump_csv.sh" "$conn" dumpl
check "lost server, writer behind: the first file whole" python3 "$HERE/check_load.py" --sums dumpl/sums csv dumpl a.bdt.D

echo "== errors change nothing"
mkfifo never.fifo
timeout 20 "$TAPELENS" --postgres="host=$work/nothing-here user=postgres dbname=x" never.fifo 2>err
same "no server: fails before reading (no writer on the FIFO)" 1 $?
check "no server: message" grep -q "^ERROR: PostgreSQL: cannot connect: " err
timeout 20 "$TAPELENS" --postgres="$base dbname=no_such_db" never.fifo 2>err
same "no database: status" 1 $?
check "no database: message" grep -q 'database "no_such_db" does not exist' err
rm -f never.fifo
newdb
q -c 'CREATE TABLE r102690_50(file_id bigint, line bigint, idx bigint, x text)'
"$TAPELENS" --postgres="$conn" small.bdt 2>err
same "other columns: status" 1 $?
check "other columns: the message names the table" grep -q "table r102690_50 has other columns" err
# Tables are made as their layouts are met, so those made before the
# conflict stay, empty.
rows=$(q -c "SELECT string_agg(format('(SELECT count(*) FROM %I)', tablename), ' + ')
  FROM pg_tables WHERE tablename ~ '^r[0-9]{6}_[0-9]{2}$'")
same "other columns: nothing loaded" "0|0" "$(q -c "SELECT (SELECT count(*) FROM tapelens_files), $rows")"
newdb
PGHOST=$sock PGUSER=postgres PGDATABASE=t$n "$TAPELENS" --postgres= b.bdt
same "empty CONNINFO: the PG variables" "1|b.bdt" "$(q -c "SELECT count(*), max(name) FROM tapelens_files")"

finish
