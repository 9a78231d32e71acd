#!/bin/bash
# setup's colour check under Wine: on an 8-bit screen it warns with its exact text (caption
# "Warning", no icon) and then goes on to stage and hand off, in the 9x and the NT
# personality; a second copy refused by the guard shows only the guard's message; on a 24-bit
# screen (32 bits per pixel under Wine) there is no warning.
source "$(dirname "$0")/lib.sh"

WARNING_TEXT='Your display is currently showing 256 colors or less.\nMost Plinks work better, and'
WARNING_TEXT+=' feel nicer, when your display\nis set to 16-bit (65,000 colors), or 24-bit'
WARNING_TEXT+=' (16,777,216).\nWe suggest you change this in the Windows Display\ncontrol panel'
WARNING_TEXT+=' before using Plinks.'
WARNING_BOX="box caption=\"Warning\" icon=none text=\"$WARNING_TEXT\""
GUARD_TEXT='There is more than one copy of the Quillo Setup program running.'

make_prefix
make_medium "$WORK/cd" --launcher recorder
map_cdrom "$WORK/cd"
staging=$(hostpath 'C:\windows\TEMP')

# run_setup WHAT: one setup run from E:\ with a fresh staging area; sets BOXES to its boxes.
run_setup() {
    remove_staging "$staging"
    local before
    before=$(boxes_seen | wc -l)
    run_cmdline 'E:\setup.exe' 'E:\'
    wait_process _zorp.ex_ 30
    BOXES=$(boxes_after "$before")
}

start_session 8
expect_match "8-bit screen: Wine reports 8 bits per pixel in one plane" \
    '^bitspixel=8 planes=1$' "$(survey)"
for personality in 9x nt; do
    set_personality "$personality"
    run_setup
    expect_eq "$personality, 8 bits: the colour warning, alone" "$WARNING_BOX" "$BOXES"
    expect_eq "$personality, 8 bits: setup goes on and hands off" 0x00000001 "$RUN_EXIT_HEX"
    expect_staged "$personality, 8 bits" "$staging"

    # The guard comes first: a refused copy never gets to the colour check. The icon may only
    # be told as "shown" through an 8-bit palette.
    before=$(boxes_seen | wc -l)
    hold_mutex 60 || EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
    run_cmdline 'E:\setup.exe' 'E:\'
    release_mutex
    expect_eq "$personality, 8 bits, mutex held: setup's exit code" 0x80004005 "$RUN_EXIT_HEX"
    expect_match "$personality, 8 bits, mutex held: the guard's message, alone" \
        "^box caption=\"ERROR\" icon=(error|shown) text=\"$GUARD_TEXT\"\$" \
        "$(boxes_after "$before")"
    expect_eq "$personality, 8 bits, mutex held: one message only" 1 \
        "$(boxes_after "$before" | wc -l)"
done
end_session

start_session 24
expect_match "24-bit screen: Wine reports 32 bits per pixel" '^bitspixel=32 planes=1$' \
    "$(survey)"
for personality in 9x nt; do
    set_personality "$personality"
    run_setup
    expect_eq "$personality, 24 bits: no message" "" "$BOXES"
    expect_eq "$personality, 24 bits: setup's exit code" 0x00000001 "$RUN_EXIT_HEX"
done

finish
