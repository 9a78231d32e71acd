#!/bin/bash
# The demo: builds the programs, builds the CD image of a sample payload with
# scripts/make-medium.sh, mounts it read-only as CD-ROM drive E: of a Wine prefix, runs
# E:\setup.exe from it, and tells what happened at each stage: the drive
# survey and the staging root chosen, the files copied, the launcher's and the installer's
# command lines, what the cleanup removed, what was scheduled for deletion at restart and
# what a restart then removed. It saves a screenshot of the progress window and one of the
# installer's window. The installer on the sample medium is a stand-in that shows a window for
# a moment and writes down how it was started.
#
#   scripts/demo.sh [nt|9x] [8|24] [--iso IMAGE.iso]
#       Windows personality (default nt), display depth (24); --iso runs a publisher's image
#       instead of the sample one.
#
# Runs the x86_64 build of the programs under wine64 where the kernel cannot run 32-bit
# programs (the i686 deliverables are built as well); a publisher's image, which holds the
# i686 programs, needs a host that can run them. The sample payload and image, the screenshots
# and the prefix are left in build/demo.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
USAGE="usage: demo.sh [nt|9x] [8|24] [--iso IMAGE.iso]"
PERSONALITY=nt
DEPTH=24
IMAGE=
while [ $# -gt 0 ]; do
    case "$1" in
    nt | 9x) PERSONALITY=$1 ;;
    8 | 24) DEPTH=$1 ;;
    --iso) [ $# -ge 2 ] || { echo "$USAGE" >&2 && exit 2; }
        IMAGE=$(realpath -e "$2" 2>/dev/null) || { echo "demo.sh: no image $2" >&2 && exit 2; }
        shift ;;
    *) echo "$USAGE" >&2 && exit 2 ;;
    esac
    shift
done

bash "$ROOT/scripts/install-deps.sh" || exit 1
bash "$ROOT/scripts/build.sh" win32 win64 >/dev/null || exit 1

export WINE_BUILD_DIR=$ROOT/build/win64 WIN32_BUILD_DIR=$ROOT/build/win32
export WINE_TEST_ROOT=$ROOT/build/demo
source "$ROOT/tests/wine/lib.sh"
WINE_TEST_NAME=demo
PROGRESS_PNG=$WINE_TEST_ROOT/progress.png
INSTALLER_PNG=$WINE_TEST_ROOT/installer.png
SAMPLE_PAYLOAD=$WINE_TEST_ROOT/sample-payload
SAMPLE_IMAGE=$WINE_TEST_ROOT/sample.iso

section() { printf '\n== %s\n' "$*"; }
indent() { sed 's/^/  /'; }

# The host process of the Wine program whose command line is exactly TEXT, in this prefix.
wine_pid() {
    local pid
    local pattern  # pgrep takes a regular expression: E:\setup.exe would read \s as a blank
    pattern=$(printf '%s' "$1" | sed 's/[][\\.^$*+?(){}|]/\\&/g')
    for pid in $(pgrep -f -x -- "$pattern"); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return 0
        fi
    done
    return 1
}

# The X window id of the top-level window titled CAPTION, if one is mapped.
window_id() {
    timeout -k 1 3 xwininfo -display "$DISPLAY" -root -tree 2>/dev/null |
        awk -v c="\"$1\"" 'index($0, c) && /[0-9]+x[0-9]+/ { print $1; exit }'
}

# capture CAPTION FILE: waits (up to 60 s) for the window, lets it paint, and saves it as FILE.
# Every X call has a time limit.
capture() {
    local caption=$1 file=$2 id= end=$((SECONDS + 60))
    while [ -z "$id" ] && [ "$SECONDS" -lt "$end" ]; do
        id=$(window_id "$caption")
        [ -n "$id" ] || sleep 0.02
    done
    [ -n "$id" ] || return 1
    sleep 0.15
    timeout -k 1 5 import -display "$DISPLAY" -window "$id" "$file" 2>/dev/null
}

# staged_rows STAGING: how many of the medium's rows lie whole in STAGING (a host folder), each
# as long as its file on the medium, names matched without regard to case.
staged_rows() {
    [ -d "$1" ] || { echo 0 && return; }
    find "$1" -type f -printf '%P %s\n' 2>/dev/null | tr '[:upper:]' '[:lower:]' |
        grep -cxFf "$ROW_SIZES"
}

