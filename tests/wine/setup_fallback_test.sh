#!/bin/bash
# setup's choice of the staging root by free space, under Wine, in the 9x and the NT
# personality. C: is a small tmpfs holding links to the real folders of the prefix (only the
# Windows directory and its TEMP are real folders there), D: a second tmpfs marked as a fixed
# disk, E: the medium mounted read-only. setup reads the free space live, so each case just
# fills the two tmpfs to the free space it needs:
# - C: 10 MB free, D: more: staging goes to D:\TEMP (21 files) and the launcher starts there;
# - C: 11 MB free: staging stays under C:\windows\TEMP;
# - less than 1 MB on both: no fixed drive has room, so setup tries \TEMP on its current
#   drive, the read-only medium, and ends with its "COPY ERROR" message and exit code 0.
# Needs root for the mounts; skipped otherwise.
source "$(dirname "$0")/lib.sh"

MB=1048576
COPY_ERROR_TEXT='Could not copy files to the system directory.  Please make sure you have\n'
COPY_ERROR_TEXT+='Administrator access on this computer system.  Also check to make sure there\n'
COPY_ERROR_TEXT+='is at least 10MB of free disk space on the system drive.'
COPY_ERROR_BOX="box caption=\"COPY ERROR\" icon=none text=\"$COPY_ERROR_TEXT\""

# Whether tmpfs can be mounted here at all, before anything else is set up.
probe=$(mktemp -d)
if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=1m tmpfs "$probe" 2>/dev/null; then
    rmdir "$probe"
    echo "skipped: mounting a small tmpfs needs root (uid $(id -u))"
    exit 77
fi
umount "$probe"
rmdir "$probe"

# mount_tmpfs DIR SIZE: a tmpfs at DIR, unmounted when the test ends. Its root is the
# drive's root: mode 755, as a drive whose root lets nobody else delete what is in it (a tmpfs
# root's own 1777 reads under Wine as everyone's right to do so, and setup then refuses its TEMP).
mount_tmpfs() {
    mkdir -p "$1"
    mount -t tmpfs -o "size=$2,mode=0755" tmpfs "$1" || exit 1
    at_exit "unmount '$1'"
}

# fill_to DIR BYTES: leaves exactly BYTES free on the tmpfs of DIR (a multiple of its 4 KiB
# pages), with one filler file.
fill_to() {
    rm -f "$1/filler"
    local free
    free=$(stat -f -c '%a * %S' "$1")
    free=$((free))
    if [ "$free" -lt "$2" ]; then
        log "only $free bytes free on $1, wanted $2"
        EXPECT_FAILURES=$((EXPECT_FAILURES + 1))
        return 1
    fi
    head -c $((free - $2)) /dev/zero >"$1/filler"
}

make_prefix

