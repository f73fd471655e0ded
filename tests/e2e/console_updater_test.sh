#!/usr/bin/env bash
# Drives the console updater through its standard input against writer-sim on a
# private writer port, and checks what the user saw, what the writer got and the log.
# Usage: console_updater_test.sh UPDATER WRITER_SIM SCENARIO [WRITER_IDENTIFY]
set -euo pipefail

updater=$1
writer_sim=$2
scenario=$3
writer_identify=${4:-}

work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

export XDG_RUNTIME_DIR=$work/run
export HOME=$work/home
mkdir -p "$XDG_RUNTIME_DIR" "$HOME/Documents"
chmod 0700 "$XDG_RUNTIME_DIR"
log=$HOME/Documents/CVUpdate.log

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# expect FILE TEXT: the file holds the text (fixed string, may span lines via $'...').
expect() {
    grep -qF -- "$2" "$1" || fail "$(basename "$1") lacks: $2"
}
expect_not() {
    if grep -qF -- "$2" "$1"; then fail "$(basename "$1") has: $2"; fi
}

start_writer() {
    "$writer_sim" "$@" > "$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 1 100); do
        grep -q "ready on" "$work/sim.out" 2>/dev/null && return 0
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    cat "$work/sim.out"
    echo "writer-sim did not become ready"
    exit 1
}

# run_updater INPUT: runs the updater with that input; its exit status lands in $status.
run_updater() {
    status=0
    printf '%b' "$1" | "$updater" > "$work/updater.out" 2>&1 || status=$?
}

# writer-sim ends when the updater closes its connection; one that is still waiting
# was never connected to.
finish_writer() {
    for _ in $(seq 1 100); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$sim_pid" 2>/dev/null; then
        fail "writer-sim was still waiting for the updater"
        kill "$sim_pid" 2>/dev/null || true
    fi
    wait "$sim_pid" || fail "writer-sim ended with an error"
    sim_pid=""
}

show() {
    echo "---- updater output"
    cat "$work/updater.out"
    if [ -f "$work/sim.out" ]; then
        echo "---- writer-sim output"
        cat "$work/sim.out"
    fi
    echo "---- log file"
    cat "$log" 2>/dev/null || echo "(no log file)"
}

case $scenario in
full)
    start_writer --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000
    run_updater 'go\n\n'
    finish_writer
    [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
    expect "$work/updater.out" "[caption] Solenne/Brisa Update - Build:  14186"
    expect "$work/updater.out" "Sending Build 14186 to Solenne..."
    expect "$work/updater.out" "Solenne Updated."
    expect "$work/updater.out" "[box information] Solenne/Brisa Update"
    expect "$work/updater.out" "Successfully updated the Solenne."
    expect "$work/updater.out" "[closed] after a successful update"
    expect "$work/sim.out" "writer display: Programming Boot Code"
    expect "$work/sim.out" "writer display: Programming Application Code"
    expect "$work/sim.out" "programmed: program-boot"
    expect "$work/sim.out" "programmed: program-application at 0x80000, 3198584 of 3198584 byte(s), complete"
    expect_not "$work/sim.out" "MISMATCH"
    expect_not "$work/sim.out" "protocol violation"
    expect "$work/sim.out" "restarted: yes"
    expect "$log" " - Solenne/Brisa Update Server: Build: 14186"
    expect "$log" " - USB found Solenne(16), App. Ver. 2.05.00, Build 14000"
    expect "$log" " - USB found Solenne(16), Main Boot Ver. 1.07.00, Build 8000"
    expect "$log" " - Successfully updated the Solenne."
    [ "$(tail -n 1 "$log" | sed 's/^.* - //')" = "Exiting" ] || fail "the log does not end with the exit line"
    ;;
refusal)
    start_writer --type 5 --version 0x0105 --build 0
    run_updater 'go\n\nquit\n'
    finish_writer
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    expect "$work/updater.out" "[box stop] Error"
    expect "$work/updater.out" "Improper Machine Type.  This update is not for Marlow halcyon!"
    expect "$work/updater.out" "[closed] without an update"
    expect "$work/sim.out" "programmed: nothing"
    expect "$work/sim.out" "restarted: no"
    expect "$log" " - USB found Marlow halcyon(5), App. Ver. 1.05 "
    expect "$log" " - Improper Machine Type.  This update is not for Marlow halcyon!"
    [ "$(grep -c ' - Exiting$' "$log")" -eq 1 ] || fail "expected one exit line"
    ;;
