#!/bin/bash
# Links in the staging area and the permissions of what setup creates, in the NT personality
# (Windows 95/98 have neither links nor permissions). Wine enforces no permissions and makes no
# junctions, so what it can show is this: a host directory symlink in the prefix stands in for
# a junction (Wine reports it as a reparse point, attributes 0x410, and follows it), `ln` makes
# a hard link, and the security descriptor that setup gives a new directory reads back as Wine
# keeps it. Other users' folders are the victims below C:\victims, holding files named like
# the staged ones: nothing of theirs may be written or deleted, up to and after each restart.
# 1. C:\windows\TEMP\Init and C:\TEMP are links: setup uses neither, and ends with its copy
#    error; nothing is scheduled for the restart.
# 2. C:\TEMP removed, Init still a link: setup stages on the fallback, C:\TEMP, which it
#    creates. While the installer runs, every directory setup created there is read back: the
#    DACL names no one but SYSTEM and the user. (Wine keeps a descriptor only as the Unix mode
#    bits: the private one becomes mode 750 and reads back unprotected, as SYSTEM and the user
#    with full access, inherited; Administrators is dropped. A directory created without it is
#    755 and reads back with an entry for Everyone.) Then C:\TEMP\Config is swapped for a
#    link, which the launcher must leave alone. The restart deletes the three files scheduled
#    in C:\TEMP\Init, nothing else.
# 3. The existing C:\TEMP\Init holds Setupapi.dll as a hard link to a victim file: setup stages
#    the medium's file there and the victim keeps its content. While the installer runs,
#    C:\TEMP\Init is swapped for a link: the launcher deletes and schedules nothing through it.
source "$(dirname "$0")/lib.sh"

COPY_ERROR_TEXT='Could not copy files to the system directory.  Please make sure you have\n'
COPY_ERROR_TEXT+='Administrator access on this computer system.  Also check to make sure there\n'
COPY_ERROR_TEXT+='is at least 10MB of free disk space on the system drive.'
COPY_ERROR_BOX="box caption=\"COPY ERROR\" icon=none text=\"$COPY_ERROR_TEXT\""
SYSTEM_SID=S-1-5-18

make_prefix
make_medium "$WORK/cd"
map_cdrom "$WORK/cd"
start_session 24
set_personality nt

WINDOWS_TEMP=$(hostpath 'C:\windows\TEMP')
FALLBACK=$WINEPREFIX/drive_c/TEMP
VICTIMS=$WINEPREFIX/drive_c/victims
RECORD=$WINEPREFIX/drive_c/record.txt

# make_victim DIR FILE...: files of another user below DIR, each holding its own path.
make_victim() {
    local dir=$VICTIMS/$1 file
    shift
    for file in "$@"; do
        mkdir -p "$(dirname "$dir/$file")"
        printf 'victim %s\r\n' "$file" >"$dir/$file"
    done
}

# Every file and directory below C:\victims, with each file's checksum.
victims_state() {
    (cd "$VICTIMS" && find . -mindepth 1 -printf '%y %p\n' | LC_ALL=C sort |
        while read -r type path; do
            if [ "$type" = f ]; then
                echo "$path $(cksum <"$path")"
            else
                echo "$type $path"
            fi
        done)
}

INIT_ROWS="Cfgmgr32.dll Arrows.dll Setupapi.dll Msvcrt.dll _zorp.exe _zorp.ex_"
make_victim init $INIT_ROWS
make_victim root Init/Cfgmgr32.dll Init/Arrows.dll Init/Setupapi.dll Init/_zorp.ex_ \
    Config/Qcore.cfg Extra/dx6core.exe
make_victim config Qcore.cfg
make_victim swapped-init $INIT_ROWS
make_victim hard Setupapi.dll
VICTIMS_BEFORE=$(victims_state)

# expect_victims_kept WHAT: nothing below C:\victims was written, deleted or added.
expect_victims_kept() {
    expect_eq "$1: nothing of the victims' written, deleted or added" "$VICTIMS_BEFORE" \
        "$(victims_state)"
}

# run_setup HOLD: setup from E:\ with an empty record; once the installer has written its
# record, it holds until HOLD (run with eval) is done. Waits for the launcher to end. Sets
# BOXES (the message boxes of this run).
run_setup() {
    local before
    rm -f "$RECORD" "$WINEPREFIX/drive_c/tools/go"
    before=$(boxes_seen | wc -l)
    RECORDER_WAIT_FILE='C:\tools\go' run_cmdline 'E:\setup.exe' 'E:\'
    [ "$RUN_EXIT_HEX" = 0x00000001 ] && hold_installer "$1"
    wait_process _zorp.ex_ 60 || log "the launcher is still running"
    BOXES=$(boxes_after "$before")
}