# C: the small system drive. Wine needs the files of the Windows directory: links to the real
# folders, with only TEMP real, so that setup's first choice lands on the tmpfs.
small_c=$WORK/small-c
mount_tmpfs "$small_c" 16m
real_c=$WINEPREFIX/drive_c
for entry in "$real_c"/* "$real_c"/windows/*; do
    case "${entry#"$real_c"/}" in
    windows | windows/temp) ;;
    *) ln -s "$entry" "$small_c/${entry#"$real_c"/}" ;;
    esac
    [ "${entry#"$real_c"/}" = windows ] && mkdir "$small_c/windows"
done
mkdir "$small_c/windows/temp"
ln -sfn "$small_c" "$WINEPREFIX/dosdevices/c:"

# D: a second fixed drive.
drive_d=$WORK/drive-d
mount_tmpfs "$drive_d" 16m
ln -sfn "$drive_d" "$WINEPREFIX/dosdevices/d:"
wine_run reg add 'HKLM\Software\Wine\Drives' /v d: /d hd /f >/dev/null
wineserver_cmd -w

# E: the medium, read-only (root ignores file modes; a read-only mount it cannot ignore).
make_medium "$WORK/cd" --launcher recorder
mkdir -p "$WORK/cd-ro"
mount --bind "$WORK/cd" "$WORK/cd-ro" || exit 1
at_exit "unmount '$WORK/cd-ro'"
mount -o remount,bind,ro "$WORK/cd-ro" || exit 1
map_cdrom "$WORK/cd-ro"

start_session 24
record=$small_c/record.txt
c_staging=$small_c/windows/temp
d_staging=$drive_d/TEMP

drives() {
    survey | grep '^drive='
}

# run_setup C_FREE D_FREE: setup from E:\ with that much free on C: and D:; sets DRIVES (the
# drives as the programs saw them just before) and BOXES.
run_setup() {
    rm -rf "$d_staging" "$record"
    remove_staging "$c_staging"
    fill_to "$small_c" "$1"
    fill_to "$drive_d" "$2"
    DRIVES=$(drives)
    local before
    before=$(boxes_seen | wc -l)
    run_cmdline 'E:\setup.exe' 'E:\'
    wait_process _zorp.ex_ 30
    BOXES=$(boxes_after "$before")
}

for personality in 9x nt; do
    set_personality "$personality"

    run_setup $((10 * MB)) $((15 * MB))
    expect_match "$personality, C: 10 MB: C: as the programs see it" \
        '^drive=C:\\ type=3 freemb=10$' "$DRIVES"
    expect_match "$personality, C: 10 MB: D: as the programs see it" \
        '^drive=D:\\ type=3 freemb=15$' "$DRIVES"
    expect_eq "$personality, C: 10 MB: setup's exit code" 0x00000001 "$RUN_EXIT_HEX"
    expect_eq "$personality, C: 10 MB: no message" "" "$BOXES"
    expect_staged "$personality, C: 10 MB" "$d_staging"
    expect_eq "$personality, C: 10 MB: nothing staged on C:" "" "$(ls "$c_staging")"
    expect_eq "$personality, C: 10 MB: the launcher's command line" \
        '"D:\TEMP\Init\_zorp.ex_" E:\Init' "$(record_field cmdline "$record")"
    expect_eq "$personality, C: 10 MB: the launcher's working directory" 'D:\TEMP\Init' \
        "$(record_field cwd "$record")"

    run_setup $((11 * MB)) $((15 * MB))
    expect_match "$personality, C: 11 MB: C: as the programs see it" \
        '^drive=C:\\ type=3 freemb=11$' "$DRIVES"
    expect_eq "$personality, C: 11 MB: setup's exit code" 0x00000001 "$RUN_EXIT_HEX"
    expect_staged "$personality, C: 11 MB" "$c_staging"
    expect_eq "$personality, C: 11 MB: nothing staged on D:" "" \
        "$(ls "$drive_d" | grep -v filler)"
    expect_eq "$personality, C: 11 MB: the launcher's command line" \
        '"C:\windows\TEMP\Init\_zorp.ex_" E:\Init' "$(record_field cmdline "$record")"

    run_setup $((MB / 2)) $((MB / 2))
    expect_match "$personality, no room: C: is full" '^drive=C:\\ type=3 freemb=0$' "$DRIVES"
    expect_match "$personality, no room: D: is full" '^drive=D:\\ type=3 freemb=0$' "$DRIVES"
    expect_eq "$personality, no room: setup's exit code" 0x00000000 "$RUN_EXIT_HEX"
    expect_eq "$personality, no room: the copy error message, alone" "$COPY_ERROR_BOX" "$BOXES"
    expect_eq "$personality, no room: nothing staged anywhere" "" \
        "$(ls "$c_staging"; ls "$drive_d" | grep -v filler; ls -d "$WORK/cd/TEMP" 2>/dev/null)"
    expect_eq "$personality, no room: no launcher started" "" "$(cat "$record" 2>/dev/null)"
done

finish
