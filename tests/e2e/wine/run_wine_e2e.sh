#!/usr/bin/env bash
# The shipped Windows program end to end under Wine and Xvfb: a private Wine prefix with
# a writer's device interface registered, writer-pipe.exe serving the simulated writer
# behind it, and the real dialog driven from outside with xdotool.
#
#   run_wine_e2e.sh <folder with SolenneBrisaUpdate.exe, writer-pipe.exe, window-probe.exe
#                    and planted/uxtheme.dll> [artefact folder]
#
# Scenarios: a full update (boot and application code, verified, writer restarted, the
# program ends); no writer (the open-failure box, the dialog stays and lets the session
# end, Escape quits); a writer of a type this build refuses; a slow writer while the user
# tries to close the window (the dialog keeps answering, refuses to end the session and
# to close, the update completes); a writer that never answers (the reply time-out ends
# the wait); a writer that stops taking data (the blocked write ends at the time-out;
# it runs in a second prefix beside the others); a user folder named outside the ANSI
# code page, and paths past MAX_PATH; a DLL planted beside the program; the program
# started again while it is open (the first comes to the front). Before them, the program's imports are checked
# (check_imports.sh). Screenshots of the main dialog, the About box and each box, and what
# window-probe saw, are kept in the artefact folder (default: <exe folder>/wine-e2e).
set -euo pipefail

exe_dir=$(cd "${1:?usage: $0 <exe folder> [artefact folder]}" && pwd)
artefacts=${2:-$exe_dir/wine-e2e}
here=$(cd "$(dirname "$0")" && pwd)
app_exe=$exe_dir/SolenneBrisaUpdate.exe
peer_exe=$exe_dir/writer-pipe.exe
probe_exe=$exe_dir/window-probe.exe
planted_dll=$exe_dir/planted/uxtheme.dll
for file in "$app_exe" "$peer_exe" "$probe_exe" "$planted_dll"; do
    [ -f "$file" ] || { echo "missing $file" >&2; exit 1; }
