# Test bed for the Wine end-to-end tests. Every tests/wine/*_test.sh sources this file.
#
# A test looks like this:
#
#   source "$(dirname "$0")/lib.sh"
#   make_prefix                      # fresh copy of the run's template prefix, tools in C:\tools
#   make_medium "$WORK/cd"           # a medium: setup.exe, Init\..., Config\..., Extra\...
#   map_cdrom "$WORK/cd"             # the medium becomes CD-ROM drive E:
#   set_personality 9x               # or nt (the default)
#   start_session 24                 # Xvfb at depth 24, a fresh Wine session, box collector
#   run_cmdline 'E:\setup.exe' 'E:\' # runs it through runner.exe: RUN_EXIT, RUN_EXIT_HEX
#   expect_eq "setup exit" 0x00000001 "$RUN_EXIT_HEX"
#   finish                           # ends the session; exit 1 if any expectation failed
#
# Facts this relies on (measured on wine 8.0, Debian 12):
# - Only one Wine is used per run: /usr/lib/wine/wine (wine32) with the i686 build when it can
#   run here, otherwise /usr/lib/wine/wine64 with the x86_64 build of the same sources.
#   /usr/bin/wine is never used: it picks wine32 even where the kernel cannot run it.
# - A Wine session (one wineserver) boots when its first process starts: it then carries out
#   WinInit.ini's [Rename] section (renaming the file to wininit.bak) and
#   PendingFileRenameOperations. So: write nothing into WinInit.ini before start_session that
#   must survive, read what a program scheduled before the session ends, and use wine_restart
#   to see it carried out. start_session keeps the server up (-p) until finish.
# - Drive settings (dosdevices links, HKLM\Software\Wine\Drives) are read when the session
#   starts: map_cdrom before start_session.
# - Without a window manager, every window that closes makes Wine's X11 driver wait 2 s for
#   the window manager ("wait_for_withdrawn_state"); the template turns off managed windows.
# - The Unix exit status of wine keeps only 8 bits: run_exact/run_cmdline go through
#   runner.exe, which reports the full 32-bit code, and take the exact command line from a
#   file (Wine re-quotes arguments that hold blanks).
#
# Inputs from the environment (CTest sets them): WINE_BUILD_DIR (the x86_64 Windows build),
# WIN32_BUILD_DIR (the i686 build), WINE_TEST_ROOT (scratch folder in the build tree; default
# /tmp/wine-tests). WINE_TEST_KEEP=1 keeps every test's prefix; a failed test's prefix is kept
# as $WINE_TEST_ROOT/failed-<test> either way.

set -u

WINE_TEST_NAME=$(basename "${0%.sh}")
WINE_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WINE_TEST_ROOT=${WINE_TEST_ROOT:-/tmp/wine-tests}
WINE_TEMPLATE=$WINE_TEST_ROOT/template
WINE_RUN_COUNT=0
XVFB_PID=
BOX_COLLECTOR_PID=
export WINEDEBUG=-all
# No menu entries or file associations on the host; no Mono or Gecko installer prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="

source "$(dirname "${BASH_SOURCE[0]}")/../expect.sh"

# ---- Which Wine and which build ---------------------------------------------------------

# Sets WINE (the loader), WINESERVER_BIN, WINE_ARCH (win32|win64), WINE_TEST_BUILD (the
# Windows build whose programs run) and WINE_DLL_DIR (Wine's own DLLs for that architecture).
wine_select() {
    if [ -n "${WIN32_BUILD_DIR:-}" ] && [ -x /usr/lib/wine/wine ] &&
        /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WINE=/usr/lib/wine/wine
        WINE_ARCH=win32
        WINE_TEST_BUILD=$WIN32_BUILD_DIR
        WINE_DLL_DIR=/usr/lib/i386-linux-gnu/wine/i386-windows
    elif [ -x /usr/lib/wine/wine64 ]; then
        WINE=/usr/lib/wine/wine64
        WINE_ARCH=win64
        WINE_TEST_BUILD=${WINE_BUILD_DIR:-}
        WINE_DLL_DIR=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
    else
        echo "no usable Wine (/usr/lib/wine/wine or /usr/lib/wine/wine64)" >&2
        exit 77
    fi
    WINESERVER_BIN=/usr/lib/wine/wineserver
    export WINE WINE_ARCH WINE_TEST_BUILD WINE_DLL_DIR WINESERVER_BIN
    if [ -z "$WINE_TEST_BUILD" ] || [ ! -d "$WINE_TEST_BUILD" ]; then
        echo "the Windows build for $WINE_ARCH is missing: '${WINE_TEST_BUILD}'" >&2
        exit 1
    fi
}

