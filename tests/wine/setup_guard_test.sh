#!/bin/bash
# setup's single-instance guard under Wine, in the 9x and the NT personality, with another
# stage (mutexholder) owning "MutexToProtectSetup":
# - held past setup's 5 s wait: the guard's message (caption "ERROR", error icon), exit
#   E_FAIL, and nothing staged or started;
# - abandoned during the wait (the owner ends without releasing it): the same refusal;
# - released during the wait: setup owns it then and runs as usual.
source "$(dirname "$0")/lib.sh"

GUARD_TEXT='There is more than one copy of the Quillo Setup program running.'
GUARD_BOX="box caption=\"ERROR\" icon=error text=\"$GUARD_TEXT\""

make_prefix
make_medium "$WORK/cd" --launcher recorder
map_cdrom "$WORK/cd"
start_session 24
staging=$(hostpath 'C:\windows\TEMP')
record=$WINEPREFIX/drive_c/record.txt

# The staging directories that exist under the Windows directory's TEMP.
staged_dirs() {
    ls "$staging" | grep -ixE 'config|init|extra|english'
}

# run_setup_against CASE SECONDS [-a]: setup while mutexholder owns the mutex for SECONDS.
# Sets BOXES to the message boxes of this run.
run_setup_against() {
    remove_staging "$staging"
    rm -f "$record"
    local before
    before=$(boxes_seen | wc -l)
    hold_mutex "$2" ${3:+"$3"} || EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
    run_cmdline 'E:\setup.exe' 'E:\'
    release_mutex
    BOXES=$(boxes_after "$before")
}

for personality in 9x nt; do
    set_personality "$personality"

    # Held for longer than setup waits.
    run_setup_against held 60
    expect_eq "$personality, held: setup's exit code" 0x80004005 "$RUN_EXIT_HEX"
    expect_eq "$personality, held: the guard's message, alone" "$GUARD_BOX" "$BOXES"
    expect_eq "$personality, held: nothing staged" "" "$(staged_dirs)"
    expect_eq "$personality, held: no launcher started" "" "$(cat "$record" 2>/dev/null)"

    # Abandoned 3 s into setup's 5 s wait: refused all the same.
    run_setup_against abandoned 3 -a
    expect_match "$personality, abandoned: the holder ended without releasing" '^abandoned' \
        "$(tr -d '\r' <"$WORK/mutexholder.out")"
    expect_eq "$personality, abandoned: setup's exit code" 0x80004005 "$RUN_EXIT_HEX"
    expect_eq "$personality, abandoned: the guard's message, alone" "$GUARD_BOX" "$BOXES"
    expect_eq "$personality, abandoned: nothing staged" "" "$(staged_dirs)"

    # Released 2 s into the wait: setup goes on and hands off.
    run_setup_against released 2
    expect_eq "$personality, released: setup's exit code" 0x00000001 "$RUN_EXIT_HEX"
    expect_eq "$personality, released: no message" "" "$BOXES"
    wait_process _zorp.ex_ 30
    expect_staged "$personality, released" "$staging"
    expect_eq "$personality, released: the launcher found the mutex free" free \
        "$(record_field mutex)"
done

finish
