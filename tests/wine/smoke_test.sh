#!/bin/bash
# Both programs start under Wine and end with the exit code their situation calls for:
# setup from a medium on CD-ROM drive E: hands off and ends with 1 (and the installer, reached
# through the launcher, runs from the staging Init directory); the launcher alone in a folder
# without _zorp.exe ends with 0; the launcher while another stage owns the mutex shows its
# message and ends with E_FAIL.
source "$(dirname "$0")/lib.sh"

make_prefix
make_medium "$WORK/cd"
map_cdrom "$WORK/cd"
set_personality nt
start_session 24

run_cmdline 'E:\setup.exe' 'E:\'
expect_eq "setup from E: ends with 1 (launcher started)" 0x00000001 "$RUN_EXIT_HEX"
wait_process _zorp.ex_ 60
record=$(cat "$WINEPREFIX/drive_c/record.txt" 2>/dev/null)
# Wine puts quotes around the program name of a command line it starts (Windows passes it on
# as given), so the quotes are optional here.
expect_match "the installer ran with the source Init directory as argument" \
    '^cmdline="?C:\\windows\\TEMP\\Init\\_zorp\.exe"? E:\\Init$' "$record"
expect_match "the installer ran in the staging Init directory" \
    '^cwd=C:\\windows\\TEMP\\Init$' "$record"
expect_match "nothing held the mutex while the installer ran" '^mutex=free$' "$record"
expect_eq "no message box during the chain" "" "$(boxes_seen)"

# The launcher on its own, in a folder without the installer.
mkdir -p "$WINEPREFIX/drive_c/lone"
cp "$(program_path _zorp.ex_)" "$WINEPREFIX/drive_c/lone/_zorp.ex_"
run_cmdline 'C:\lone\_zorp.ex_ E:\Init' 'C:\lone'
expect_eq "launcher without _zorp.exe ends with 0" 0x00000000 "$RUN_EXIT_HEX"

# The launcher while another stage owns the mutex: its guard gives up after 5 s.
ready=$WINEPREFIX/drive_c/tools/ready
wine_run 'C:\tools\mutexholder.exe' -t 60 -s 'C:\tools\release' -r 'C:\tools\ready' \
    >/dev/null 2>&1 &
for i in $(seq 100); do [ -e "$ready" ] && break; sleep 0.1; done
run_cmdline 'C:\lone\_zorp.ex_ E:\Init' 'C:\lone'
touch "$WINEPREFIX/drive_c/tools/release"
expect_eq "launcher while the mutex is held ends with E_FAIL" 0x80004005 "$RUN_EXIT_HEX"
expect_match "the launcher's guard message was shown" \
    '^box caption="ERROR" icon=error text="I aborted application startup because I detected another version of Setup running\."$' \
    "$(boxes_seen)"

finish
