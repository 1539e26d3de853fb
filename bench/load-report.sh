#!/usr/bin/env bash
# bench/load-report.sh [BUILD_FOLDER]
#
# Many readers at once: 1, 10 and 50 quadrivel-report processes running side
# by side against one SQLite file and, when a server is named, against one
# PostgreSQL database, both holding the larger organisation (30 levels, 150
# agencies, 600 users) at 5 million figures. Two reports are measured: the
# administrator's (KOVAR, every level) and a head's (the agencies of level
# U001, as its head sees them). Each client runs a bounded number of reports
# one after the other; then the same again at 10 and 50 clients while an
# administrator adds and deletes a level and its agencies' links in a loop,
# with the statements and locks of the administration windows.
#
# Printed at the end: one table line per run, with the median (p50) and 95th
# percentile (p95) seconds per report, the reports per second of the whole
# run, that throughput over one client's, the p95 change the writer brings and
# the errors (a report that fails or passes its time limit; there should be
# none).
#
#   bench/load-report.sh                                   # SQLite only
#   tests/support/with-postgresql.sh bench/load-report.sh  # and a throwaway server
#
# QUADRIVEL_BENCH_DIR keeps the sample file between runs (the benchmark's own
# larger-5m.db); QUADRIVEL_BENCH_PG_URI names a server of your own (a role that
# may create databases and roles), where quadrivel_bench_larger_5m is made once
# and kept, as the benchmark does. On a server, db/roles-postgresql.sql is
# applied to that database and two logins are made for the readers:
# quadrivel_charge_admin (group quadrivel_admin) and quadrivel_charge_chef
# (group quadrivel_lecteur, head of U001 where the database maps logins to
# user codes), so that the server's rights apply as to a real reader; the
# server must let them in without a password (local trust, or ~/.pgpass).
#
# Bounds: QUADRIVEL_LOAD_CLIENTS (default "1 10 50", at most 50 each),
# QUADRIVEL_LOAD_REPORTS (reports per run, default 100, shared among the
# clients, at least one each), QUADRIVEL_LOAD_ROWS (default 5000000); every
# report is stopped after 120 seconds and counted as an error. Only Unix
# sockets and files are used.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
report=$build/quadrivel-report
sample=$build/quadrivel-sample
for tool in "$report" "$sample"; do
    [ -x "$tool" ] || { echo "load-report.sh : $tool manque (cmake --build build)" >&2; exit 1; }
done

clients_list=${QUADRIVEL_LOAD_CLIENTS:-1 10 50}
reports_per_run=${QUADRIVEL_LOAD_REPORTS:-100}
rows=${QUADRIVEL_LOAD_ROWS:-5000000}
report_limit=120
head_level=U001
organisation=(--levels 30 --agencies 150 --users 600)
for n in $clients_list; do
    if [ "$n" -lt 1 ] || [ "$n" -gt 50 ]; then
        echo "load-report.sh : de 1 à 50 clients, pas $n" >&2
        exit 2
    fi
done
if [ "$reports_per_run" -lt 1 ] || [ "$reports_per_run" -gt 1000 ]; then
    echo "load-report.sh : de 1 à 1000 rapports par mesure, pas $reports_per_run" >&2
    exit 2
fi