# The built programs: setup.exe, _zorp.ex_ and the test tools.
program_path() {
    case "$1" in
    setup.exe) echo "$WINE_TEST_BUILD/bootstrap/setup.exe" ;;
    _zorp.ex_) echo "$WINE_TEST_BUILD/launcher/_zorp.ex_" ;;
    *) echo "$WINE_TEST_BUILD/testtools/$1" ;;
    esac
}

# Runs a Wine program with a time limit (default 120 s, WINE_RUN_TIMEOUT).
wine_run() {
    timeout -k 5 "${WINE_RUN_TIMEOUT:-120}" "$WINE" "$@"
}

wineserver_cmd() { WINEPREFIX=$WINEPREFIX "$WINESERVER_BIN" "$@"; }

# ---- Prefixes ------------------------------------------------------------------------------

# Boots the run's template prefix (wineboot -i, about 10 s and 700 MB) and configures it: no
# crash dialog, unmanaged windows, no audio driver, E: a CD-ROM drive and Z: (the host's root)
# a network drive, so that the drive survey sees C: as the only fixed drive.
make_template() {
    local fresh=$WINE_TEST_ROOT/template.new
    rm -rf "$fresh" "$WINE_TEMPLATE"
    mkdir -p "$WINE_TEST_ROOT"
    local -x WINEPREFIX=$fresh
    [ "$WINE_ARCH" = win32 ] && local -x WINEARCH=win32
    log "booting template prefix ($WINE_ARCH)"
    (unset DISPLAY; wine_run wineboot -i >/dev/null 2>&1)
    cat >"$fresh/drive_c/template.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Audio"=""

[HKEY_LOCAL_MACHINE\Software\Wine\Drives]
"e:"="cdrom"
"z:"="network"
EOF
    (unset DISPLAY; wine_run regedit /S 'C:\template.reg')
    wineserver_cmd -w
    rm -f "$fresh/drive_c/template.reg"
    if [ ! -d "$fresh/drive_c/windows/system32" ]; then
        echo "wineboot did not create a prefix in $fresh" >&2
        exit 1
    fi
    "$WINE" --version >"$fresh/.template-stamp"
    mv "$fresh" "$WINE_TEMPLATE"
}

# Makes the template unless this run already has one.
ensure_template() {
    mkdir -p "$WINE_TEST_ROOT"
    (
        flock 9
        [ -f "$WINE_TEMPLATE/.template-stamp" ] || make_template
    ) 9>"$WINE_TEST_ROOT/.template-lock" || exit 1
}

# A fresh prefix for this test, copied from the template (cp -a: Wine writes its files in
# place, so hard links would change the template). Exports WINEPREFIX and WORK (a scratch
# folder beside the prefix), copies the test tools to C:\tools and arranges the cleanup.
make_prefix() {
    ensure_template
    WORK=$WINE_TEST_ROOT/work/$WINE_TEST_NAME
    wineserver_cmd_for "$WORK/prefix" -k 2>/dev/null
    rm -rf "$WORK"
    mkdir -p "$WORK"
    cp -a "$WINE_TEMPLATE" "$WORK/prefix"
    export WINEPREFIX=$WORK/prefix WORK
    mkdir -p "$WINEPREFIX/drive_c/tools"
    local tool
    for tool in runner.exe winhelper.exe mutexholder.exe fileholder.exe recorder.exe \
        standin_installer.exe; do
        cp "$(program_path $tool)" "$WINEPREFIX/drive_c/tools/" || exit 1
    done
    trap wine_cleanup EXIT
}

wineserver_cmd_for() {
    local prefix=$1
    shift
    [ -d "$prefix" ] && WINEPREFIX=$prefix "$WINESERVER_BIN" "$@"
    return 0
}

