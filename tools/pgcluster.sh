#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests and benchmarks: in a new folder under /tmp, owned by an
# unprivileged user (nobody, when run as root), listening only on a Unix socket in that folder.
#   tools/pgcluster.sh start FILE   initdb and start; writes the cluster's address to FILE
#                                   (PGCLUSTER_DURABLE=1: flushed to disk at every commit, as a real server is)
#   tools/pgcluster.sh stop FILE    stop the cluster FILE names, remove its folder and FILE
# The address is postgresql:///postgres?host=FOLDER&user=OWNER; a test makes a database of its own there.
set -euo pipefail
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
file=${2:?"usage: $0 start|stop FILE"}

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u nobody -- "$@"
    else
        "$@"
    fi
}

case "$1" in
start)
    [ -x "$bin/initdb" ] || { echo "pgcluster: PostgreSQL is not installed (Debian package postgresql)" >&2; exit 1; }
    dir=$(mktemp -d /tmp/vantrel-pg.XXXXXX)
    [ "$(id -u)" -eq 0 ] && chown nobody: "$dir"
    chmod 755 "$dir"
    owner=$(stat -c %U "$dir")
    # C.UTF-8: texts sort by code point and fold case in every alphabet, as the register file does.
    as_owner "$bin/initdb" -D "$dir/data" -A trust -E UTF8 --locale=C.UTF-8 -U "$owner" >"$dir/initdb.log"
    # A login that must give a password, for the login window's tests; every other login is trusted.
    sed -i "1i local all vantrel_login scram-sha-256" "$dir/data/pg_hba.conf"
    # Durability is of no use to a cluster that lives for one test run; a benchmark may ask for it.
    durability="-c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    [ "${PGCLUSTER_DURABLE:-}" = 1 ] && durability=""
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -o "-c listen_addresses='' -k $dir $durability \
-c max_connections=100" start >/dev/null
    as_owner "$bin/psql" -q -h "$dir" -U "$owner" -d postgres \
        -c "CREATE ROLE vantrel_login LOGIN PASSWORD 'vantrel-test-login'" >/dev/null
    echo "postgresql:///postgres?host=$dir&user=$owner" >"$file"
    cat "$file"
    ;;
stop)
    [ -f "$file" ] || exit 0
    dir=$(sed -n 's|.*host=\([^&]*\).*|\1|p' "$file")
    if [ -n "$dir" ] && [ -f "$dir/data/postmaster.pid" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true
    fi
    case "$dir" in /tmp/vantrel-pg.*) rm -rf "$dir" ;; esac
    rm -f "$file"
    ;;
*)
    echo "usage: $0 start|stop FILE" >&2
    exit 2
    ;;
esac
