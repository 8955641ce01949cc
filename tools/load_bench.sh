#!/usr/bin/env bash
# Measures the database load on one generated BDT file (200 MB by default),
# each path once, in one run:
#   (a) tapelens --sqlite
#   (b) sqlite3 .import --csv of the --split files into the same tables, made beforehand
#   (c) tapelens --postgres
#   (d) psql \copy ... csv of the same files into the same tables, made beforehand
# and prints records per second and each ratio (targets: (a) at most 0.5
# times (b), (c) at most 0.9 times (d)); (a1) and (c1) are (a) and (c) with
# --jobs=1, rows converted and written on one thread. Then the peak resident
# size of a --sqlite and a --postgres load of a 1 GB file (target: under
# 64 MB).
#
#   tools/load_bench.sh [--size MB] [--big MB]
#
# PostgreSQL is a server of its own (tests/load/pg_server.sh) in a
# temporary folder, started and stopped here; run as root (initdb runs as
# the postgres user). Builds tapelens and gen_sample (Release) in
# ${BUILD:-build} when needed. Heavy: it is a benchmark, not a test.
set -euo pipefail
export LC_ALL=C

size_mb=200
big_mb=1024
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mb="$2"; shift ;;
    --big) big_mb="$2"; shift ;;
    *) echo "usage: $0 [--size MB] [--big MB]" >&2; exit 2 ;;
  esac
  shift
done

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build}"
if [ ! -x "$build/tapelens" ] || [ ! -x "$build/gen_sample" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target tapelens gen_sample >/dev/null
fi
tapelens="$build/tapelens"
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-load-bench.XXXXXX")
chmod 755 "$work"
state="$work/pg-state"
cleanup() {
  bash "$root/tests/load/pg_server.sh" stop "$state" || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
elapsed() { calc "$2 - $1"; }
rate() { awk "BEGIN { printf \"%.0f\", $records / $1 }"; }

"$build/gen_sample" --size "$size_mb" >in.bdt
records=$(grep -c '^[134]' in.bdt)
echo "input: $(stat -c %s in.bdt) bytes, $records records taken"

bash "$root/tests/load/pg_server.sh" start "$state"
sock=$(cat "$state")
base="host=$sock user=postgres"
psql "$base dbname=postgres" -X -q -c "CREATE DATABASE tl" -c "CREATE DATABASE tl1" -c "CREATE DATABASE peer"

# The --split files the peers load (not timed: they stand for any CSV export).
"$tapelens" --split=csv in.bdt
tables=$(ls csv | sed -n 's/^\(r[0-9]*_[0-9]*\)\.csv$/\1/p')

# (a)
t0=$(now)
"$tapelens" --sqlite=tl.db in.bdt
t1=$(now)
ta=$(elapsed "$t0" "$t1")
t0=$(now)
"$tapelens" --jobs=1 --sqlite=tl1.db in.bdt
t1=$(now)
ta1=$(elapsed "$t0" "$t1")

# (b): the same tables, empty, then one .import per file in one sqlite3 run.
sqlite3 tl.db .schema | sqlite3 peer.db
for t in $tables; do echo ".import --csv --skip 1 csv/$t.csv $t"; done >import.sql
t0=$(now)
sqlite3 peer.db <import.sql
t1=$(now)
tb=$(elapsed "$t0" "$t1")

# (c)
t0=$(now)
"$tapelens" --postgres="$base dbname=tl" in.bdt
t1=$(now)
tc=$(elapsed "$t0" "$t1")
t0=$(now)
"$tapelens" --jobs=1 --postgres="$base dbname=tl1" in.bdt
t1=$(now)
tc1=$(elapsed "$t0" "$t1")

# (d): the same tables, empty, then one \copy per file in one psql run.
pg_dump -s "$base dbname=tl" | psql "$base dbname=peer" -X -q >/dev/null
for t in $tables; do echo "\\copy $t FROM 'csv/$t.csv' CSV HEADER"; done >copy.sql
t0=$(now)
psql "$base dbname=peer" -X -q -v ON_ERROR_STOP=1 -f copy.sql
t1=$(now)
td=$(elapsed "$t0" "$t1")

rows_tl=$(psql "$base dbname=tl" -X -At -c "SELECT sum(records) FROM tapelens_files")
[ "$rows_tl" = "$records" ] || { echo "tapelens_files says $rows_tl records, expected $records" >&2; exit 1; }

printf '%-40s %9s %12s\n' "load" "seconds" "records/s"
printf '%-40s %9.2f %12s\n' "(a) tapelens --sqlite" "$ta" "$(rate "$ta")"
printf '%-40s %9.2f %12s\n' "(a1) tapelens --sqlite --jobs=1" "$ta1" "$(rate "$ta1")"
printf '%-40s %9.2f %12s\n' "(b) sqlite3 .import --csv" "$tb" "$(rate "$tb")"
printf '%-40s %9.2f %12s\n' "(c) tapelens --postgres" "$tc" "$(rate "$tc")"
printf '%-40s %9.2f %12s\n' "(c1) tapelens --postgres --jobs=1" "$tc1" "$(rate "$tc1")"
printf '%-40s %9.2f %12s\n' "(d) psql \\copy csv" "$td" "$(rate "$td")"
printf 'ratio (a)/(b): %s   ratio (c)/(d): %s   (targets: at most 0.5 and 0.9)\n' "$(calc "$ta / $tb")" "$(calc "$tc / $td")"
rm -rf csv tl.db tl1.db peer.db in.bdt

# Peak resident size of a 1 GB load, each database.
"$build/gen_sample" --size "$big_mb" >big.bdt
psql "$base dbname=postgres" -X -q -c "CREATE DATABASE big"
/usr/bin/time -v "$tapelens" --sqlite=big.db big.bdt 2>time-sqlite.txt
/usr/bin/time -v "$tapelens" --postgres="$base dbname=big" big.bdt 2>time-pg.txt
for k in sqlite pg; do
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' time-$k.txt)
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' time-$k.txt)
  printf 'peak resident size, %s MB file, --%s: %s kB (%s)\n' "$big_mb" "$([ $k = pg ] && echo postgres || echo sqlite)" "$kb" "$wall"
done
