#!/usr/bin/env bash
# A throw-away PostgreSQL server for the mirror tests, from Debian's packages:
# a cluster in a temporary folder that listens on a unix socket in that folder
# only (no network port). Run as root (CI), the cluster belongs to the system
# user "postgres", since the server refuses to run as root.
#
#   pg-test-server.sh start STATEFILE   makes and starts it; STATEFILE gets the
#                                       connection string (line 1) and the folder (line 2)
#   pg-test-server.sh down STATEFILE    stops it, keeping the cluster
#   pg-test-server.sh up STATEFILE      starts it again
#   pg-test-server.sh stop STATEFILE    stops it and removes the cluster
set -euo pipefail
cmd=${1:?start|down|up|stop}
state=${2:?state file}
PGBIN=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$PGBIN/initdb" ] || { echo "pg-test-server: PostgreSQL server binaries not found (apt-get install postgresql)" >&2; exit 1; }
owner() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
dir() { sed -n 2p "$state"; }
port() { sed -n 3p "$state"; }
pgstart() {
  local d; d=$(dir)
  owner "$PGBIN/pg_ctl" -D "$d/data" -l "$d/server.log" -w -t 30 \
    -o "-c listen_addresses='' -k $d -p $(port) -c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null
}
case "$cmd" in
  start)
    if [ -f "$state" ] && [ -d "$(dir)/data" ]; then "$0" stop "$state" || true; fi
    d=$(mktemp -d /tmp/velmo-pg.XXXXXX)
    chmod 755 "$d"
    [ "$(id -u)" = 0 ] && chown postgres "$d"
    owner "$PGBIN/initdb" -D "$d/data" -U velmo --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
    # The role velmo_pw logs in with a password (for the connection test's authentication case).
    owner sh -c "printf 'local all velmo_pw scram-sha-256\nlocal all all trust\n' > '$d/data/pg_hba.conf'"
    port=$((20000 + RANDOM % 20000))
    printf 'host=%s port=%s dbname=velmo user=velmo\n%s\n%s\n' "$d" "$port" "$d" "$port" > "$state"
    pgstart
    owner "$PGBIN/psql" -q -h "$d" -p "$port" -U velmo -d postgres \
      -c "CREATE DATABASE velmo" -c "CREATE ROLE velmo_pw LOGIN PASSWORD 'right-pw'" >/dev/null
    ;;
  down) owner "$PGBIN/pg_ctl" -D "$(dir)/data" -m fast -w stop >/dev/null ;;
  up) pgstart ;;
  stop)
    d=$(dir)
    owner "$PGBIN/pg_ctl" -D "$d/data" -m fast -w stop >/dev/null 2>&1 || true
    case "$d" in /tmp/velmo-pg.*) rm -rf "$d" ;; esac
    rm -f "$state"
    ;;
  *) echo "usage: $0 start|down|up|stop STATEFILE" >&2; exit 2 ;;
esac
