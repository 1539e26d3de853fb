#!/usr/bin/env bash
# The throwaway server of with-postgresql.sh goes, with its folder, however
# the run ends: the test program killed, the script killed (TERM or KILL),
# the script and everything under it killed at once as a test runner does on
# its time limit; and a folder left by a run that could not clean up is
# removed by the next run. The runs go side by side.
set -uo pipefail

wrapper="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/with-postgresql.sh"
work=$(mktemp -d /tmp/quadrivel-pg-essai.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "ÉCHEC : $*" >&2
    failures=$((failures + 1))
}

# Waits up to a minute for a condition; false when it never held.
eventually() {
    local i
    for i in $(seq 1 120); do
        "$@" && return 0
        sleep 0.5
    done
    return 1
}

gone() { ! kill -0 "$1" 2>/dev/null; }
no_folder() { [ ! -e "$1" ]; }

# Starts the wrapper around a test program that records what it sees and then
# waits; sets run_pid, program_pid, folder and postmaster once the server is
# up.
start() {
    local name=$1
    mkdir -p "$work/$name"
    "$wrapper" bash -c 'echo "$QUADRIVEL_TEST_PG_URI" >"$1/uri.tmp"; echo $$ >"$1/pid";
        mv "$1/uri.tmp" "$1/uri"; exec sleep 600' _ "$work/$name" >"$work/$name/out" 2>&1 &
    run_pid=$!
    if ! eventually test -s "$work/$name/uri"; then
        fail "$name : le serveur n'a pas démarré"
        cat "$work/$name/out" >&2
        return 1
    fi
    program_pid=$(cat "$work/$name/pid")
    folder=$(sed 's/.*host=\([^&]*\).*/\1/' "$work/$name/uri")
    postmaster=$(head -n 1 "$folder/data/postmaster.pid")
    kill -0 "$postmaster" || fail "$name : pas de serveur en marche"
}

# Everything of the run ended and its folder removed.
check_cleaned() {
    local name=$1
    eventually gone "$postmaster" || fail "$name : le serveur tourne encore"
    eventually gone "$program_pid" || fail "$name : le programme de test tourne encore"
    eventually no_folder "$folder" || fail "$name : le dossier $folder reste"
}

# The test program killed outright: the script ends, failing, and cleans up
# before it returns.
program_killed() {
    start programme || return
    kill -KILL "$program_pid"
    wait "$run_pid"
    local status=$?
    [ "$status" -ne 0 ] || fail "programme : la fin forcée du programme passe pour un succès"
    no_folder "$folder" || fail "programme : le dossier reste après la fin du script"
    check_cleaned programme
}

# The script killed, politely or outright, while its test program runs.
script_killed() {
    local signal=$1
    start "script-$signal" || return
    kill "-$signal" "$run_pid"
    check_cleaned "script-$signal"
}

# The script and every process under it stopped, then killed, at once.
tree_killed() {
    start arbre || return
    local pids=() queue=("$run_pid") pid child
    while [ ${#queue[@]} -gt 0 ]; do
        pid=${queue[0]}
        queue=("${queue[@]:1}")
        pids+=("$pid")
        for child in $(ps -o pid= --ppid "$pid"); do queue+=("$child"); done
    done
    kill -STOP "${pids[@]}" 2>/dev/null
    kill -KILL "${pids[@]}" 2>/dev/null
    check_cleaned arbre
}

# A folder whose run ended without cleaning up (its owner is gone) is removed
# by the next run, which works as usual.
leftover_removed() {
    local left
    left=$(mktemp -d /tmp/quadrivel-pg.XXXXXX)
    mkdir "$left/data"
    bash -c 'exit 0' &
    local dead=$!
    wait "$dead"
    echo "$dead 1" >"$left/owner"
    "$wrapper" bash -c 'psql -X -Atc "SELECT 41 + 1" "$QUADRIVEL_TEST_PG_URI"' >"$work/reste" 2>&1 ||
        fail "reste : la série suivante a échoué : $(cat "$work/reste")"
    [ "$(cat "$work/reste")" = 42 ] || fail "reste : réponse inattendue : $(cat "$work/reste")"
    no_folder "$left" || fail "reste : le dossier abandonné $left reste"
}

# Each case in a subshell of its own: its status says whether it held.
case_status() { "$@"; exit $((failures > 0)); }
jobs=()
for case in program_killed "script_killed KILL" "script_killed TERM" tree_killed; do
    # shellcheck disable=SC2086
    (case_status $case) &
    jobs+=($!)
done
for job in "${jobs[@]}"; do
    wait "$job" || failures=$((failures + 1))
done
# After the others, so that only the watchdogs clean their folders.
(case_status leftover_removed) || failures=$((failures + 1))
[ "$failures" -eq 0 ] && echo "with-postgresql.sh : tous les cas tiennent"
exit $((failures > 0))
