#!/bin/bash
# The launcher's three outcomes, with its full exit code, in a staging area that setup really
# made, in the 9x and then the NT personality of one session. Setup stages the recorder as
# _zorp.ex_ (so nothing is cleaned up yet) from a medium without _zorp.exe; the real launcher
# then takes the recorder's place and is run through the runner from the staging Init
# directory, as setup would start it:
#   - no installer: exit 0, every staged file in place, nothing scheduled;
#   - another stage owns the mutex: the guard's message, exit E_FAIL, nothing started or
#     touched (the smoke test checks the message in a bare folder; here also that nothing
#     else happens);
#   - an installer that ends with a failure code: still cleanup and scheduling, exit 1.
source "$(dirname "$0")/lib.sh"

make_prefix
make_medium "$WORK/cd" --launcher recorder --installer none
map_cdrom "$WORK/cd"
start_session 24

STAGING=$(hostpath 'C:\windows\TEMP')
LAUNCHER_LINE='C:\windows\TEMP\Init\_zorp.ex_ E:\Init'
LAUNCHER_CWD='C:\windows\TEMP\Init'
GUARD_BOX='box caption="ERROR" icon=error text="I aborted application startup because I detected another version of Setup running."'

# The restart lists of both kinds, as one text to compare before and after a run.
restart_lists() {
    local list
    list=$(hostpath 'C:\windows\WinInit.ini') || list=/nonexistent
    printf 'WinInit.ini: %s\npending: %s\n' "$(escaped_bytes "$list")" \
        "$(pending_deletions | tr '\n' ' ')"
}

# stage PERSONALITY: a fresh staging area from setup, with the real launcher in it.
stage() {
    local personality=$1
    remove_staging "$STAGING"
    rm -f "$WINEPREFIX/drive_c/record.txt"
    set_personality "$personality"
    run_cmdline 'E:\setup.exe' 'E:\'
    expect_eq "$personality: setup ends with 1" 0x00000001 "$RUN_EXIT_HEX"
    wait_process _zorp.ex_ 60
    expect_eq "$personality: setup started the staged _zorp.ex_ (the recorder)" \
        "$LAUNCHER_CWD" "$(record_field cwd)"
    rm -f "$WINEPREFIX/drive_c/record.txt"
    cp "$(program_path _zorp.ex_)" "$STAGING/Init/_zorp.ex_"
}

# run_outcomes PERSONALITY
run_outcomes() {
    local personality=$1 staged lists
    stage "$personality"
    staged=$(staging_tree "$STAGING")
    expect_eq "$personality: the staging area holds the medium's files and English" \
        "$(printf '%s\nEnglish/\n' "$(staging_tree "$MEDIUM_DIR")" | LC_ALL=C sort)" \
        "$(printf '%s\n' "$staged" | LC_ALL=C sort)"
    lists=$(restart_lists)
    expect_eq "$personality: both restart lists are empty before the launcher runs" \
        "$(printf 'WinInit.ini: <missing>\npending: ')" "$lists"

    # No installer beside the launcher: CreateProcessA fails.
    run_cmdline "$LAUNCHER_LINE" "$LAUNCHER_CWD"
    expect_eq "$personality: launcher without _zorp.exe ends with 0" 0x00000000 "$RUN_EXIT_HEX"
    expect_eq "$personality: without _zorp.exe every staged file stays" "$staged" \
        "$(staging_tree "$STAGING")"
    expect_eq "$personality: without _zorp.exe nothing is scheduled" "$lists" "$(restart_lists)"

    # The installer is there, but another stage owns the mutex.
    cp "$(program_path recorder.exe)" "$STAGING/Init/_zorp.exe"
    staged=$(staging_tree "$STAGING")
    : >"$WINEPREFIX/drive_c/record.txt"
    : >"$WINEPREFIX/drive_c/tools/boxes.txt"
    rm -f "$WINEPREFIX/drive_c/tools/ready" "$WINEPREFIX/drive_c/tools/release"
    wine_run 'C:\tools\mutexholder.exe' -t 60 -s 'C:\tools\release' -r 'C:\tools\ready' \
        >/dev/null 2>&1 &
    local holder=$! _
    for _ in $(seq 100); do
        [ -e "$WINEPREFIX/drive_c/tools/ready" ] && break
        sleep 0.1
    done
    run_cmdline "$LAUNCHER_LINE" "$LAUNCHER_CWD"
    touch "$WINEPREFIX/drive_c/tools/release"
    wait "$holder"
    expect_eq "$personality: launcher while the mutex is held ends with E_FAIL" 0x80004005 \
        "$RUN_EXIT_HEX"
    expect_eq "$personality: the guard's message, once" "$GUARD_BOX" "$(boxes_seen)"
    expect_eq "$personality: the guard started no installer" "" "$(record_field exit)"
    expect_eq "$personality: the guard touched no staged file" "$staged" \
        "$(staging_tree "$STAGING")"
    expect_eq "$personality: the guard scheduled nothing" "$lists" "$(restart_lists)"

    # The installer ends with a failure code: cleanup and scheduling happen all the same.
    RECORDER_EXIT__ZORP_EXE=3 run_cmdline "$LAUNCHER_LINE" "$LAUNCHER_CWD"
    expect_eq "$personality: the installer ran and ended with 3" 3 "$(record_field exit)"
    expect_eq "$personality: launcher after a failed installer ends with 1" 0x00000001 \
        "$RUN_EXIT_HEX"
    expect_eq "$personality: after a failed installer the staging area is emptied" \
        "$(printf 'Init/\nInit/_zorp.ex_')" "$(staging_tree "$STAGING")"
}

# Each pass starts with both restart lists empty, so their whole content is known after it.
run_outcomes 9x
expect_eq "9x: after a failed installer _zorp.ex_ is in WinInit.ini" \
    'WinInit.ini: [Rename]<CR><LF>NUL=C:\windows\temp\Init\_zorp.ex_<CR><LF>
pending: ' "$(restart_lists)"
wine_restart  # empties both lists for the next pass

run_outcomes nt
expect_eq "nt: after a failed installer the three names are pending deletion" \
    'WinInit.ini: <missing>
pending: C:\windows\TEMP\Init\cfgmgr32.dll C:\windows\TEMP\Init\setupapi.dll C:\windows\TEMP\Init\_zorp.ex_ ' \
    "$(restart_lists)"

finish
