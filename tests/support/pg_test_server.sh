#!/usr/bin/env bash
# The tests' private PostgreSQL server: a cluster in a new temporary folder that
# listens on a Unix socket in that folder only (no TCP port), with trust
# authentication except for the role "pwuser", which must give its password.
#   pg_test_server.sh start BINDIR STATE   (STATE: a folder of the build tree;
#                                            its file "url" names the server)
#   pg_test_server.sh stop BINDIR STATE    (stops it and removes its folder)
# initdb and postgres refuse to run as root: as root they run as the postgres
# user (or nobody) in a folder that user owns.
set -euo pipefail
action=$1 bindir=$2 state=$3

run=()
if [ "$(id -u)" -eq 0 ]; then
  user=postgres
  id -u "$user" >/dev/null 2>&1 || user=nobody
  run=(runuser -u "$user" --)
fi

stop() {
  [ -f "$state/dir" ] || return 0
  local dir
  dir=$(cat "$state/dir")
  if [ -d "$dir/data" ]; then
    "${run[@]}" "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir" "$state/dir" "$state/url"
}

case $action in
start)
  stop
  mkdir -p "$state"
  dir=$(mktemp -d "${TMPDIR:-/tmp}/qarsilo-pg.XXXXXX")
  echo "$dir" >"$state/dir"
  if [ ${#run[@]} -gt 0 ]; then chown "$user" "$dir"; fi
  if ! "${run[@]}" "$bindir/initdb" -D "$dir/data" -U qarsilo -A trust -E UTF8 --no-sync \
      >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log"
    exit 1
  fi
  printf 'local all pwuser scram-sha-256\nlocal all all trust\n' >"$dir/data/pg_hba.conf"
  if ! "${run[@]}" "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-c listen_addresses='' -k $dir -c fsync=off -c max_connections=60" start >/dev/null; then
    cat "$dir/server.log"
    exit 1
  fi
  "${run[@]}" "$bindir/psql" -h "$dir" -U qarsilo -d postgres -q -v ON_ERROR_STOP=1 \
    -c "CREATE ROLE pwuser LOGIN SUPERUSER PASSWORD 'secret-pw'" >/dev/null
  echo "postgresql://qarsilo@/postgres?host=$dir" >"$state/url"
  ;;
stop) stop ;;
*) echo "usage: $0 start|stop BINDIR STATE" >&2; exit 2 ;;
esac
