#!/bin/bash
# Another local user's program planted at the installer's place in the Windows directory's TEMP
# (C:\windows\TEMP\Init\_zorp.exe) and kept open for reading, so that setup's copy cannot
# replace it, in the 9x and the NT personality. The planted program (a recorder, like the
# genuine installer) must never run: setup stages on the fallback instead, C:\TEMP on the only
# fixed drive, and the launcher starts the genuine installer from there.
# Wine reports the same owner, the user running Wine, for every file, and keeps no other that a
# program sets: a staging directory of another owner cannot be shown here, and is left to the
# simulated machine's tests.
source "$(dirname "$0")/lib.sh"

make_prefix
make_medium "$WORK/cd"
map_cdrom "$WORK/cd"
start_session 24

WINDOWS_TEMP=$(hostpath 'C:\windows\TEMP')
FALLBACK=$WINEPREFIX/drive_c/TEMP

for personality in 9x nt; do
    remove_staging "$WINDOWS_TEMP"
    rm -rf "$FALLBACK"
    rm -f "$WINEPREFIX/drive_c/record.txt"
    set_personality "$personality"
    mkdir -p "$WINDOWS_TEMP/Init"
    cp "$(program_path recorder.exe)" "$WINDOWS_TEMP/Init/_zorp.exe"
    hold_file 'C:\windows\TEMP\Init\_zorp.exe' || EXPECT_FAILURES=$((EXPECT_FAILURES + 1))

    run_cmdline 'E:\setup.exe' 'E:\'
    expect_eq "$personality: setup hands off" 0x00000001 "$RUN_EXIT_HEX"
    wait_process _zorp.ex_ 60 || log "$personality: the launcher is still running"
    release_file

    expect_eq "$personality: one program ran as the installer" 1 \
        "$(record_field module | wc -l)"
    expect_match "$personality: it is the genuine one, staged on the fallback" \
        '^C:\\TEMP\\Init\\_zorp\.exe$' "$(record_field module)"
    expect_match "$personality: with the source Init directory as its tail" \
        '^"?C:\\TEMP\\Init\\_zorp\.exe"? E:\\Init$' "$(record_field cmdline)"
    expect_eq "$personality: the planted program is still there, untouched" \
        "$(cksum <"$(program_path recorder.exe)")" "$(cksum <"$WINDOWS_TEMP/Init/_zorp.exe")"
    expect_eq "$personality: no message box" "" "$(boxes_seen)"
done

finish