# 9x: GetVersionExA reports platform 1 (4.10), and free space is capped at 2047 MB.
# nt: the value is removed, Wine's default NT personality (platform 2).
set_personality() {
    case "$1" in
    9x) wine_run reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null ;;
    nt) wine_run reg delete 'HKCU\Software\Wine' /v Version /f >/dev/null 2>&1 || true ;;
    *) echo "set_personality: 9x or nt" >&2 && exit 1 ;;
    esac
}

# ---- Media and drives ----------------------------------------------------------------------

source "$(dirname "${BASH_SOURCE[0]}")/../medium_files.sh"

# make_medium DIR [--launcher real|recorder|none] [--installer recorder|standin|none] [--no-setup]
# Lays out a medium: setup.exe at the root and the 21 manifest files. Programs that Wine
# loads from the staging folder must be real: the four system and runtime DLLs are Wine's
# own (a staged Msvcrt.dll that is not a DLL makes every program started there fail with
# 0xC0000135). _zorp.ex_ is the built launcher, _zorp.exe the recorder; the other files hold
# their own name as content.
make_medium() {
    local dir=$1 launcher=real installer=recorder setup=1
    shift
    while [ $# -gt 0 ]; do
        case "$1" in
        --launcher) launcher=$2 && shift ;;
        --installer) installer=$2 && shift ;;
        --no-setup) setup=0 ;;
        *) echo "make_medium: bad option $1" >&2 && exit 1 ;;
        esac
        shift
    done
    mkdir -p "$dir/Init" "$dir/Config" "$dir/Extra"
    local file
    for file in $MEDIUM_FILES; do
        printf '%s\r\n' "$file" >"$dir/$file"
    done
    for file in Cfgmgr32 Msvcirt Msvcrt Setupapi; do
        local lower=${file,,}
        cp "$WINE_DLL_DIR/$lower.dll" "$dir/Init/$file.dll"
    done
    [ "$setup" = 1 ] && cp "$(program_path setup.exe)" "$dir/setup.exe"
    case "$launcher" in
    real) cp "$(program_path _zorp.ex_)" "$dir/Init/_zorp.ex_" ;;
    recorder) cp "$(program_path recorder.exe)" "$dir/Init/_zorp.ex_" ;;
    none) rm -f "$dir/Init/_zorp.ex_" ;;
    esac
    case "$installer" in
    recorder) cp "$(program_path recorder.exe)" "$dir/Init/_zorp.exe" ;;
    standin) cp "$(program_path standin_installer.exe)" "$dir/Init/_zorp.exe" ;;
    none) rm -f "$dir/Init/_zorp.exe" ;;
    esac
    return 0
}

# map_cdrom DIR [LETTER]: DIR becomes a CD-ROM drive (default e:; the template marks e: as
# cdrom, another letter is marked here). Call before start_session.
map_cdrom() {
    local dir=$1 letter=${2:-e}
    letter=${letter,,}
    ln -sfn "$dir" "$WINEPREFIX/dosdevices/$letter:"
    MEDIUM_DIR=$dir
    if [ "$letter" != e ]; then
        wine_run reg add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f >/dev/null
        wineserver_cmd -w
    fi
}