downgrade-no)
    start_writer --type 16 --version 0x02070000 --build 14186
    run_updater 'go\nno\nquit\n'
    finish_writer
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    expect "$work/updater.out" "[box question] Warning"
    expect "$work/updater.out" "You are about to install version 2.06.00, Build 14186"
    expect "$work/updater.out" "on a Machine that is running version 2.07.00, Build 14186."
    expect "$work/updater.out" "[answer] No"
    expect "$work/updater.out" "[closed] without an update"
    expect "$work/sim.out" "writer display: (cleared)"
    expect "$work/sim.out" "programmed: nothing"
    expect "$work/sim.out" "restarted: no"
    expect "$log" " - You are about to install version 2.06.00, Build 14186"
    ;;
about)
    run_updater 'about\n\nquit\n'
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    expect "$work/updater.out" "&About Solenne/Brisa Update..."
    expect "$work/updater.out" "[box about] About TesselUpdate"
    expect "$work/updater.out" "    Solenne/Brisa Update Build:  14186"
    [ ! -e "$log" ] || fail "About wrote a log"
    ;;
identify)
    # A Brisa answering from its boot loader: the line shows the boot-mode version.
    start_writer --type 17 --boot-mode 1 --version 0x01070000 --build 8000
    status=0
    "$writer_identify" > "$work/updater.out" 2>&1 || status=$?
    finish_writer
    [ "$status" -eq 0 ] || fail "exit status $status, expected 0"
    expect "$work/updater.out" "USB found Brisa(17), Boot. Ver. 0.00.00, Build 0"
    expect "$work/sim.out" "programmed: nothing"
    expect_not "$work/sim.out" "boot-versions"
    ;;
planted-port)
    # The port directory opened to everyone after writer-sim made it: the updater
    # refuses it as if no writer were there and says why; no second writer-sim serves
    # in it.
    start_writer --type 16
    chmod 0777 "$XDG_RUNTIME_DIR/steno-writers"
    run_updater 'go\n\nquit\n'
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    expect "$work/updater.out" "Unable to open a connection with your steno machine."
    expect "$work/updater.out" \
        "writer port $XDG_RUNTIME_DIR/steno-writers: refused: group or others have access (mode 0777)"
    expect "$work/updater.out" "[closed] without an update"
    sim_status=0
    "$writer_sim" --name second > "$work/second.out" 2>&1 || sim_status=$?
    [ "$sim_status" -eq 1 ] || fail "a second writer-sim served in the open directory"
    expect "$work/second.out" "refused: group or others have access (mode 0777)"
    expect_not "$work/sim.out" "connection closed"
    ;;
stop-reading)
    # A writer that answers the identification and then reads nothing more: the boot
    # versions are left unanswered, and once the 30-second bound has passed the writer is
    # taken for gone, so the rest of the run fails at once and ends with its box, without
    # a further wait for each request left.
    start_writer --type 16 --stop-reading-after 1
    status=0
    printf 'go\n\nquit\n' | "$updater" > "$work/updater.out" 2>&1 &
    updater_pid=$!
    for _ in $(seq 1 600); do
        kill -0 "$updater_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$updater_pid" 2>/dev/null; then
        fail "the run against a writer that stopped reading did not end within 60 s"
        kill "$updater_pid" 2>/dev/null || true
    fi
    wait "$updater_pid" || status=$?
    [ "$status" -eq 1 ] || fail "exit status $status, expected 1"
    expect "$work/sim.out" "writer-sim: stopped reading after 1 request(s)"
    expect "$work/updater.out" "[box stop] Error"
    expect "$work/updater.out" "[closed] without an update"
    expect_not "$work/updater.out" "Successfully updated"
    ;;
*)
    echo "unknown scenario $scenario"
    exit 2
    ;;
esac

if [ "$failures" -gt 0 ]; then
    show
    exit 1
fi
echo "scenario $scenario: passed"