# What stands below C:\TEMP: "d Init", "f Init/_zorp.ex_", "l Config" (a link), sorted.
fallback_tree() {
    (cd "$FALLBACK" && find . -mindepth 1 -printf '%P %y\n' | LC_ALL=C sort |
        awk '{ print $2, $1 }')
}

# ---- 1. Init and the fallback root are links -------------------------------------------------
ln -s "$VICTIMS/init" "$WINDOWS_TEMP/Init"
ln -s "$VICTIMS/root" "$FALLBACK"
run_setup :
what="Init and C:\\TEMP links"
expect_eq "$what: setup's exit code" 0x00000000 "$RUN_EXIT_HEX"
expect_eq "$what: the copy error message, alone" "$COPY_ERROR_BOX" "$BOXES"
expect_eq "$what: nothing started" "" "$(record_field module)"
expect_eq "$what: nothing pending at restart" "" "$(pending_renames)"
expect_victims_kept "$what"
wine_restart
expect_victims_kept "$what, after the restart"

# ---- 2. Init a link: staged on the fallback; Config swapped for a link -----------------------
rm "$FALLBACK"
DIRECTORIES='C:\TEMP C:\TEMP\Config C:\TEMP\Init C:\TEMP\Extra C:\TEMP\English'
# read_dacls: the security descriptor of each directory that setup created, as winhelper
# prints it, under a "path=" line.
read_dacls() {
    local dir
    for dir in $DIRECTORIES; do
        echo "path=$dir"
        wine_run 'C:\tools\winhelper.exe' dacl "$dir" 2>/dev/null | tr -d '\r'
    done
}
swap_config() {
    DACLS=$(read_dacls)
    mv "$FALLBACK/Config" "$WORK/config-moved" && ln -s "$VICTIMS/config" "$FALLBACK/Config"
}
run_setup swap_config
what="Init a link"
expect_eq "$what: setup hands off" 0x00000001 "$RUN_EXIT_HEX"
expect_eq "$what: no message box" "" "$BOXES"
expect_eq "$what: the installer ran from the fallback" 'C:\TEMP\Init\_zorp.exe' \
    "$(record_field module)"
log "$what: the directories setup created, read back:"
printf '%s\n' "$DACLS" | sed 's/^/    /'
USER_SID=$(printf '%s\n' "$DACLS" | sed -n 's/^user=//p' | head -n1)
expect_match "$what: the user running is known" '^S-1-5-' "$USER_SID"
for dir in $DIRECTORIES; do
    entries=$(printf '%s\n' "$DACLS" | awk -v dir="path=$dir" '/^path=/ { on = $0 == dir; next }
        on && /^ace / { sub(/.* sid=/, ""); print }' | LC_ALL=C sort -u)
    expect_eq "$what: the entries of $dir name SYSTEM and the user alone" \
        "$(printf '%s\n' "$SYSTEM_SID" "$USER_SID" | LC_ALL=C sort -u)" "$entries"
done
expect_eq "$what: the launcher left the Config link alone, emptied Init, removed the rest" \
    'l Config
d Init
f Init/_zorp.ex_' "$(fallback_tree)"
expect_eq "$what: the three names in C:\\TEMP\\Init are pending deletion" 'C:\TEMP\Init\cfgmgr32.dll
C:\TEMP\Init\setupapi.dll
C:\TEMP\Init\_zorp.ex_' "$(pending_deletions)"
expect_victims_kept "$what"
wine_restart
expect_eq "$what: after the restart C:\\TEMP\\Init is empty" "" "$(ls -A "$FALLBACK/Init")"
expect_victims_kept "$what, after the restart"
rm "$FALLBACK/Config"

# ---- 3. A hard link at a row's place in the existing Init; Init swapped for a link -----------
ln "$VICTIMS/hard/Setupapi.dll" "$FALLBACK/Init/Setupapi.dll"
swap_init() {
    STAGED_SETUPAPI=$(cmp -s "$MEDIUM_DIR/Init/Setupapi.dll" "$FALLBACK/Init/Setupapi.dll" &&
        echo medium)
    mv "$FALLBACK/Init" "$WORK/init-moved" && ln -s "$VICTIMS/swapped-init" "$FALLBACK/Init"
}
run_setup swap_init
what="a hard link in Init"
expect_eq "$what: setup hands off" 0x00000001 "$RUN_EXIT_HEX"
expect_eq "$what: the installer ran from the fallback" 'C:\TEMP\Init\_zorp.exe' \
    "$(record_field module)"
expect_eq "$what: the staged Setupapi.dll is the medium's" medium "$STAGED_SETUPAPI"
expect_victims_kept "$what, and Init swapped for a link"
expect_eq "$what: the launcher left the Init link alone, removed the rest" 'l Init' \
    "$(fallback_tree)"
expect_eq "$what: nothing pending at restart" "" "$(pending_renames)"
wine_restart
expect_victims_kept "$what, after the restart"

finish
