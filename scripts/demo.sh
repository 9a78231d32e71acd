#!/bin/bash
# The demo: builds the programs, lays out a sample installation medium, runs setup.exe from it
# under Wine as if the CD were in drive E:, and tells what happened: the staging root chosen,
# the files copied, the launcher's and the installer's command lines, what was cleaned up and
# what is scheduled for deletion at restart. The installer on the sample medium is a stand-in
# that shows a window for a moment and writes down how it was started.
#
#   scripts/demo.sh [nt|9x] [8|24]     Windows personality (default nt), display depth (24)
#
# A screenshot taken while the stand-in installer runs is left in build/demo/screenshot.png.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
PERSONALITY=${1:-nt}
DEPTH=${2:-24}

bash "$ROOT/scripts/install-deps.sh" || exit 1
bash "$ROOT/scripts/build.sh" win32 win64 >/dev/null || exit 1

export WINE_BUILD_DIR=$ROOT/build/win64 WIN32_BUILD_DIR=$ROOT/build/win32
export WINE_TEST_ROOT=$ROOT/build/demo
source "$ROOT/tests/wine/lib.sh"
WINE_TEST_NAME=demo

section() { printf '\n== %s\n' "$*"; }

make_prefix
make_medium "$WORK/cd" --installer standin
map_cdrom "$WORK/cd"
set_personality "$PERSONALITY"
start_session "$DEPTH"

section "The machine ($WINE under the $PERSONALITY personality, display depth $DEPTH)"
wine_run 'C:\tools\winhelper.exe' survey | tr -d '\r' | sed 's/^/  /'
section "The medium in drive E: ($WORK/cd)"
(cd "$WORK/cd" && find . -type f | sed 's|^\./|  |' | sort | tr '/' '\\')

section "Running E:\\setup.exe with E:\\ as current directory"
run_cmdline 'E:\setup.exe' 'E:\' 120
echo "  setup ended with exit code $RUN_EXIT_HEX (1: launcher started, 0: staging failed," \
    "0x80004005: another stage running)"
if wine_run 'C:\tools\winhelper.exe' find -t 20 -c 'Quillo 4.0 Installer (stand-in)' \
    >/dev/null 2>&1; then
    import -display "$DISPLAY" -window root "$WINE_TEST_ROOT/screenshot.png" 2>/dev/null &&
        echo "  screenshot of the stand-in installer: $WINE_TEST_ROOT/screenshot.png"
fi
wait_process _zorp.exe 60
wait_process _zorp.ex_ 60

record=$(tr -d '\r' <"$WINEPREFIX/drive_c/record.txt" 2>/dev/null)
field() { printf '%s\n' "$record" | sed -n "s/^$1=//p" | head -n1; }
if [ -z "$record" ]; then
    section "The installer was not started"
else
    section "Staging"
    echo "  staging Init directory (launcher's working directory): $(field cwd)"
    echo "  launcher command line:  $(field parent)"
    echo "  installer command line: $(field cmdline)"
    echo "  mutex while the installer ran: $(field mutex)"
    section "Files staged, as the installer saw them"
    printf '%s\n' "$record" | sed -n 's/^file=/  /p; s/^missing=/  missing directory: /p'
fi

section "Message boxes shown"
boxes=$(boxes_seen)
printf '%s\n' "${boxes:-(none)}" | sed 's/^/  /'

cwd=$(field cwd)
staging=
[ -n "$cwd" ] && staging=$(hostpath "${cwd%\\*}")
section "Staging area after the launcher ended"
if [ -n "$staging" ]; then
    for dir in Config Init Extra English; do
        if [ -d "$staging/$dir" ]; then
            echo "  $dir: $(ls -A "$staging/$dir" | tr '\n' ' ')"
        else
            echo "  $dir: removed"
        fi
    done
fi

section "Scheduled for deletion at restart"
if [ "$PERSONALITY" = 9x ]; then
    wininit_ini | tr -d '\r' | sed 's/^/  WinInit.ini: /'
else
    pending_deletions | sed 's/^/  /'
fi
wine_restart
section "After a restart (wineboot -r)"
if [ -n "$staging" ] && [ -d "$staging/Init" ]; then
    echo "  Init: $(ls -A "$staging/Init" | tr '\n' ' ')"
else
    echo "  Init: removed"
fi
end_session
echo
echo "Demo finished; the prefix is in $WORK/prefix."
WINE_TEST_KEEP=1
exit 0