# capture_progress FILE STAGING: setup's progress window part-way through the copy, after some
# rows and before the last are staged in STAGING. The copy is over in a moment, so setup is
# held still (SIGSTOP) while the rows are counted and the window is looked for, and let go
# until some rows, and not all, are staged; then it runs a moment to paint its window, is held
# again, and the window is saved. Writes the count of staged rows to FILE.rows. A program held
# while Wine grabs the X server would block the capture: it is let go, and the capture tried
# once more.
capture_progress() {
    local file=$1 staging=$2 caption='Quillo 4.0 Setup' id= pid= rows end=$((SECONDS + 60))
    local status total
    total=$(wc -l <"$ROW_SIZES")
    while [ -z "$pid" ] && [ "$SECONDS" -lt "$end" ]; do
        pid=$(wine_pid 'E:\setup.exe') || sleep 0.01
    done
    [ -n "$pid" ] || return 1
    while [ -z "$id" ] && [ "$SECONDS" -lt "$end" ] && kill -STOP "$pid" 2>/dev/null; do
        rows=$(staged_rows "$staging")
        [ "$rows" -ge "$total" ] && { kill -CONT "$pid"; return 1; }  # too late: all staged
        [ "$rows" -ge 1 ] && id=$(window_id "$caption")
        [ -n "$id" ] || { kill -CONT "$pid"; sleep 0.005; }
    done
    [ -n "$id" ] || { kill -CONT "$pid" 2>/dev/null; return 1; }
    kill -CONT "$pid" && sleep 0.05 && kill -STOP "$pid"  # a moment to paint
    staged_rows "$staging" >"$file.rows"
    timeout -k 1 5 import -display "$DISPLAY" -window "$id" "$file" 2>/dev/null
    status=$?
    kill -CONT "$pid"
    [ "$status" = 0 ] ||
        { timeout -k 1 5 import -display "$DISPLAY" -window "$id" "$file" 2>/dev/null; status=$?; }
    return $status
}

# The processor a Windows program is built for, from its PE header: i686, x86_64 or unknown.
pe_machine() {
    local header
    header=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    case "$(od -An -tx2 -j$((${header:-0} + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')" in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) echo unknown ;;
    esac
}

make_prefix
if [ -z "$IMAGE" ]; then
    section "The sample image: the payload $SAMPLE_PAYLOAD, about 55 MB, with a stand-in" \
        "installer that shows a window for a moment, made into $SAMPLE_IMAGE"
    echo "  bash scripts/make-medium.sh ${SAMPLE_PAYLOAD#"$ROOT"/} ${SAMPLE_IMAGE#"$ROOT"/}"
    rm -rf "$SAMPLE_PAYLOAD"
    make_payload "$SAMPLE_PAYLOAD" 55
    make_image "$SAMPLE_PAYLOAD" "$SAMPLE_IMAGE" 2>&1 | indent
    [ "${PIPESTATUS[0]}" = 0 ] || { echo "demo.sh: the sample image was not made" >&2 && exit 1; }
    IMAGE=$SAMPLE_IMAGE
fi
mount_image "$IMAGE" "$WORK/cd"
section "The CD image $IMAGE, $MOUNT_METHOD, as drive E:"
autorun=$(find "$WORK/cd" -maxdepth 1 -iname autorun.inf -print -quit)
if [ -n "$autorun" ]; then
    echo "  E:\\${autorun##*/} (what Windows does when the disc is inserted):"
    tr -d '\r' <"$autorun" | indent | indent
else
    echo "  no AUTORUN.INF: inserting the disc starts nothing"
fi
setup_exe=$(find "$WORK/cd" -maxdepth 1 -iname setup.exe -print -quit)
machine=$(pe_machine "${setup_exe:-/dev/null}")
case "$WINE_ARCH:$machine" in
win32:i686 | win64:x86_64) ;;
*)
    echo "demo.sh: the image's setup.exe is built for $machine, but the demo runs" \
        "$([ "$WINE_ARCH" = win32 ] && echo i686 || echo x86_64) programs on this host" >&2
    exit 1
    ;;
esac
map_cdrom "$WORK/cd"
set_personality "$PERSONALITY"
start_session "$DEPTH"
rm -f "$PROGRESS_PNG" "$INSTALLER_PNG"

section "The machine: $("$WINE" --version) ($WINE_ARCH, $WINE_TEST_BUILD)," \
    "$PERSONALITY personality, display depth $DEPTH"
survey=$(wine_run 'C:\tools\winhelper.exe' survey | tr -d '\r')
printf '%s\n' "$survey" | sed -n 's/^platform=/GetVersionExA platform=/p; s/^bitspixel=/display: bits per pixel=/p;
    s/^windows=/Windows directory: /p' | indent
echo "  drive survey (GetDriveTypeA: 2 removable, 3 fixed, 4 network, 5 CD-ROM):"
printf '%s\n' "$survey" | sed -n 's/^drive=//p' | indent | indent

section "The medium in drive E:"
(cd "$WORK/cd" && find . -type f -printf '%P %s\n' | sort | tr '/' '\\' |
    awk '{ printf "  E:\\%-22s %9d bytes\n", $1, $2 }')

section "Running E:\\setup.exe with E:\\ as current directory"
# The rows and their sizes on the medium, to tell a staged row from one being copied.
ROW_SIZES=$WORK/row-sizes
for row in $MEDIUM_FILES; do
    find "$WORK/cd" -ipath "$WORK/cd/$row" -printf "$row %s\n"
