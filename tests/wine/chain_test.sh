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

INIT_SHORT='C:\windows\temp\Init'  # GetShortPathNameA gives the on-disk spelling under Wine

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
