#!/bin/bash
# The real chain, in the 9x and then the NT personality of one session: setup from CD-ROM E:
# stages the real launcher, which starts the installer (the recorder as Init\_zorp.exe on the
# medium), waits for it, empties the staging area and schedules what it could not delete for
# deletion at restart; a restart (wineboot -r) then takes _zorp.ex_ off the disk.
source "$(dirname "$0")/lib.sh"

make_prefix
make_medium "$WORK/cd"
map_cdrom "$WORK/cd"
start_session 24

STAGING=$(hostpath 'C:\windows\TEMP')
INIT_SHORT='C:\windows\temp\Init'  # GetShortPathNameA gives the on-disk spelling under Wine

# What the launcher leaves: _zorp.ex_, which is still running, in Init; Config, Extra and
# English removed; every other staged file deleted.
LEFT_AFTER_CHAIN='Init/
Init/_zorp.ex_'

# run_chain PERSONALITY: the whole chain from a clean staging area and an empty record.
run_chain() {
    local personality=$1
    remove_staging "$STAGING"
    rm -f "$WINEPREFIX/drive_c/record.txt"
    set_personality "$personality"
    run_cmdline 'E:\setup.exe' 'E:\'
    expect_eq "$personality: setup from E: ends with 1" 0x00000001 "$RUN_EXIT_HEX"
    wait_process _zorp.ex_ 60 || log "$personality: the launcher is still running"
}

# check_chain PERSONALITY: what the installer saw and what the launcher left behind.
check_chain() {
    local personality=$1
    expect_eq "$personality: the installer ran once" 1 "$(record_field exit | wc -l)"
    # Wine puts quotes around the program name (Windows passes the line as the launcher built
    # it); the tail after it must be the source Init directory, exactly.
    expect_match "$personality: the installer's tail is the source Init directory" \
        '^"?C:\\windows\\TEMP\\Init\\_zorp\.exe"? E:\\Init$' "$(record_field cmdline)"
    expect_eq "$personality: the installer ran in the staging Init directory" \
        'C:\windows\TEMP\Init' "$(record_field cwd)"
    expect_eq "$personality: the mutex was free while the installer ran" free \
        "$(record_field mutex)"
    expect_eq "$personality: staged files deleted, Config, Extra, English removed" \
        "$LEFT_AFTER_CHAIN" "$(staging_tree "$STAGING")"
    expect_eq "$personality: the staging root remains" yes \
        "$([ -d "$STAGING" ] && echo yes || echo no)"
    expect_eq "$personality: no message box during the chain" "" "$(boxes_seen)"
}

# check_restart PERSONALITY: a restart carries out the deletion of _zorp.ex_.
check_restart() {
    local personality=$1
    wine_restart
    expect_eq "$personality: after the restart Init is empty" 'Init/' \
        "$(staging_tree "$STAGING")"
}

# ---- 9x: the list is WinInit.ini, which does not exist before -------------------------------
run_chain 9x
check_chain 9x
# Cfgmgr32.dll and Setupapi.dll are gone already (the installer has ended and released them),
# so only _zorp.ex_ gets a line, with the absolute short path.
expect_eq "9x: WinInit.ini holds the one entry for _zorp.ex_" \
    "[Rename]<CR><LF>NUL=$INIT_SHORT\\_zorp.ex_<CR><LF>" \
    "$(escaped_bytes "$(hostpath 'C:\windows\WinInit.ini')")"
expect_eq "9x: nothing pending in the NT list" "" "$(pending_deletions)"
check_restart 9x
expect_eq "9x: the restart worked through WinInit.ini" "" "$(wininit_ini)"

# ---- NT: the list is PendingFileRenameOperations ---------------------------------------------
run_chain nt
check_chain nt
# The launcher passes relative names; the system records them as full paths against the
# launcher's current directory, in the launcher's order, whether the file still exists or not.
expect_eq "nt: the three names are pending deletion" 'C:\windows\TEMP\Init\cfgmgr32.dll
C:\windows\TEMP\Init\setupapi.dll
C:\windows\TEMP\Init\_zorp.ex_' "$(pending_deletions)"
expect_eq "nt: WinInit.ini is not written" "" "$(wininit_ini)"
check_restart nt
expect_eq "nt: the restart cleared the pending deletions" "" "$(pending_renames)"

finish
