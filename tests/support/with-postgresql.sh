#!/usr/bin/env bash
# with-postgresql.sh COMMAND [ARG...]
#
# Starts a throwaway PostgreSQL server, runs COMMAND with QUADRIVEL_TEST_PG_URI
# naming a database on it, then stops the server and removes its folder,
# whatever COMMAND's outcome. The server runs as the unprivileged `postgres`
# user when started by root (initdb refuses root), listens only on a Unix
# socket in its own folder (no TCP port), and lets local connections in
# without a password, except quadrivel_mdp_essai.
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "with-postgresql.sh : le serveur PostgreSQL n'est pas installé (paquet postgresql)" >&2
    exit 1
fi

as_server_user=()
if [ "$(id -u)" -eq 0 ]; then
    as_server_user=(runuser -u postgres --)
fi

folder=$(mktemp -d /tmp/quadrivel-pg.XXXXXX)
chmod 0755 "$folder"
[ "$(id -u)" -eq 0 ] && chown postgres: "$folder"

stop_server() {
    if [ -f "$folder/data/postmaster.pid" ]; then
        "${as_server_user[@]}" "$bindir/pg_ctl" -D "$folder/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$folder"
}
trap stop_server EXIT

# Should this script be killed outright (a test runner's timeout), the server
# still goes once the script is gone; a start under way is waited for first.
script=$$
(
    trap - EXIT
    trap '' INT TERM
    while kill -0 "$script" 2>/dev/null; do sleep 1; done
    while pgrep -f "pg_ctl -D $folder/data" >/dev/null; do sleep 1; done
    stop_server
) >/dev/null 2>&1 &

# A free port number: the socket file's name carries it, no TCP port is opened.
port=$((20000 + RANDOM % 20000))
while [ -e "$folder/.s.PGSQL.$port" ]; do port=$((port + 1)); done

"${as_server_user[@]}" "$bindir/initdb" -D "$folder/data" -U postgres -A trust \
    --locale=C.UTF-8 -E UTF8 >"$folder/initdb.log" 2>&1 ||
    { cat "$folder/initdb.log" >&2; exit 1; }
# The role quadrivel_mdp_essai must give its password, so that a refused login
# can be tried; every other local role comes in freely.
hba="$folder/data/pg_hba.conf"
{ echo "local all quadrivel_mdp_essai scram-sha-256"; echo "local all all trust"; } >"$hba"
"${as_server_user[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w \
    -o "-c listen_addresses='' -c unix_socket_directories='$folder' -p $port -c fsync=off \
-c synchronous_commit=off -c full_page_writes=off" start >/dev/null ||
    { cat "$folder/server.log" >&2; exit 1; }

export QUADRIVEL_TEST_PG_URI="postgresql:///postgres?host=$folder&port=$port&user=postgres"
# In the background, so that a signal stops the server at once.
"$@" &
child=$!
trap 'kill "$child" 2>/dev/null; exit 130' INT TERM
wait "$child"
