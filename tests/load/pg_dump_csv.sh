#!/usr/bin/env bash
# Writes the tapelens tables of a PostgreSQL database as CSV files with a
# header row into DIR, as --split writes them, and the SUM of every amount
# column into DIR/sums ("table|ordinal|sum"), for check_load.py.
#
#   pg_dump_csv.sh CONNINFO DIR
set -euo pipefail
conn=$1
dir=$2
mkdir -p "$dir"
q() { psql "$conn" -X -q -v ON_ERROR_STOP=1 "$@"; }
q -c "\\copy (SELECT * FROM tapelens_layouts ORDER BY table_name) TO '$dir/tapelens_layouts.csv' CSV HEADER"
q -c "\\copy (SELECT * FROM tapelens_columns ORDER BY table_name, ordinal) TO '$dir/tapelens_columns.csv' CSV HEADER"
# One psql run for all tables.
for t in $(q -At -c "SELECT table_name FROM tapelens_layouts"); do
  echo "\\copy (SELECT * FROM \"$t\" ORDER BY file_id, line) TO '$dir/$t.csv' CSV HEADER"
done | q
q -At >"$dir/sums" <<'SQL'
SELECT format('SELECT %L || ''|'' || %s || ''|'' || coalesce(sum(%I), 0) FROM %I', table_name, ordinal,
  column_name, table_name) FROM tapelens_columns WHERE decimals IS NOT NULL ORDER BY table_name, ordinal
\gexec
SQL