done | tr '[:upper:]' '[:lower:]' >"$ROW_SIZES"
remove_staging "$(hostpath 'C:\windows\TEMP')"
rm -f "$PROGRESS_PNG.rows"
capture_progress "$PROGRESS_PNG" "$(hostpath 'C:\windows\TEMP')" &
progress_watch=$!
capture 'Quillo 4.0 Installer (stand-in)' "$INSTALLER_PNG" &
installer_watch=$!
run_cmdline 'E:\setup.exe' 'E:\' 120
echo "  setup ended with exit code $RUN_EXIT_HEX (1: launcher started, 0: staging failed," \
    "0x80004005: another stage running)"
wait_process _zorp.exe 60
wait_process _zorp.ex_ 60
wait "$installer_watch"
kill "$progress_watch" 2>/dev/null
wait "$progress_watch" 2>/dev/null

record=$(tr -d '\r' <"$WINEPREFIX/drive_c/record.txt" 2>/dev/null)
field() { printf '%s\n' "$record" | sed -n "s/^$1=//p" | head -n1; }
cwd=$(field cwd)
staging_root=${cwd%\\*}
staging=
[ -n "$cwd" ] && staging=$(hostpath "$staging_root")

if [ -z "$record" ]; then
    section "The installer was not started"
else
    section "Staging root chosen: $staging_root"
    free=$(printf '%s\n' "$survey" | sed -n 's/^drive=C:\\ type=3 freemb=//p')
    if [ "$staging_root" = "$(printf '%s\n' "$survey" | sed -n 's/^windows=//p')\\TEMP" ]; then
        echo "  TEMP under the Windows directory: the system drive C: has ${free:-?} MB free" \
            "(more than 10 MB)"
    else
        echo "  TEMP on the fixed drive with the most free space (the system drive had 10 MB" \
            "or less, or staging there failed)"
    fi
    section "Files copied (the staging area as the installer found it)"
    printf '%s\n' "$record" | sed -n 's/^file=//p' |
        awk '{ printf "  %-22s %9d bytes\n", $1, $2 }'
    printf '%s\n' "$record" | sed -n 's/^missing=/  missing directory: /p'
    section "Command lines"
    echo "  setup started the launcher: $(field parent)"
    echo "                         in:  $cwd"
    echo "  the launcher started:       $(field cmdline)"
    echo "                         in:  $cwd"
    echo "  (Wine shows the program name of a started command line in quotes)"
    echo "  mutex \"MutexToProtectSetup\" while the installer ran: $(field mutex)"
fi

section "Message boxes shown"
boxes=$(boxes_seen)
printf '%s\n' "${boxes:-(none)}" | indent

# The staging area now, one "Dir\name" a line (directories as "Dir\").
staging_listing() {
    local dir
    for dir in Config Init Extra English; do
        [ -d "$staging/$dir" ] || continue
        echo "$dir\\"
        ls -A "$staging/$dir" | sed "s/^/$dir\\\\/"
    done
}

if [ -n "$staging" ]; then
    section "What the launcher's cleanup removed"
    before=$( (printf '%s\n' "$record" | sed -n 's/^file=\([^ ]*\) .*/\1/p'
        printf '%s\\\n' Config Init Extra English) | sort)
    after=$(staging_listing | sort)
    removed=$(comm -23 <(printf '%s\n' "$before") <(printf '%s\n' "$after"))
    echo "  removed $(printf '%s\n' "$removed" | grep -vc '\\$') files:" \
        "$(printf '%s\n' "$removed" | grep -v '\\$' | tr '\n' ' ')"
    echo "  removed directories: $(printf '%s\n' "$removed" | grep '\\$' | tr '\n' ' ')"
    echo "  left in $staging_root: $(printf '%s\n' "$after" | tr '\n' ' ')"
fi

section "Scheduled for deletion at restart"
if [ "$PERSONALITY" = 9x ]; then
    echo "  the [Rename] section of C:\\windows\\WinInit.ini (NUL=<short path> deletes it):"
    wininit_ini | tr -d '\r' | indent | indent
else
    echo "  PendingFileRenameOperations (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT):"
    pending_deletions | indent | indent
fi
before_restart=$( [ -n "$staging" ] && staging_listing | sort)
wine_restart
section "What the restart (wineboot -r) removed"
after_restart=$( [ -n "$staging" ] && staging_listing | sort)
gone=$(comm -23 <(printf '%s\n' "$before_restart") <(printf '%s\n' "$after_restart"))
echo "  removed: ${gone:-nothing}" | tr '\n' ' '
echo
echo "  left in $staging_root: $(printf '%s\n' "$after_restart" | tr '\n' ' ')"
end_session

section "Screenshots"
if [ -s "$PROGRESS_PNG" ]; then
    echo "  $PROGRESS_PNG: the progress window part-way through the copy, when" \
        "$(cat "$PROGRESS_PNG.rows") of the $(wc -l <"$ROW_SIZES") rows had been staged"
else
    echo "  (no screenshot of the progress window part-way through the copy)"
fi
if [ -s "$INSTALLER_PNG" ]; then
    echo "  $INSTALLER_PNG: the stand-in installer's window"
else
    echo "  (no screenshot of the stand-in installer's window)"
fi
echo
echo "Demo finished; the prefix is in $WORK/prefix."
WINE_TEST_KEEP=1
exit 0
