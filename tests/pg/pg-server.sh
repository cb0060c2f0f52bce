#!/bin/sh
# A throwaway PostgreSQL server for the test run.
#
#   pg-server.sh start STATE_DIR   initdb + pg_ctl start in a new temporary
#                                  folder, listening on a unix socket in that
#                                  folder only; writes the server's URI to
#                                  STATE_DIR/pg-test-server.uri.  A server
#                                  an earlier run left for STATE_DIR (a run
#                                  killed before its stop) is stopped first.
#   pg-server.sh stop STATE_DIR    stops it and removes the folder
#   pg-server.sh halt STATE_DIR    stops it, keeping its data (a server
#                                  restart as hosts see it)
#   pg-server.sh resume STATE_DIR  starts the halted server again
#
# Run as root (as CI does), the server runs as the `postgres` user.
set -eu
action=${1:?start or stop}
state=${2:?state directory}
uri_file=$state/pg-test-server.uri
dir_file=$state/pg-test-server.dir

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bindir" ] || bindir=$(dirname "$(command -v initdb 2>/dev/null || echo /nonexistent/initdb)")
if [ "$(id -u)" = 0 ]; then
  owner=postgres
  as_owner() { su postgres -s /bin/sh -c "$*"; }
else
  owner=$(id -un)
  as_owner() { sh -c "$*"; }
fi

stop() {
  [ -f "$dir_file" ] || return 0
  dir=$(cat "$dir_file")
  if [ -d "$dir/data" ]; then
    as_owner "'$bindir/pg_ctl' -D '$dir/data' -m immediate -w -t 20 stop" >/dev/null 2>&1 || true
    # A server that did not stop in time (a loaded machine, an earlier
    # run killed half-way) must not outlive its folder.
    pid=$(head -n 1 "$dir/data/postmaster.pid" 2>/dev/null || true)
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -rf "$dir"
  rm -f "$dir_file" "$uri_file"
}

serve() {
  as_owner "'$bindir/pg_ctl' -D '$dir/data' -l '$dir/server.log' -w -t 60 \
    -o \"-c listen_addresses='' -c unix_socket_directories='$dir' -c fsync=off -c max_connections=200\" start" >/dev/null
}

case $action in
  start)
    stop
    [ -x "$bindir/initdb" ] || { echo "pg-server.sh: no PostgreSQL server binaries (apt install postgresql)" >&2; exit 1; }
    dir=$(mktemp -d "${TMPDIR:-/tmp}/kiv-pg.XXXXXX")
    echo "$dir" >"$dir_file"
    chmod 755 "$dir"
    [ "$owner" = "$(id -un)" ] || chown "$owner" "$dir"
    if ! as_owner "'$bindir/initdb' -D '$dir/data' -N -A trust -E UTF8 --locale=C.UTF-8 -U '$owner'" >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2; stop; exit 1
    fi
    if ! serve; then
      cat "$dir/server.log" >&2; stop; exit 1
    fi
    echo "postgresql:///postgres?host=$dir&user=$owner" >"$uri_file"
    echo "PostgreSQL test server: $(cat "$uri_file")"
    ;;
  stop) stop ;;
  halt) dir=$(cat "$dir_file") && as_owner "'$bindir/pg_ctl' -D '$dir/data' -m fast -w stop" >/dev/null ;;
  resume) dir=$(cat "$dir_file") && serve ;;
  *) echo "usage: $0 start|stop|halt|resume STATE_DIR" >&2; exit 2 ;;
esac
