#!/bin/bash
# Deletion at restart through the launcher's own DeleteAtRestart (schedule_delete.exe), in the
# 9x and then the NT personality of one session, each followed by a restart (wineboot -r)
# that must really delete the files: one with an 8.3 name, one with long names (recorded in
# 9x by its short path), and one given by a relative name from another current directory.
# In 9x the entries join the [Rename] section of a WinInit.ini that already holds other
# sections and an entry of its own; in NT they go to PendingFileRenameOperations.
source "$(dirname "$0")/lib.sh"

make_prefix
cp "$(program_path schedule_delete.exe)" "$WINEPREFIX/drive_c/tools/" || exit 1
start_session 24

DIR=$WINEPREFIX/drive_c/restart
LONG_NAME='Long Folder Name\Long File Name.txt'
# Relative to C:\restart\sub, the working directory of every schedule_delete run.
SCHEDULE='C:\tools\schedule_delete.exe C:\restart\abs.txt "C:\restart\Long Folder Name\Long File Name.txt" rel.txt'

make_files() {
    mkdir -p "$DIR/sub" "$DIR/Long Folder Name"
    local file
    for file in abs.txt "Long Folder Name/Long File Name.txt" sub/rel.txt keep.txt seeded.txt; do
        printf '%s\r\n' "$file" >"$DIR/$file"
    done
}

# The files still on the disk below C:\restart, sorted.
files_left() {
    (cd "$DIR" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
}


# ---- 9x: WinInit.ini ----------------------------------------------------------------------
# Seeded now that the session has booted: the boot would have worked it through. The section
# header in lower case, a blank line ending the section and a section after it.
make_files
ALL_FILES=$(files_left)
printf '%s\r\n' '[Settings]' 'Keep=1' '' '[rename]' 'NUL=C:\restart\seeded.txt' '' '[Other]' \
    'Key=Value' >"$WINEPREFIX/drive_c/windows/WinInit.ini"
set_personality 9x
# A file that does not exist (the fourth name, bit 3 of the exit code) cannot be recorded
# and leaves the list as it is.
run_cmdline "$SCHEDULE"' C:\restart\missing.txt' 'C:\restart\sub'
expect_eq "9x: every existing file recorded, the missing one refused" 0x00000008 "$RUN_EXIT_HEX"
list=$(escaped_bytes "$(hostpath 'C:\windows\WinInit.ini')")
# Wine makes up the short names of long ones (LONG~ZAT style); the entry must be an absolute
# path of 8.3 parts, and the restart below shows that it names the right file.
long_entry=$(printf '%s' "$list" | grep -oE 'NUL=C:\\restart\\[A-Z0-9_~]{1,8}\\[A-Z0-9_~]{1,8}\.TXT<CR>' |
    sed 's/<CR>$//')
expect_match "9x: the long file is recorded by its absolute short path" \
    '^NUL=C:\\restart\\LONG~[A-Z0-9]+\\LONG~[A-Z0-9]+\.TXT$' "$long_entry"
expect_eq "9x: the entries stand at the end of [rename], before [Other], the rest unchanged" \
    "[Settings]<CR><LF>Keep=1<CR><LF><CR><LF>[rename]<CR><LF>NUL=C:\\restart\\seeded.txt<CR><LF><CR><LF>NUL=C:\\restart\\abs.txt<CR><LF>$long_entry<CR><LF>NUL=C:\\restart\\sub\\rel.txt<CR><LF>[Other]<CR><LF>Key=Value<CR><LF>" \
    "$list"
expect_eq "9x: no WinInit.tmp or WinInit.old left" "" \
    "$(find "$WINEPREFIX/drive_c/windows" -maxdepth 1 -iname 'wininit.tmp' -o -maxdepth 1 \
        -iname 'wininit.old')"
expect_eq "9x: nothing pending in the NT list" "" "$(pending_renames)"
expect_eq "9x: before the restart every file is there" "$ALL_FILES" "$(files_left)"
wine_restart
expect_eq "9x: the restart deleted the scheduled and the seeded files" keep.txt "$(files_left)"
expect_eq "9x: the restart worked through WinInit.ini" "" "$(wininit_ini)"

# ---- NT: PendingFileRenameOperations -------------------------------------------------------
make_files
set_personality nt
run_cmdline "$SCHEDULE" 'C:\restart\sub'
expect_eq "nt: every file recorded" 0x00000000 "$RUN_EXIT_HEX"
# Passed as given; the system makes the relative name absolute against the current directory.
expect_eq "nt: the three files are pending deletion" "C:\\restart\\abs.txt
C:\\restart\\$LONG_NAME
C:\\restart\\sub\\rel.txt" "$(pending_deletions)"
expect_eq "nt: WinInit.ini is not written" "" "$(wininit_ini)"
wine_restart
expect_eq "nt: the restart deleted the scheduled files" "keep.txt
seeded.txt" "$(files_left)"
expect_eq "nt: the restart cleared the pending deletions" "" "$(pending_renames)"

finish