work=$(mktemp -d /tmp/quadrivel-load.XXXXXX)
writer_pid=
client_pids=()
cleanup() {
    for pid in $writer_pid "${client_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

folder=${QUADRIVEL_BENCH_DIR:-$work}
mkdir -p "$folder"
if [ "$rows" -eq 5000000 ]; then
    name=larger-5m
else
    name=larger-$rows
fi
file=$folder/$name.db
if [ ! -f "$file" ]; then
    "$sample" "$file" --rows "$rows" "${organisation[@]}" >&2
fi

# A database URI with another database name, and with another login.
with_database() { # URI NAME
    local uri=$1 query=
    [[ $uri == *\?* ]] && query="?${uri#*\?}"
    local base=${uri%%\?*}
    local authority=${base#*://}
    authority=${authority%%/*}
    echo "${base%%://*}://$authority/$2$query"
}
with_login() { # URI LOGIN
    local uri=$1 base=${1%%\?*} query='' kept=()
    [[ $uri == *\?* ]] && query=${uri#*\?}
    local IFS='&'
    for item in $query; do
        [[ $item == user=* ]] || kept+=("$item")
    done
    kept+=("user=$2")
    echo "$base?${kept[*]}"
}

server=${QUADRIVEL_BENCH_PG_URI:-${QUADRIVEL_TEST_PG_URI:-}}
if [ -n "$server" ]; then
    pg_database=quadrivel_bench_larger_5m
    [ "$rows" -eq 5000000 ] || pg_database=quadrivel_bench_larger_$rows
    pg_uri=$(with_database "$server" "$pg_database")
    if [ -z "$(psql -X -At -d "$server" -c "SELECT 1 FROM pg_database WHERE datname = '$pg_database'")" ]; then
        psql -X -q -d "$server" -c "CREATE DATABASE $pg_database"
        "$sample" "$pg_uri" --rows "$rows" "${organisation[@]}" >&2
    fi
    psql -X -q -v ON_ERROR_STOP=1 -d "$pg_uri" -f "$root/db/roles-postgresql.sql" >/dev/null
    psql -X -q -v ON_ERROR_STOP=1 -d "$pg_uri" >/dev/null <<SQL
DO \$\$
BEGIN
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quadrivel_charge_admin') THEN
        CREATE ROLE quadrivel_charge_admin LOGIN IN ROLE quadrivel_admin;
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = 'quadrivel_charge_chef') THEN
        CREATE ROLE quadrivel_charge_chef LOGIN IN ROLE quadrivel_lecteur;
    END IF;
    -- Where the database maps logins to user codes, each login gets its own.
    IF to_regclass('acces_utilisateur') IS NOT NULL THEN
        DELETE FROM acces_utilisateur
            WHERE login IN ('quadrivel_charge_admin', 'quadrivel_charge_chef');
        INSERT INTO acces_utilisateur (login, code)
            VALUES ('quadrivel_charge_admin', 'KOVAR'), ('quadrivel_charge_chef', '$head_level');
    END IF;
END
\$\$;
SQL
    pg_admin_uri=$(with_login "$pg_uri" quadrivel_charge_admin)
    pg_head_uri=$(with_login "$pg_uri" quadrivel_charge_chef)
fi

# An administrator's write, as the administration windows make it: a level
# for a user who heads none, two agencies linked to it, then the links and the
# level deleted, each step in its own write transaction under the windows'
# locks. One write every 0.2 seconds.
writer() { # ENGINE DATABASE
    local engine=$1 database=$2 i=0
    # A level left by a writer stopped half-way goes first.
    write "$engine" "$database" \
        "DELETE FROM niveau_agence  WHERE niveau = 'U600' ; DELETE FROM dim_niveau  WHERE code = 'U600'"
    while :; do
        i=$(((i + 1) % 2))
        local steps=(
            "INSERT INTO dim_niveau ( code , libelle ) values ('U600','Niveau de charge' )"
            "INSERT INTO niveau_agence ( niveau , agence ) values ('U600','A00$((i + 1))' )
             ; INSERT INTO niveau_agence ( niveau , agence ) values ('U600','A10$((i + 1))' )"
            "DELETE FROM niveau_agence  WHERE niveau = 'U600' ; DELETE FROM dim_niveau  WHERE code = 'U600'"
        )
        for step in "${steps[@]}"; do
            write "$engine" "$database" "$step" || echo x >>"$work/writer-failed"
            echo x >>"$work/writer-done"
            sleep 0.2
        done
    done
}
write() { # ENGINE DATABASE STATEMENTS
    if [ "$1" = sqlite ]; then
        printf '.timeout 5000\nBEGIN IMMEDIATE;\n%s;\nCOMMIT;\n' "$3" |
            sqlite3 -bail "$2" >/dev/null 2>>"$work/writer-errors"
    else
        printf 'SET lock_timeout = 5000;\nBEGIN;\nLOCK TABLE dim_niveau, niveau_agence IN SHARE ROW EXCLUSIVE MODE;\n%s;\nCOMMIT;\n' "$3" |
            psql -X -q -v ON_ERROR_STOP=1 -d "$2" >/dev/null 2>>"$work/writer-errors"
    fi
}

# One client: COUNT reports one after the other, each line "SECONDS STATUS".
client() { # OUTPUT COUNT DATABASE USER [OPTION...]
    local output=$1 count=$2
    shift 2
    for ((r = 0; r < count; r++)); do
        local start=$EPOCHREALTIME status=0
        timeout "$report_limit" "$report" "$@" >/dev/null 2>>"$output.errors" || status=$?
        local end=$EPOCHREALTIME
        echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }') $status" >>"$output"
    done
}

count_lines() {
    if [ -f "$1" ]; then wc -l <"$1"; else echo 0; fi
}

# The nearest-rank percentile P of the numbers on standard input.
percentile() {
    sort -g | awk -v p="$1" '{ v[NR] = $1 } END { i = int((p * NR + 99) / 100); if (i < 1) i = 1; printf "%.3f", v[i] }'
}

declare -A p95_alone throughput_one
lines=()
run() { # ENGINE KIND WRITER CLIENTS DATABASE USER [OPTION...]
    local engine=$1 kind=$2 with_writer=$3 clients=$4
    shift 4
    local each=$(((reports_per_run + clients - 1) / clients))
    rm -f "$work"/client-* "$work"/writer-*
    if [ "$with_writer" = yes ]; then
        if [ "$engine" = sqlite ]; then writer sqlite "$file" & else writer postgresql "$pg_admin_uri" & fi
        writer_pid=$!
        sleep 0.5
    fi
    local start=$EPOCHREALTIME
    client_pids=()
    for ((c = 0; c < clients; c++)); do
        client "$work/client-$c" "$each" "$@" &
        client_pids+=($!)
    done
    wait "${client_pids[@]}"
    client_pids=()
    local end=$EPOCHREALTIME
    local writes=0 write_errors=0
    if [ -n "$writer_pid" ]; then
        kill "$writer_pid" 2>/dev/null
        wait "$writer_pid" 2>/dev/null || true
        writer_pid=
        writes=$(count_lines "$work/writer-done")
        write_errors=$(count_lines "$work/writer-failed")
    fi
    cat "$work"/client-[0-9]* | sort -g >"$work/all"
    local done_count errors p50 p95 rate
    done_count=$(wc -l <"$work/all")
    errors=$(awk '$2 != 0' "$work/all" | wc -l)
    p50=$(awk '$2 == 0 { print $1 }' "$work/all" | percentile 50)
    p95=$(awk '$2 == 0 { print $1 }' "$work/all" | percentile 95)
    rate=$(awk -v n="$done_count" -v e="$errors" -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", (n - e) / (b - a) }')
    local key=$engine-$kind-$clients gain=- change=-
    if [ "$with_writer" = no ]; then
        p95_alone[$key]=$p95
        [ "$clients" -eq 1 ] && throughput_one[$engine-$kind]=$rate
    elif [ -n "${p95_alone[$key]:-}" ]; then
        change=$(awk -v a="${p95_alone[$key]}" -v b="$p95" 'BEGIN { printf "%+.0f %%", (b / a - 1) * 100 }')
    fi
    if [ -n "${throughput_one[$engine-$kind]:-}" ]; then
        gain=$(awk -v a="${throughput_one[$engine-$kind]}" -v b="$rate" 'BEGIN { printf "%.2f", b / a }')
    fi
    local writer_text=no
    [ "$with_writer" = yes ] && writer_text="$writes ($write_errors errors)"
    local line="| $engine | $kind | $clients | $writer_text | $done_count | $p50 | $p95 | $change | $rate | $gain | $errors |"
    lines+=("$line")
    echo "$line" >&2
    if [ "$errors" -gt 0 ]; then
        echo "errors, first ones:" >&2
        cat "$work"/client-*.errors 2>/dev/null | sort | uniq -c | head -5 >&2
    fi
}

measure() { # ENGINE ADMIN_DATABASE HEAD_DATABASE
    local engine=$1 admin_db=$2 head_db=$3
    # One report first, so that the database's pages are in the system's cache.
    "$report" "$admin_db" KOVAR >/dev/null
    "$report" "$head_db" "$head_level" --level "$head_level" >/dev/null
    for kind in administrator head; do
        local arguments=("$admin_db" KOVAR)
        [ "$kind" = head ] && arguments=("$head_db" "$head_level" --level "$head_level")
        for clients in $clients_list; do
            run "$engine" "$kind" no "$clients" "${arguments[@]}"
        done
        for clients in $clients_list; do
            if [ "$clients" -gt 1 ]; then run "$engine" "$kind" yes "$clients" "${arguments[@]}"; fi
        done
    done
}

echo "load-report.sh: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start" >&2
measure sqlite "$file" "$file"
if [ -n "$server" ]; then measure postgresql "$pg_admin_uri" "$pg_head_uri"; fi

echo "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
echo "| engine | report | clients | writer (writes) | reports | p50 s | p95 s | p95 with writer | reports/s | × one client | errors |"
echo "|---|---|---|---|---|---|---|---|---|---|---|"
printf '%s\n' "${lines[@]}"