# make_payload DIR [MB]: a publisher's payload for scripts/make-medium.sh: the medium without
# setup.exe and _zorp.ex_, which the builder takes from the build, and with the stand-in
# installer as Init\_zorp.exe. With MB, the redistributables and Seedbank get sizes of a real
# medium, Extra\dx6core.exe taking what is left of MB megabytes; their bytes depend on their
# names alone, so the same payload, and so the same image, comes back every time.
make_payload() {
    local dir=$1 megabytes=${2:-} file
    make_medium "$dir" --no-setup --launcher none --installer standin
    [ -n "$megabytes" ] || return 0
    for file in Extra/dx6eng.exe:12 Extra/dplay50a.exe:4 Init/Seedbank:6; do
        random_file "$dir/${file%:*}" $((${file#*:} << 20))
    done
    : >"$dir/Extra/dx6core.exe"
    random_file "$dir/Extra/dx6core.exe" $(((megabytes << 20) -
        $(find "$dir" -type f -printf '%s\n' | awk '{ sum += $1 } END { print sum }')))
}

# random_file FILE BYTES: pseudo-random bytes that depend on the file's name alone.
random_file() {
    python3 -c 'import random, sys
sys.stdout.buffer.write(random.Random(sys.argv[1]).randbytes(int(sys.argv[2])))' \
        "${1##*/}" "$2" >"$1"
}

# make_image PAYLOAD ISO [--no-autorun]: scripts/make-medium.sh, with the programs of this
# run's Windows build (the x86_64 one where wine64 runs the tests), so that Wine can run them.
make_image() {
    MEDIUM_PROGRAMS_DIR=$WINE_TEST_BUILD bash "$WINE_REPO/scripts/make-medium.sh" "$@"
}

# Unmounts DIR, retrying while the ended session's processes still let go of their files.
unmount() {
    mountpoint -q "$1" || return 0
    local i
    for i in $(seq 50); do
        umount "$1" 2>/dev/null && return 0
        sleep 0.1
    done
    log "could not unmount $1; detaching it"
    umount -l "$1"
}

# mount_image ISO DIR: the image, read-only, at DIR, as a CD drive shows it to Windows: with
# fuseiso (FUSE), or where that fails (or WINE_TEST_MOUNT=extract) extracted with xorriso onto a
# tmpfs that is then remounted read-only. Both show the Joliet names. Says which it used
# (MOUNT_METHOD); the test's end unmounts it. Call after make_prefix.
mount_image() {
    local image=$1 dir=$2 size
    mkdir -p "$dir"
    if [ "${WINE_TEST_MOUNT:-fuse}" != extract ] &&
        fuseiso -n "$image" "$dir" -o ro 2>"$WORK/fuseiso.log" && mountpoint -q "$dir"; then
        MOUNT_METHOD="mounted with fuseiso (FUSE), read-only"
        at_exit "unmount '$dir'"
    else
        [ -s "$WORK/fuseiso.log" ] && log "fuseiso failed: $(head -n1 "$WORK/fuseiso.log")"
        size=$(($(stat -c %s "$image") / 1048576 + 16))m
        mount -t tmpfs -o "size=$size" tmpfs "$dir" || exit 1
        at_exit "unmount '$dir'"
        xorriso -no_rc -report_about SORRY -osirrox on -indev "$image" -extract / "$dir" \
            >/dev/null 2>"$WORK/extract.log" || { log "xorriso: $(cat "$WORK/extract.log")"; exit 1; }
        mount -o remount,ro "$dir" || exit 1
        MOUNT_METHOD="extracted with xorriso onto a tmpfs remounted read-only"
    fi
    log "${image##*/}: $MOUNT_METHOD"
}

# Windows path of a host path (C: is the prefix's drive_c, E: the mapped medium, else Z:).
winpath() {
    local path
    path=$(realpath -m "$1")
    local c
    c=$(realpath -m "$WINEPREFIX/drive_c")
    if [ "${path#"$c"}" != "$path" ]; then
        path="C:${path#"$c"}"
    elif [ -n "${MEDIUM_DIR:-}" ] && [ "${path#"$(realpath -m "$MEDIUM_DIR")"}" != "$path" ]; then
        path="E:${path#"$(realpath -m "$MEDIUM_DIR")"}"
    else
        path="Z:$path"
    fi
    path=${path//\//\\}
    [ "${path: -1}" = ":" ] && path="$path\\"
    printf '%s\n' "$path"
}

# Host path of a C:\ path inside the prefix, found without regard to letter case as Wine does
# (C:\windows\TEMP is drive_c/windows/temp). Prints nothing when it does not exist.
hostpath() {
    local rest=${1#[Cc]:}
    rest=${rest//\\//}
    local path=$WINEPREFIX/drive_c part match
    local IFS=/
    for part in $rest; do
        [ -z "$part" ] && continue
        match=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$part" -print -quit 2>/dev/null)
        [ -z "$match" ] && return 1
        path=$match
    done
    printf '%s\n' "$path"
}

# ---- Display and session -------------------------------------------------------------------

# Starts Xvfb at DEPTH bits (8 or 24; at 24 Wine reports 32 bits per pixel) on a free display.
start_xvfb() {
    local depth=${1:-24}
    local fifo=$WORK/xvfb.display
    rm -f "$fifo"
    Xvfb -displayfd 3 -screen 0 "800x600x$depth" -nolisten tcp 3>"$fifo" 2>"$WORK/xvfb.log" &
    XVFB_PID=$!
    local i
    for i in $(seq 100); do
        [ -s "$fifo" ] && break
        sleep 0.1
    done
    [ -s "$fifo" ] || { echo "Xvfb did not start" >&2 && exit 1; }
    export DISPLAY=:$(head -n1 "$fifo")
}

# start_session [DEPTH]: Xvfb (unless running), then a persistent wineserver and the box
# collector: winhelper answers every message box of the session with OK and writes each to
# C:\tools\boxes.txt (read with boxes_seen). The session's boot happens here.
start_session() {
    [ -n "$XVFB_PID" ] || start_xvfb "${1:-24}"
    wineserver_cmd -p
    rm -f "$WINEPREFIX/drive_c/tools/stop" "$WINEPREFIX/drive_c/tools/boxes.txt"
    WINE_RUN_TIMEOUT=3600 wine_run 'C:\tools\winhelper.exe' boxes -t 3000 -s 'C:\tools\stop' \
        -o 'C:\tools\boxes.txt' >/dev/null 2>&1 &
    BOX_COLLECTOR_PID=$!
    # The session is up once a first program has run to its end.
    wine_run 'C:\tools\winhelper.exe' list >/dev/null 2>&1
}

# Every message box answered so far, one line each:
#   box caption="ERROR" icon=error text="..."
boxes_seen() {
    cat "$WINEPREFIX/drive_c/tools/boxes.txt" 2>/dev/null
    return 0
}

# Ends the session: stops the collector, kills every process and the server, stops Xvfb.
end_session() {
    if [ -n "$BOX_COLLECTOR_PID" ]; then
        touch "$WINEPREFIX/drive_c/tools/stop"
        local i
        for i in $(seq 20); do
            kill -0 "$BOX_COLLECTOR_PID" 2>/dev/null || break
            sleep 0.1
        done
        BOX_COLLECTOR_PID=
    fi
    wineserver_cmd -k 2>/dev/null
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=
    fi
    return 0
}

wine_cleanup() {
    local status=$?
    [ -n "${WINEPREFIX:-}" ] && end_session
    [ "$EXPECT_FAILURES" -gt 0 ] && status=1
    if [ -n "${WORK:-}" ] && [ -d "$WORK" ] && [ "${WINE_TEST_KEEP:-0}" != 1 ]; then
        if [ "$status" != 0 ]; then
            rm -rf "$WINE_TEST_ROOT/failed-$WINE_TEST_NAME"
            mv "$WORK" "$WINE_TEST_ROOT/failed-$WINE_TEST_NAME"
            log "kept the prefix in $WINE_TEST_ROOT/failed-$WINE_TEST_NAME"
        else
            rm -rf "$WORK"
        fi
    fi
    exit "$status"
}

# ---- Running programs ----------------------------------------------------------------------

# run_exact CMDFILE CWD [SECONDS]: starts the exact command line in CMDFILE (a host file)
# with CWD (a Windows path; empty: C:\tools) as working directory, waits at most SECONDS
# (default 60), and sets RUN_OUTPUT (runner's line), RUN_EXIT_HEX (0x80004005) and RUN_EXIT
# (decimal). Returns nonzero when the program could not be started or did not end in time.
run_exact() {
    local file=$1 cwd=${2:-'C:\tools'} seconds=${3:-60}
    WINE_RUN_COUNT=$((WINE_RUN_COUNT + 1))
    local name=cmd-$WINE_RUN_COUNT.txt
    cp "$file" "$WINEPREFIX/drive_c/tools/$name"
    # Into a file, not a pipe: the programs that the started program starts in turn inherit
    # the runner's standard handles, and a pipe would stay open until the last of them ends.
    WINE_RUN_TIMEOUT=$((seconds + 30)) wine_run 'C:\tools\runner.exe' -t "$seconds" \
        -d "$cwd" "C:\\tools\\$name" >"$WORK/runner.out" 2>/dev/null </dev/null
    RUN_OUTPUT=$(tr -d '\r' <"$WORK/runner.out")
    RUN_EXIT_HEX=
    RUN_EXIT=
    case "$RUN_OUTPUT" in
    exit=*)
        RUN_EXIT_HEX=$(echo "$RUN_OUTPUT" | sed -n 's/^exit=\(0x[0-9A-F]*\) .*/\1/p')
        RUN_EXIT=$(echo "$RUN_OUTPUT" | sed -n 's/^exit=0x[0-9A-F]* \([0-9]*\)$/\1/p')
        return 0
        ;;
    esac
    log "runner: ${RUN_OUTPUT:-no output}"
    return 1
}

# run_cmdline 'TEXT' CWD [SECONDS]: as run_exact, with the command line given as text.
run_cmdline() {
    printf '%s' "$1" >"$WORK/cmdline.txt"
    run_exact "$WORK/cmdline.txt" "${2:-}" "${3:-60}"
}

# run_background 'TEXT' CWD: starts a command line without waiting (a runner in the
# background; its result line goes to C:\tools\bg-N.txt, whose host path is printed).
# N is the first number without a command file yet, so `$(run_background ...)` (a subshell,
# whose counter would not carry over) still gives every runner files of its own.
run_background() {
    local n=1
    while [ -e "$WINEPREFIX/drive_c/tools/cmd-$n.txt" ]; do
        n=$((n + 1))
    done
    printf '%s' "$1" >"$WINEPREFIX/drive_c/tools/cmd-$n.txt"
    WINE_RUN_TIMEOUT=600 wine_run 'C:\tools\runner.exe' -t 500 -d "${2:-C:\\tools}" \
        -o "C:\\tools\\bg-$n.txt" "C:\\tools\\cmd-$n.txt" >/dev/null 2>&1 &
    echo "$WINEPREFIX/drive_c/tools/bg-$n.txt"
}

# wait_process NAME [SECONDS]: waits until no process named NAME (e.g. _zorp.ex_) runs.
wait_process() {
    wine_run 'C:\tools\winhelper.exe' waitproc -t "${2:-60}" "$1" >/dev/null 2>&1
}

# ---- Restart-time deletion -----------------------------------------------------------------

# PendingFileRenameOperations as pairs, one line each: "SOURCE -> TARGET" (TARGET empty for
# a deletion), with the \??\ prefixes removed. Read it before the session ends.
pending_renames() {
    wine_run reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *PendingFileRenameOperations *REG_MULTI_SZ *//p' |
        awk '{ n = split($0, part, /\\0/); for (i = 1; i <= n; i += 2) {
                 s = part[i]; t = (i + 1 <= n) ? part[i + 1] : "";
                 sub(/^\\\?\?\\/, "", s); sub(/^\\\?\?\\/, "", t);
                 if (s != "") print s " -> " t } }'
}

# The files scheduled for deletion at restart (Windows NT style), one per line.
pending_deletions() {
    pending_renames | sed -n 's/ -> $//p'
}

# The contents of C:\windows\WinInit.ini (the Windows 95/98 list), CR LF kept.
wininit_ini() {
    local path
    path=$(hostpath 'C:\windows\WinInit.ini') && cat "$path"
}

# Carries out the restart-time work as a restart of Windows would (wineboot -r): the
# WinInit.ini [Rename] lines and PendingFileRenameOperations.
wine_restart() {
    wine_run wineboot -r >/dev/null 2>&1
}

wine_select

# ---- Staging area and extra cleanup --------------------------------------------------------

# expect_staged WHAT HOSTDIR: HOSTDIR (the host folder of a staging root) holds the four
# staging directories, English empty, and exactly the manifest's 21 files, each equal byte for
# byte to its source on the medium (MEDIUM_DIR). On failure it lists every difference.
expect_staged() {
    local what=$1 root=$2 problems= dir file count
    for dir in Config Init Extra English; do
        [ -d "$root/$dir" ] || problems+="no directory $dir; "
    done
    for file in $MEDIUM_FILES; do
        if [ ! -f "$root/$file" ]; then
            problems+="missing $file; "
        elif ! cmp -s "$MEDIUM_DIR/$file" "$root/$file"; then
            problems+="differs: $file ($(stat -c %s "$root/$file") bytes, medium"
            problems+=" $(stat -c %s "$MEDIUM_DIR/$file")); "
        fi
    done
    count=$(find "$root/Config" "$root/Init" "$root/Extra" "$root/English" -type f \
        2>/dev/null | wc -l)
    [ "$count" = 21 ] || problems+="$count files in the staging directories; "
    [ -z "$(ls -A "$root/English" 2>/dev/null)" ] || problems+="English is not empty; "
    expect_eq "$what: staging area ${root#"$WORK"/} equals the medium" "" "$problems"
}

# remove_staging HOSTDIR: removes the four staging directories below HOSTDIR, so that the next
# case starts without a staging area.
remove_staging() {
    local dir
    for dir in Config Init Extra English; do
        rm -rf "${1:?}/$dir"
    done
}

# record_field NAME [FILE]: the values of NAME= in the recorder's log (FILE, by default the
# host file of C:\record.txt), one per record.
record_field() {
    tr -d '\r' 2>/dev/null <"${2:-$WINEPREFIX/drive_c/record.txt}" | sed -n "s/^$1=//p"
    return 0
}

# at_exit 'COMMAND': runs COMMAND when the test ends, after the Wine session has ended and
# before the prefix is kept or removed (e.g. to unmount what the test mounted). Call after
# make_prefix; commands run in the order they were added.
WINE_AT_EXIT=()
at_exit() {
    WINE_AT_EXIT+=("$1")
    trap wine_cleanup_at_exit EXIT
}

wine_cleanup_at_exit() {
    local status=$? command
    [ -n "${WINEPREFIX:-}" ] && end_session
    for command in "${WINE_AT_EXIT[@]}"; do
        eval "$command" || status=1
    done
    (exit "$status")
    wine_cleanup
}

# ---- Helpers for byte-exact and tree checks ------------------------------------------------

# A file's bytes as one line: CR as <CR>, LF as <LF>, any other control byte as <xNN>
# (backslashes stay, so paths read naturally), so that expect_eq compares exact bytes and
# prints them readably. A missing file prints "<missing>".
escaped_bytes() {
    [ -f "$1" ] || { echo "<missing>" && return 0; }
    LC_ALL=C perl -0777 -ne 's/\r/<CR>/g; s/\n/<LF>/g;
        s/([\x00-\x1f\x7f])/sprintf("<x%02X>", ord $1)/ge; print' "$1"
    echo
}

# staging_tree HOSTROOT: the staging directories Config, Init, Extra and English below
# HOSTROOT (found without regard to letter case) and what they hold, sorted, one per line:
# "Init/" for a directory, "Init/Arrows.dll" for a file in it. Works for a medium as well.
staging_tree() {
    local root=$1 dir match
    for dir in Config English Extra Init; do
        match=$(find "$root" -mindepth 1 -maxdepth 1 -iname "$dir" -print -quit 2>/dev/null)
        [ -n "$match" ] || continue
        echo "$dir/"
        find "$match" -mindepth 1 -printf "$dir/%P\n" | LC_ALL=C sort
    done
}

# start_holder NAME READY TOOL ARGS...: runs C:\tools\TOOL with ARGS in the background, its
# output in $WORK/NAME.out, and returns once it has created C:\tools\READY (nonzero if that
# did not happen within 10 s).
declare -A HOLDER_PIDS=()
start_holder() {
    local name=$1 ready=$WINEPREFIX/drive_c/tools/$2 tool=$3 i
    shift 3
    rm -f "$ready"
    wine_run "C:\\tools\\$tool" "$@" >"$WORK/$name.out" 2>&1 &
    HOLDER_PIDS[$name]=$!
    for i in $(seq 100); do
        [ -e "$ready" ] && return 0
        sleep 0.1
    done
    log "$name did not get ready: $(cat "$WORK/$name.out")"
    return 1
}

# stop_holder NAME STOP: creates C:\tools\STOP, which ends the holder, and waits for it.
stop_holder() {
    touch "$WINEPREFIX/drive_c/tools/$2"
    [ -n "${HOLDER_PIDS[$1]:-}" ] && wait "${HOLDER_PIDS[$1]}" 2>/dev/null
    HOLDER_PIDS[$1]=
    return 0
}

# hold_mutex SECONDS [-a]: mutexholder owns "MutexToProtectSetup" in the background for at
# most SECONDS, or until release_mutex; with -a it then ends without releasing it (abandoned).
# Returns once the mutex is owned (nonzero if that did not happen within 10 s).
hold_mutex() {
    rm -f "$WINEPREFIX/drive_c/tools/release"
    start_holder mutexholder ready mutexholder.exe -t "$1" -s 'C:\tools\release' \
        -r 'C:\tools\ready' ${2:+"$2"}
}

# release_mutex: ends the hold_mutex holder (it releases, or abandons with -a) and waits for it.
release_mutex() { stop_holder mutexholder release; }

# hold_file 'WINPATH': fileholder keeps the file open for reading (sharing only reading) in the
# background, until release_file. Returns once it is open (nonzero if not within 10 s).
hold_file() {
    rm -f "$WINEPREFIX/drive_c/tools/file-release"
    start_holder fileholder file-ready fileholder.exe "$1" -t 300 \
        -s 'C:\tools\file-release' -r 'C:\tools\file-ready'
}

# release_file: closes the hold_file holder's file and waits for it to end.
release_file() { stop_holder fileholder file-release; }

# boxes_after N: the message boxes answered after the first N (N from `boxes_seen | wc -l`).
boxes_after() {
    boxes_seen | tail -n +$(($1 + 1))
}

# survey: what the programs see (winhelper survey: platform, display depth, drives), CRs
# removed. Rarely a Wine process here ends at once without output; the survey is then asked
# once more, and what Wine said the first time is logged.
survey() {
    local output status
    output=$(wine_run 'C:\tools\winhelper.exe' survey 2>"$WORK/survey.err")
    status=$?
    if ! printf '%s' "$output" | grep -q '^platform='; then
        log "survey gave no answer (status $status, '$(tr '\n' ' ' <"$WORK/survey.err")');" \
            "asking again"
        output=$(wine_run 'C:\tools\winhelper.exe' survey 2>/dev/null)
    fi
    printf '%s\n' "$output" | tr -d '\r'
}

# ---- The whole chain -----------------------------------------------------------------------
# setup from CD-ROM E: stages the real launcher, which starts the installer (the recorder or
# the stand-in installer as Init\_zorp.exe on the medium), waits for it, empties the staging
# area and schedules what it could not delete for deletion at restart.

# run_chain PERSONALITY [COMMAND]: the whole chain from a clean staging area (CHAIN_STAGING,
# the host folder of C:\windows\TEMP) and an empty record. With COMMAND, the installer holds
# once it has written its record until COMMAND (run with eval) is done, so that COMMAND sees
# the staging area whole.
run_chain() {
    local personality=$1 hold=${2:-} wait_file= go=$WINEPREFIX/drive_c/tools/go
    CHAIN_STAGING=$(hostpath 'C:\windows\TEMP')
    remove_staging "$CHAIN_STAGING"
    rm -f "$WINEPREFIX/drive_c/record.txt" "$go"
    set_personality "$personality"
    [ -n "$hold" ] && wait_file='C:\tools\go'
    RECORDER_WAIT_FILE=$wait_file run_cmdline 'E:\setup.exe' 'E:\'
    expect_eq "$personality: setup from E: ends with 1" 0x00000001 "$RUN_EXIT_HEX"
    [ -n "$hold" ] && hold_installer "$hold"
    wait_process _zorp.ex_ 60 || log "$personality: the launcher is still running"
}

# hold_installer COMMAND: the installer, the recorder started with
# RECORDER_WAIT_FILE='C:\tools\go', holds once it has written its record to C:\record.txt; runs
# COMMAND (with eval) then, and lets the installer end.
hold_installer() {
    local i
    for i in $(seq 600); do
        grep -q '^\[end\]' "$WINEPREFIX/drive_c/record.txt" 2>/dev/null && break
        sleep 0.1
    done
    eval "$1"
    touch "$WINEPREFIX/drive_c/tools/go"
}

# check_chain PERSONALITY: what the installer saw and what the launcher left behind:
# _zorp.ex_, which is still running, in Init; Config, Extra and English removed; every other
# staged file deleted.
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
    expect_eq "$personality: staged files deleted, Config, Extra, English removed" 'Init/
Init/_zorp.ex_' "$(staging_tree "$CHAIN_STAGING")"
    expect_eq "$personality: the staging root remains" yes \
        "$([ -d "$CHAIN_STAGING" ] && echo yes || echo no)"
    expect_eq "$personality: no message box during the chain" "" "$(boxes_seen)"
}

# check_restart PERSONALITY: a restart carries out the deletion of _zorp.ex_.
check_restart() {
    local personality=$1
    wine_restart
    expect_eq "$personality: after the restart Init is empty" 'Init/' \
        "$(staging_tree "$CHAIN_STAGING")"
}