done
mkdir -p "$artefacts"
rm -f "$artefacts"/*.png "$artefacts"/*.txt "$artefacts"/*.log

work=$(mktemp -d /tmp/tessel-wine-e2e.XXXXXX)
export WINEPREFIX=$work/prefix
export HOME=$work/home
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# Wine takes its ANSI code page and the encoding of command lines and Unix file names
# from the locale; this one gives code page 1252 and UTF-8 names.
export LC_ALL=C.UTF-8
mkdir -p "$HOME/Documents"
log_file=$HOME/Documents/CVUpdate.log
main_caption="Solenne/Brisa Update - Build:  14186"
failures=0
passed=0
xvfb_pids=()
background_pids=()
apart_pids=()
apart_scenarios=()
script_started=$SECONDS

cleanup() {
    local pid scenario
    for pid in "${background_pids[@]}" "${apart_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wineserver -k >/dev/null 2>&1 || true
    for scenario in "${apart_scenarios[@]}"; do
        WINEPREFIX=$work/$scenario/prefix wineserver -k >/dev/null 2>&1 || true
    done
    for pid in "${xvfb_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

check() {  # check <description> <command...>
    local description=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        fail "$description"
    fi
}

# Waits up to $2 seconds for a window whose whole title is $1; prints its id.
wait_window() {
    local title=$1 limit=$2 id
    for _ in $(seq $((limit * 10))); do
        id=$(xdotool search --name "^${title}\$" 2>/dev/null | tail -1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

window_present() {
    xdotool search --name "^$1\$" >/dev/null 2>&1
}

now_ms() { date +%s%3N; }

# The slow update is still going: the writer is connected and no success shown or logged.
run_going() {
    kill -0 "$peer_pid" 2>/dev/null && ! window_present "Solenne/Brisa Update" &&
        ! grep -qF "Successfully updated" "$log_file" 2>/dev/null
}

# Runs window-probe with the given arguments, bounded in time so a stuck window cannot
# stall the script; its output goes to stdout, without the CR that msvcrt's text mode adds.
probe() {
    timeout 30 wine "$probe_exe" "$@" 2>&1 | tr -d '\r'
}

# Waits up to $1 seconds until no run is in progress: the dialog lets a session end
# again. What the user does during a run is refused, not kept for after it, so a key
# meant for the idle dialog must wait for this.
wait_run_over() {
    for _ in $(seq "$1"); do
        [ "$(probe query-end-session "$main_caption")" = "answer 1" ] && return 0
        sleep 1
    done
    return 1
}

# Gives the window the keyboard and types the keys.
press() {
    local window=$1
    shift
    xdotool windowfocus "$window" 2>/dev/null || true
    sleep 0.2
    xdotool key "$@"
}

wait_exit() {  # wait_exit <pid> <seconds>
    for _ in $(seq $(($2 * 10))); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

screenshot() {
    sleep 0.3  # let the window finish painting
    import -window root "$artefacts/$1.png"
}

# Starts writer-pipe with the given options; sets peer_pid and peer_summary.
start_peer() {
    local name=$1
    shift
    peer_summary=$work/$name-summary.txt
    rm -f "$peer_summary"
    wine "$peer_exe" --summary "Z:${peer_summary//\//\\}" "$@" >"$work/$name-peer.out" 2>&1 &
    peer_pid=$!
    for _ in $(seq 200); do
        grep -q "ready" "$work/$name-peer.out" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "writer-pipe did not start:" >&2
    cat "$work/$name-peer.out" >&2
    return 1
}

# Starts the program ($1, default the one built) and waits for its main dialog, which
# must carry the whole caption, build string included. When only a main dialog with
# another caption appears, that is a failure, and main_window names that dialog.
start_app() {
    local exe=${1:-$app_exe} other
    rm -f "$log_file"
    wine "$exe" >"$work/app.out" 2>&1 &
    app_pid=$!
    if ! main_window=$(wait_window "$main_caption" 30); then
        main_window=$(xdotool search --name "^Solenne/Brisa Update - " 2>/dev/null | head -1 || true)
        other=$([ -n "$main_window" ] && xdotool getwindowname "$main_window" 2>/dev/null || true)
        fail "the main dialog did not appear${other:+ (a window \"$other\" did)}"
        return 1
    fi
}

# Clicks "&Go!" through its mnemonic.
press_go() {
    press "$main_window" alt+g
}

keep_log() {
    [ -f "$log_file" ] && cp "$log_file" "$artefacts/$1.log" || true
    [ -n "${peer_summary:-}" ] && [ -f "$peer_summary" ] && cp "$peer_summary" "$artefacts/$1-writer.txt" || true
}

log_has() { grep -qF -- "$1" "$log_file"; }
log_count() { grep -cF -- "$1" "$log_file" || true; }
summary_has() { grep -qF -- "$1" "$peer_summary"; }

# --- the prefixes and the displays -----------------------------------------------------
# Starts Xvfb on the first free display from :90 and waits until it answers; prints the
# display name and adds the server to xvfb_pids.
start_display() {
    local number=90
    while [ -e /tmp/.X11-unix/X$number ] || [ -e /tmp/.X$number-lock ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb-$number.log" 2>&1 &
    xvfb_pids+=("$!")
    for _ in $(seq 50); do
        DISPLAY=":$number" xdotool getmouselocation >/dev/null 2>&1 && break
        sleep 0.1
    done
    display_started=":$number"
}

# Makes the prefix $WINEPREFIX for the display $DISPLAY, with the writer's interface.
prepare_prefix() {
    wineboot -i >"$work/wineboot.log" 2>&1
    # No window manager: Wine draws the captions itself and closes windows at once.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp /usr/share/wine/fonts/marlett.ttf /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wine regedit /S "Z:${here//\//\\}\\fake_writer_interface.reg"
    wineserver -w
}

# Runs the scenario function $1 in the background, in a prefix, a home and on a display
# of its own, so that its long wait overlaps the other scenarios. Its output and its
# counts land in $work/$1/, for finish_apart.
start_apart() {
    local scenario=$1
    start_display
    local display=$display_started
    mkdir -p "$work/$scenario"
    (
        trap - EXIT
        work=$work/$scenario
        export WINEPREFIX=$work/prefix HOME=$work/home DISPLAY=$display
        mkdir -p "$HOME/Documents"
        log_file=$HOME/Documents/CVUpdate.log
        passed=0
        failures=0
        prepare_prefix
        "$scenario"
        kill "${app_pid:-}" "${peer_pid:-}" 2>/dev/null || true
        wineserver -k >/dev/null 2>&1 || true
        echo "$passed $failures" >"$work/counts"
    ) >"$work/$scenario/output.txt" 2>&1 &
    apart_pids+=("$!")
    apart_scenarios+=("$scenario")
}

# Waits for the scenarios started apart, shows what they printed and adds their counts.
finish_apart() {
    local i scenario counts
    for i in "${!apart_pids[@]}"; do
        scenario=${apart_scenarios[$i]}
        wait "${apart_pids[$i]}" || true
        cat "$work/$scenario/output.txt"
        if read -r -a counts <"$work/$scenario/counts" 2>/dev/null && [ "${#counts[@]}" = 2 ]; then
            passed=$((passed + counts[0]))
            failures=$((failures + counts[1]))
        else
            fail "$scenario did not finish"
        fi
    done
}

# The log and the writer's summary of a whole update of the Solenne that the full-update
# scenarios serve (old boot loader and application); $1 names the scenario.
check_complete_update() {
    local in=$1
    check "$in: log header" log_has "- Solenne/Brisa Update Server: Build: 14186"
    check "$in: one header line" [ "$(log_count 'Server: Build:')" = 1 ]
    check "$in: log identification" log_has "USB found Solenne(16), App. Ver. 2.05.00, Build 14000"
    check "$in: log boot announcement" log_has "Sending boot code version"
    check "$in: log application announcement" log_has "Sending software version"
    check "$in: log success" log_has "Successfully updated the Solenne."
    check "$in: log exit line" log_has " - Exiting"
    check "$in: log lines end with a line feed alone" bash -c "! grep -q \$'\\r' '$log_file'"
    check "$in: boot code programmed and verified" summary_has "programmed: program-boot at 0x40000"
    check "$in: application programmed and verified" \
        grep -q "programmed: program-application at 0x80000, 3198584 of 3198584 byte(s), complete, .*verified" \
        "$peer_summary"
    check "$in: nothing unverified" bash -c "! grep -q 'NOT VERIFIED\\|INCOMPLETE\\|protocol violation' '$peer_summary'"
    check "$in: writer restarted" summary_has "restarted: yes"
    check "$in: writer showed the boot stage" summary_has "display: Programming Boot Code"
    check "$in: writer showed the application stage" summary_has "display: Programming Application Code"
}

# --- the program's imports -------------------------------------------------------------
check_program_imports() {
    echo "check: the program imports only DLLs that Windows takes from its own folder"
    check "the program imports only system DLLs" "$here/check_imports.sh" "$app_exe"
    # The check itself must notice a DLL that is not the system's: a copy of the program
    # whose import of SHELL32.dll names another DLL of the same length.
    local planted=$work/planted-import.exe
    perl -0777 -pe 's/SHELL32\.dll/SHELLZZ.dll/' "$app_exe" >"$planted"
    check "an import could be renamed in a copy of the program" bash -c "! cmp -s '$app_exe' '$planted'"
    check "the import check refuses a DLL that is not the system's" \
        bash -c "! '$here/check_imports.sh' '$planted' >/dev/null 2>&1"
}

# --- a full update ----------------------------------------------------------------------
scenario_full_update() {
    echo "scenario: full update of a Solenne with an old boot loader and application"
    start_peer full-update --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000
    start_app || return 0
    screenshot main-dialog
    cp "$artefacts/main-dialog.png" "$artefacts/main-dialog-96dpi.png"

    # The About box, through the system menu's last entry.
    press "$main_window" alt+space
    sleep 0.3
    press "$main_window" Up Return
    if about=$(wait_window "About TesselUpdate" 10); then
        screenshot about-box
        press "$about" Return
        check "the About box closes with OK" bash -c "sleep 1; ! xdotool search --name '^About TesselUpdate\$' >/dev/null 2>&1"
    else
        fail "the About box did not open from the system menu"
    fi

    press_go
    if box=$(wait_window "Solenne/Brisa Update" 60); then
        screenshot success-box
        press "$box" Return
    else
        fail "no success box"
    fi
    check "the program ends after the successful update" wait_exit "$app_pid" 20
    check "the writer connection ends" wait_exit "$peer_pid" 20
    keep_log full-update

    check_complete_update "full update"
}

# --- no writer --------------------------------------------------------------------------
scenario_no_writer() {
    echo "scenario: no writer present"
    peer_summary=""
    start_app || return 0
    press_go
    if box=$(wait_window "Error" 30); then
        screenshot no-writer-box
        press "$box" Return
    else
        fail "no open-failure box"
    fi
    sleep 1
    check "the dialog stays open after the failure" window_present "$main_caption"
    probe query-end-session "$main_caption" >"$artefacts/no-writer-query-end-session.txt" || true
    check "outside a run the dialog lets the session end" grep -qx "answer 1" \
        "$artefacts/no-writer-query-end-session.txt"
    press "$main_window" Escape
    check "Escape ends the program" wait_exit "$app_pid" 20
    keep_log no-writer
    check "log header without writer" log_has "Server: Build: 14186"
    check "log open failure" log_has "Unable to open a connection with your steno machine."
    check "log exit line without writer" log_has " - Exiting"
}

# --- a refused machine type -------------------------------------------------------------
scenario_refusal() {
    echo "scenario: a type-5 writer, which this build does not serve"
    start_peer refusal --type 5 --version 0x0301 --build 0
    start_app || return 0
    press_go
    if box=$(wait_window "Error" 30); then
        screenshot refusal-box
        press "$box" Return
    else
        fail "no refusal box"
    fi
    check "the writer connection ends after the refusal" wait_exit "$peer_pid" 20
    check "the dialog stays open after the refusal" window_present "$main_caption"
    press "$main_window" Escape
    check "Escape ends the program after the refusal" wait_exit "$app_pid" 20
    keep_log refusal
    check "log refusal" log_has "Improper Machine Type.  This update is not for"
    check "nothing programmed on a refused writer" summary_has "restarted: no"
    check "no download to a refused writer" bash -c "! grep -q '^programmed:' '$peer_summary'"
}

# --- a slow writer and a user who tries to close the window -----------------------------
# The full update's 114 requests at 120 ms a reply: the run lasts about 14 s, long enough
# to try every way of closing the window while it goes on.
slow_reply_ms=120

scenario_closing_during_run() {
    echo "scenario: a slow writer (${slow_reply_ms} ms a reply) and a user who tries to close the window"
    local scenario_started=$SECONDS
    start_peer slow-writer --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000 \
        --reply-delay "$slow_reply_ms"
    start_app || return 0

    # The probe asks the dialog for an answer every 50 ms until the window is gone.
    local watch_out=$artefacts/slow-writer-watch.txt watch_err=$work/slow-writer-watch.err
    timeout 120 wine "$probe_exe" watch "$main_caption" 90 >"$watch_out" 2>"$watch_err" &
    local watch_pid=$!
    background_pids+=("$watch_pid")
    for _ in $(seq 100); do
        grep -q "watching" "$watch_err" 2>/dev/null && break
        sleep 0.1
    done

    local go_ms
    go_ms=$(now_ms)
    press_go
    sleep 2

    local query=$artefacts/slow-writer-query-end-session.txt
    probe query-end-session "$main_caption" >"$query" || true
    echo "  query-end-session during the run: $(cat "$query")"
    check "during a run the dialog does not let the session end" grep -qx "answer 0" "$query"
    check "WM_CLOSE posted during the run" probe close "$main_caption"
    press "$main_window" alt+F4
    press "$main_window" Escape
    press "$main_window" alt+q
    sleep 0.5
    local tried_ms
    tried_ms=$(now_ms)
    # A close attempt that lands after the run proves nothing: the run must still be on.
    check "the close attempts came during the run" run_going
    check "the main window is still there after the close attempts" window_present "$main_caption"
    screenshot slow-writer-during-run
    echo "  the close attempts were over $(((tried_ms - go_ms) / 1000)) s after Go"

    # The run ends with the success line in the log, then the box. Keys that waited while
    # the dialog did not answer can dismiss the box at once, so the line also marks the end.
    local run_ms="" box=""
    for _ in $(seq 600); do
        box=$(xdotool search --name "^Solenne/Brisa Update\$" 2>/dev/null | tail -1 || true)
        if [ -z "$run_ms" ] && { [ -n "$box" ] || grep -qF "Successfully updated" "$log_file" 2>/dev/null; }; then
            run_ms=$(($(now_ms) - go_ms))
        fi
        [ -n "$box" ] && break
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ -n "$box" ]; then
        check "the main window is still there beside the success box" window_present "$main_caption"
        screenshot slow-writer-success-box
        press "$box" Return
    else
        fail "no success box after the close attempts"
        kill -0 "$app_pid" 2>/dev/null || echo "  the program ended $((($(now_ms) - go_ms) / 1000)) s after Go, without a success box"
    fi
    check "the program ends after the slow update" wait_exit "$app_pid" 20
    check "the slow writer's connection ends" wait_exit "$peer_pid" 20
    # Whatever failed, nothing of this run may stay for the next scenario to find.
    kill "$app_pid" "$peer_pid" 2>/dev/null || true
    keep_log slow-writer
    check_complete_update "slow writer"

    if [ -n "$run_ms" ]; then
        echo "  the run took ${run_ms} ms from Go to its success"
        check "the slow run lasts at least 10 s" [ "$run_ms" -ge 10000 ]
    else
        fail "the slow run never reported success"
    fi

    wait_exit "$watch_pid" 20 || kill "$watch_pid" 2>/dev/null || true
    local longest="" answers=""
    read -r _ longest _ answers < <(tr -d '\r' <"$watch_out") || true
    if [ -n "$longest" ]; then
        echo "  longest unanswered stretch: ${longest} ms (${answers} answers)"
        check "the dialog answers within 250 ms throughout the run" [ "$longest" -lt 250 ]
    else
        fail "window-probe watch gave no figure: $(cat "$watch_out" "$watch_err" 2>/dev/null)"
    fi
    echo "  scenario took $((SECONDS - scenario_started)) s"
}

# --- a writer that never answers --------------------------------------------------------
scenario_silent_writer() {
    echo "scenario: a writer that never answers (the reply time-out, about 30 s)"
    start_peer silent --silent
    start_app || return 0
    local started=$SECONDS
    press_go
    if box=$(wait_window "Error" 50); then
        local waited=$((SECONDS - started))
        echo "  the box came after ${waited} s"
        check "the wait is bounded by the reply time-out" [ "$waited" -ge 25 ]
        screenshot silent-writer-box
        press "$box" Return
    else
        fail "a silent writer hangs the program (no box within 50 s)"
    fi
    check "the dialog stays open after the time-out" window_present "$main_caption"
    check "the run ends after the time-out's box" wait_run_over 45
    press "$main_window" Escape
    check "Escape ends the program after the time-out" wait_exit "$app_pid" 20
    wait_exit "$peer_pid" 10 || kill "$peer_pid" 2>/dev/null || true
    keep_log silent-writer
    check "log communication failure" log_has "Unable to communicate with your steno machine.  Error Code 111"
}

# --- the program and its log away from the ASCII folders of a short path -------------
# The shell's Documents folder is set in the prefix's registry. Wine's shell gives it at
# most 259 characters (a longer setting falls back to the default folder), so the long
# case has a 259-character Documents folder and a log path of 272.
documents_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'

set_documents() {  # set_documents <Windows path>
    wine reg add "$documents_key" /v Personal /t REG_EXPAND_SZ /d "$1" /f >/dev/null 2>&1
}

# Windows path for a folder under C:\ ($1, with backslashes) in the prefix's Unix terms.
unix_path() {
    local relative=${1#C:\\}
    echo "$WINEPREFIX/drive_c/${relative//\\//}"
}

# run_elsewhere <name> <exe folder> <Documents folder>, both Windows paths under C:\: the
# program copied there and started from there, with no writer; the caption must carry
# the build, the open failure must be reported and logged in that Documents folder.
run_elsewhere() {
    local name=$1 exe_folder=$2 documents=$3
    local unix_exe_folder unix_documents saved_log=$log_file box
    unix_exe_folder=$(unix_path "$exe_folder")
    unix_documents=$(unix_path "$documents")
    mkdir -p "$unix_exe_folder" "$unix_documents"
    cp "$app_exe" "$unix_exe_folder/"
    set_documents "$documents"
    log_file=$unix_documents/CVUpdate.log
    peer_summary=""
    echo "  program in $exe_folder (${#exe_folder} characters)"
    echo "  Documents $documents (${#documents} characters)"
    start_app "$unix_exe_folder/SolenneBrisaUpdate.exe" || true
    if [ -n "$main_window" ]; then
        screenshot "$name-dialog"
        press_go
        if box=$(wait_window "Error" 30); then
            press "$box" Return
        else
            fail "$name: no open-failure box"
        fi
        sleep 1
        press "$main_window" Escape
        check "$name: Escape ends the program" wait_exit "$app_pid" 20
        keep_log "$name"
        check "$name: the log is in that Documents folder" [ -f "$log_file" ]
        if [ -f "$log_file" ]; then
            check "$name: log header with the build" log_has "- Solenne/Brisa Update Server: Build: 14186"
            check "$name: log open failure" log_has "Unable to open a connection with your steno machine."
            check "$name: log exit line" log_has " - Exiting"
        fi
    fi
    kill "$app_pid" 2>/dev/null || true
    set_documents '%USERPROFILE%\Documents'
    log_file=$saved_log
}

# A profile folder whose name the ANSI code page (1252 here) cannot write: its ANSI form
# is "Lukasz ??", a folder that does not exist.
scenario_unicode_profile() {
    echo "scenario: a user folder named outside the ANSI code page"
    local profile='C:\users\Łukasz 測試'
    run_elsewhere unicode-profile "$profile\Downloads" "$profile\Documents"
}

# Folders nested deep enough that the log's path and the program's path pass MAX_PATH.
scenario_long_paths() {
    echo "scenario: a log path and a program path longer than MAX_PATH"
    local documents='C:\Reporter data' downloads='C:\Reporter data\Downloads' part=1
    while [ ${#documents} -lt 214 ]; do
        documents="$documents\Transcripts of the court reporter, part $part"
        part=$((part + 1))
    done
    while [ ${#documents} -lt 259 ]; do
        documents="${documents}x"
    done
    for part in 1 2 3 4 5 6; do
        downloads="$downloads\Updates for the writer, as downloaded $part"
    done
    run_elsewhere long-paths "$downloads" "$documents"
}

# --- a DLL planted beside the program ---------------------------------------------------
# Windows takes a DLL that is not one of its KnownDLLs from the first folder in the search
# order that has one, and by default that is the program's own: a uxtheme.dll left in
# Downloads beside the program would be loaded in place of the system's. Wine prefers its
# own DLLs, so the override makes it look for uxtheme.dll the way Windows does.
scenario_planted_dll() {
    echo "scenario: a uxtheme.dll planted beside the program"
    local folder=$work/downloads-with-a-planted-dll
    mkdir -p "$folder"
    cp "$app_exe" "$planted_dll" "$folder/"
    rm -f "$folder/uxtheme.dll.loaded"
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b" start_app "$folder/SolenneBrisaUpdate.exe" || true
    check "the planted DLL stays unloaded" [ ! -e "$folder/uxtheme.dll.loaded" ]
    if [ -n "$main_window" ]; then
        press "$main_window" Escape
        check "Escape ends the program beside the planted DLL" wait_exit "$app_pid" 20
    fi
    kill "$app_pid" 2>/dev/null || true
}

# --- the program started again while it is open ----------------------------------------
# The first dialog is minimised and another program's window is in front. The second
# start must bring the first dialog back and to the front, and end without opening the
# writer, which waits for a connection meanwhile.
scenario_second_instance() {
    echo "scenario: the program started a second time while it is open"
    start_peer second-instance --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000
    start_app || return 0
    probe minimize "$main_caption" || true
    wine notepad >/dev/null 2>&1 &
    local notepad_pid=$!
    background_pids+=("$notepad_pid")
    wait_window "Untitled - Notepad" 20 >/dev/null || fail "notepad did not open"
    sleep 0.5
    local before after started_ms second_pid second_status=0
    before=$(probe state "$main_caption" || true)
    check "before the second start the first dialog is minimised, another window in front" \
        [ "$before" = "iconic 1 foreground 0" ]
    started_ms=$(now_ms)
    wine "$app_exe" >"$work/second-app.out" 2>&1 &
    second_pid=$!
    if wait_exit "$second_pid" 10; then
        wait "$second_pid" || second_status=$?
        echo "  the second program ended $(($(now_ms) - started_ms)) ms after its start, exit code $second_status"
        check "the second program ends with exit code 0" [ "$second_status" = 0 ]
    else
        fail "the second program is still running 10 s after its start"
    fi
    sleep 0.5
    check "one main dialog only" [ "$(xdotool search --name "^${main_caption}\$" 2>/dev/null | wc -l)" = 1 ]
    after=$(probe state "$main_caption" || true)
    echo "  the first dialog: before \"$before\", after \"$after\";" \
        "X input focus on \"$(xdotool getwindowfocus getwindowname 2>/dev/null || echo '?')\""
    check "the first dialog is restored and in front" [ "$after" = "iconic 0 foreground 1" ]
    screenshot second-instance
    check "the writer saw no connection" bash -c "! grep -q connected '$work/second-instance-peer.out'"
    kill "$second_pid" "$notepad_pid" 2>/dev/null || true
    press "$main_window" Escape
    check "Escape ends the first program" wait_exit "$app_pid" 20
    kill "$app_pid" "$peer_pid" 2>/dev/null || true
}

# --- the dialog at 150 % display scaling -----------------------------------------------
# The dialog, its text and its buttons scale with the display; the logo must fill its
# slot too rather than stay at its 96-DPI size. The screenshot is kept for a person to
# look at beside main-dialog-96dpi.png; the check is that the logo grew.
scenario_high_dpi() {
    echo "scenario: the main dialog at 144 DPI"
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
    start_app || return 0
    screenshot main-dialog-144dpi
    # The logo's dark blue, counted in both screenshots: 1.5 times the size is 2.25 times
    # the area; the smoothed edges leave about 1.9 times as many pixels of exactly that
    # colour, and a logo left at its own size about 1.0.
    local small large
    small=$(convert "$artefacts/main-dialog-96dpi.png" -fill white +opaque '#000080' -fill black -opaque '#000080' \
        -format '%[fx:int(w*h*(1-mean))]' info: 2>/dev/null || echo 0)
    large=$(convert "$artefacts/main-dialog-144dpi.png" -fill white +opaque '#000080' -fill black -opaque '#000080' \
        -format '%[fx:int(w*h*(1-mean))]' info: 2>/dev/null || echo 0)
    echo "  logo pixels: ${small} at 96 DPI, ${large} at 144 DPI"
    check "the logo grows with the dialog at 144 DPI" [ "$small" -gt 0 -a $((large * 10)) -ge $((small * 16)) ]
    press "$main_window" Escape
    check "Escape ends the program at 144 DPI" wait_exit "$app_pid" 20
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1
}

# --- a writer that stops taking data ---------------------------------------------------
# writer-pipe reads no request at all, so the program's first write (Identify) blocks: the
# pipe keeps no room for requests the writer has not taken. The write is cut at the 30 s
# time-out, and a writer that let a call run out is taken for one that has gone: the
# link's other attempts and its read fail at once, so the Identify error box is due after
# about 30 s, and the exit path that follows it costs nothing more. It runs apart
# (start_apart) while the other scenarios go on.
stuck_expected_s=30
stuck_bound_s=45

scenario_stuck_writer() {
    echo "scenario: a writer that stops taking data (the box is due after about ${stuck_expected_s} s, at most ${stuck_bound_s} s)"
    start_peer stuck-writer --type 16 --version 0x02050000 --build 14000 --main-boot 0x01070000:8000 \
        --stop-reading 0
    start_app || return 0
    local go_ms
    go_ms=$(now_ms)
    press_go
    local box waited_ms
    if box=$(wait_window "Error" $((stuck_bound_s + 10))); then
        waited_ms=$(($(now_ms) - go_ms))
        echo "  the box came ${waited_ms} ms after Go"
        # Sooner would mean that the writes never blocked, and the scenario showed nothing.
        check "the blocked write waited for its time-out" [ "$waited_ms" -ge $(((stuck_expected_s - 5) * 1000)) ]
        check "the box comes within the bound of ${stuck_bound_s} s" [ "$waited_ms" -le $((stuck_bound_s * 1000)) ]
        screenshot stuck-writer-box
        press "$box" Return
    else
        fail "a writer that stops taking data holds the program (no box within $((stuck_bound_s + 10)) s)"
    fi
    check "the dialog stays open after the stuck writes" window_present "$main_caption"
    check "the writer was connected" grep -q "connected" "$work/stuck-writer-peer.out"
    check "the writer took no request" grep -q "stopped reading after 0 request" "$work/stuck-writer-peer.out"
    keep_log stuck-writer
    check "log communication failure after the stuck writes" \
        log_has "Unable to communicate with your steno machine.  Error Code 111"
}

check_program_imports
start_display
export DISPLAY=$display_started
if [ "${TESSEL_WINE_SKIP_TIMEOUT:-0}" != 1 ]; then
    start_apart scenario_stuck_writer
fi
prepare_prefix

scenario_full_update
scenario_no_writer
scenario_refusal
scenario_closing_during_run
if [ "${TESSEL_WINE_SKIP_TIMEOUT:-0}" != 1 ]; then
    scenario_silent_writer
fi
scenario_unicode_profile
scenario_long_paths
scenario_planted_dll
scenario_second_instance
scenario_high_dpi
echo "the scenarios in the first prefix were over after $((SECONDS - script_started)) s"
finish_apart

echo "artefacts in $artefacts"
echo "wine-e2e took $((SECONDS - script_started)) s"
echo "wine-e2e: $passed passed, $failures failed"
[ "$failures" -eq 0 ]
