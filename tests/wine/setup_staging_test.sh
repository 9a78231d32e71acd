#!/bin/bash
# setup started from CD-ROM drive E:, in the 9x and the NT personality, with room on C:: it
# stages the manifest under the Windows directory's TEMP (four directories, 21 files equal to
# the medium's) and hands off to the launcher there, with the mutex already free, ending with
# exit code 1. The medium's launcher is the recorder, so the chain stops at the hand-off.
source "$(dirname "$0")/lib.sh"

make_prefix
make_medium "$WORK/cd" --launcher recorder
map_cdrom "$WORK/cd"
start_session 24

for personality in 9x nt; do
    set_personality "$personality"
    survey=$(survey)
    case "$personality" in
    9x) platform=1 ;;
    nt) platform=2 ;;
    esac
    expect_match "$personality: the programs see platform $platform" "^platform=$platform " \
        "$survey"
    staging=$(hostpath 'C:\windows\TEMP')
    remove_staging "$staging"
    rm -f "$WINEPREFIX/drive_c/record.txt"

    run_cmdline 'E:\setup.exe' 'E:\'
    expect_eq "$personality: setup's exit code" 0x00000001 "$RUN_EXIT_HEX"
    wait_process _zorp.ex_ 30
    expect_staged "$personality" "$staging"
    # Wine quotes the program name of any command line whose first word is not quoted, so
    # the quotes here cannot tell whether setup wrote them; the rest of the line can.
    expect_eq "$personality: the launcher's command line" \
        '"C:\windows\TEMP\Init\_zorp.ex_" E:\Init' "$(record_field cmdline)"
    expect_eq "$personality: the launcher's working directory" 'C:\windows\TEMP\Init' \
        "$(record_field cwd)"
    expect_eq "$personality: the mutex was free when the launcher started" free \
        "$(record_field mutex)"
done
expect_eq "no message box at 24 bits" "" "$(boxes_seen)"

finish
