#!/usr/bin/env bash
# with-postgresql.sh [--standby] COMMAND [ARG...]
#
# Starts a throwaway PostgreSQL server, runs COMMAND with QUADRIVEL_TEST_PG_URI
# naming a database on it, then stops the server and removes its folder,
# whatever COMMAND's outcome. With --standby, a streaming standby of it (a read
# replica, made by pg_basebackup -R in a second data folder, on its own socket
# folder) runs too, named by QUADRIVEL_TEST_PG_STANDBY_URI. The server runs as the unprivileged `postgres`
# user when started by root (initdb refuses root), listens only on a Unix
# socket in its own folder (no TCP port), and lets local connections in
# without a password, except quadrivel_mdp_essai.
#
# However the run ends (COMMAND killed, this script killed, a test runner
# killing this script and everything under it on its time limit), the server
# is stopped and its folder removed: a watchdog outside this script's process
# tree does it once the script is gone. A folder left by a run that could not
# clean up (the machine stopped) is removed by the next run.
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    echo "with-postgresql.sh : le serveur PostgreSQL n'est pas installé (paquet postgresql)" >&2
    exit 1
fi

as_server_user=()
if [ "$(id -u)" -eq 0 ]; then
    # From /, which the server user may enter whatever folder the tests run in.
    as_server_user=(env --chdir=/ runuser -u postgres --)
fi

# A process's start time, in clock ticks since boot: with its number, it names
# one process even once the number is reused. Empty when it is gone.
started_at() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # The fields after the command name, which is between parentheses.
    # shellcheck disable=SC2086
    set -- ${stat##*) }
    echo "${20}"
}

# Whether the process recorded in a file ("PID START") still runs.
recorded_alive() {
    local pid start
    [ -f "$1" ] || return 1
    read -r pid start <"$1" || return 1
    [ -n "$pid" ] && [ "$(started_at "$pid")" = "$start" ]
}

# The processes whose command line names a file of this folder: initdb, pg_ctl
# and the server itself.
folder_processes() {
    # The pattern's brackets keep grep from finding its own command line.
    grep -lz -e "$1/dat[a]" /proc/[0-9]*/cmdline 2>/dev/null | sed 's|^/proc/||; s|/cmdline$||' ||
        true
}

# Stops the server of a folder (immediate shutdown), ends whatever else runs
# on it, and removes the folder.
clean_folder() {
    local target=$1 pid attempt data
    for data in "$target/data-standby" "$target/data"; do
        if [ -f "$data/postmaster.pid" ]; then
            "${as_server_user[@]}" "$bindir/pg_ctl" -D "$data" -m immediate -w -t 30 stop \
                >/dev/null 2>&1 || true
        fi
    done
    for pid in $(folder_processes "$target"); do
        [ "$pid" != "$$" ] && kill -KILL "$pid" 2>/dev/null || true
    done
    for attempt in 1 2 3 4 5; do
        rm -rf "$target" 2>/dev/null && [ ! -e "$target" ] && return 0
        sleep 1
    done
}

# The watchdog: waits for the script (and its COMMAND, once known) to end,
# then ends COMMAND should it outlive the script, and cleans the folder.
if [ "${1-}" = "--watchdog" ]; then
    folder=$2
    while recorded_alive "$folder/owner"; do sleep 1; done
    if recorded_alive "$folder/command"; then
        read -r pid _ <"$folder/command"
        kill -KILL "$pid" 2>/dev/null || true
    fi
    [ -d "$folder" ] && clean_folder "$folder"
    exit 0
fi

standby=no
if [ "${1-}" = "--standby" ]; then
    standby=yes
    shift
fi

# Folders of earlier runs whose script is gone: their watchdog could not run
# (the machine stopped). A folder without an owner (made before runs recorded
# theirs, or being made right now) goes only once old and without a server.
for old in /tmp/quadrivel-pg.*; do
    [ -d "$old" ] || continue
    if [ -f "$old/owner" ]; then
        recorded_alive "$old/owner" || clean_folder "$old"
    elif [ -n "$(find "$old" -maxdepth 0 -mmin +60)" ] && [ -z "$(folder_processes "$old")" ]; then
        rm -rf "$old" 2>/dev/null || true
    fi
done

folder=$(mktemp -d /tmp/quadrivel-pg.XXXXXX)
chmod 0755 "$folder"
echo "$$ $(started_at $$)" >"$folder/owner"
[ "$(id -u)" -eq 0 ] && chown postgres: "$folder"

# In a session of its own whose parent ends at once: no longer under this
# script, so that killing the script's process tree leaves it running.
setsid -f bash "${BASH_SOURCE[0]}" --watchdog "$folder" </dev/null >/dev/null 2>&1

trap 'clean_folder "$folder"' EXIT
trap 'exit 130' INT TERM HUP

# A free port number: the socket file's name carries it, no TCP port is opened.
port=$((20000 + RANDOM % 20000))
while [ -e "$folder/.s.PGSQL.$port" ]; do port=$((port + 1)); done

"${as_server_user[@]}" "$bindir/initdb" -D "$folder/data" -U postgres -A trust \
    --locale=C.UTF-8 -E UTF8 >"$folder/initdb.log" 2>&1 ||
    { cat "$folder/initdb.log" >&2; exit 1; }
# The role quadrivel_mdp_essai must give its password, so that a refused login
# can be tried; every other local role comes in freely.
hba="$folder/data/pg_hba.conf"
# A standby's base backup and its stream come in as replication connections.
{
    echo "local all quadrivel_mdp_essai scram-sha-256"
    echo "local all all trust"
    echo "local replication all trust"
} >"$hba"
"${as_server_user[@]}" "$bindir/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w \
    -o "-c listen_addresses='' -c unix_socket_directories='$folder' -p $port -c fsync=off \
-c synchronous_commit=off -c full_page_writes=off" start >/dev/null ||
    { cat "$folder/server.log" >&2; exit 1; }

export QUADRIVEL_TEST_PG_URI="postgresql:///postgres?host=$folder&port=$port&user=postgres"

# The standby: a copy of the server's data folder that follows its changes
# (pg_basebackup -R writes the connection to the server and standby.signal),
# read-only, on a socket folder of its own.
if [ "$standby" = yes ]; then
    standby_port=$((port + 1))
    mkdir -m 0755 "$folder/standby"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$folder/standby"
    "${as_server_user[@]}" "$bindir/pg_basebackup" -D "$folder/data-standby" -R -X stream \
        -h "$folder" -p "$port" -U postgres >"$folder/basebackup.log" 2>&1 ||
        { cat "$folder/basebackup.log" >&2; exit 1; }
    "${as_server_user[@]}" "$bindir/pg_ctl" -D "$folder/data-standby" -l "$folder/standby.log" -w \
        -o "-c listen_addresses='' -c unix_socket_directories='$folder/standby' -p $standby_port \
-c fsync=off -c synchronous_commit=off -c full_page_writes=off" start >/dev/null ||
        { cat "$folder/standby.log" >&2; exit 1; }
    export QUADRIVEL_TEST_PG_STANDBY_URI="postgresql:///postgres?host=$folder/standby&port=$standby_port&user=postgres"
fi
# In the background, so that a signal stops the server at once.
"$@" &
child=$!
echo "$child $(started_at "$child")" >"$folder/command"
trap 'kill "$child" 2>/dev/null; exit 130' INT TERM HUP
wait "$child"
