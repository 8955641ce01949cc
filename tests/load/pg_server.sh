#!/usr/bin/env bash
# Starts or stops the PostgreSQL 15 server of the load tests: a cluster of
# its own in a temporary folder, run by the postgres user, listening only on
# a Unix socket in that folder (no TCP), trusted local connections.
#
#   pg_server.sh start STATEFILE   makes and starts the server; STATEFILE gets its folder
#   pg_server.sh stop STATEFILE    stops it and removes the folder
#
# Clients connect with "host=FOLDER user=postgres dbname=postgres".
set -euo pipefail
pgbin=/usr/lib/postgresql/15/bin
action=$1
state=$2
as_postgres() {
  if [ "$(id -un)" = postgres ]; then "$@"; else runuser -u postgres -- "$@"; fi
}
case "$action" in
  start)
    if [ ! -x "$pgbin/initdb" ]; then
      echo "PostgreSQL 15 is not installed ($pgbin/initdb); tools/install-deps.sh installs it" >&2
      exit 1
    fi
    if [ -s "$state" ] && [ -d "$(cat "$state")" ]; then "$0" stop "$state" || true; fi
    dir=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-pg.XXXXXX")
    chmod 755 "$dir"
    [ "$(id -un)" = postgres ] || chown postgres: "$dir"
    echo "$dir" >"$state"
    as_postgres "$pgbin/initdb" -D "$dir/data" -U postgres -A trust -E UTF8 --no-locale --no-sync >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    as_postgres "$pgbin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c max_connections=50" start >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    ;;
  stop)
    [ -s "$state" ] || exit 0
    dir=$(cat "$state")
    if [ -d "$dir/data" ]; then as_postgres "$pgbin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true; fi
    rm -rf "$dir"
    rm -f "$state"
    ;;
  *)
    echo "usage: pg_server.sh start|stop STATEFILE" >&2
    exit 2
    ;;
esac
