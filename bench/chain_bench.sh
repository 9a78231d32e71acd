#!/bin/bash
# Chain benchmark: the whole chain under Wine on Xvfb, setup.exe -> the real _zorp.ex_ -> a
# stand-in installer that ends at once, from a small medium (the test bed's: 21 small files
# and Wine's own four DLLs), against a floor chain that does the same file work by the most
# direct calls: bench_floor.exe (the same progress dialog, the 21 rows copied with
# SHFileOperationA) starts TEMP\Init\_zorp.ex_, here bench_relay.exe, which starts _zorp.exe
# (bench_exit.exe, as in the real chain), waits for it, deletes the 20 staged files, removes
# the three directories beside Init and schedules the same deletions at restart
# (MoveFileExA on NT, an append to WinInit.ini on 95/98). The medium's Init\_zorp.ex_ is the
# launcher for the real chain and bench_relay.exe for the floor chain, put in place before
# each run. Each chain is timed from its first process's start to the end of its last process
# (bench_timer -tree: a job object that the children join). Runs alternate, after one untimed
# warm-up of each; before every run the staging area is emptied and the pending restart
# deletions are cleared. After every run the staging area must hold only Init\_zorp.ex_, and
# the restart list must equal what the real chain scheduled: a chain that skipped work fails
# the benchmark instead of looking fast. Goal: the chain takes at most 1.10 times the floor.
#
#   bench/chain_bench.sh [nt|9x]   (default nt; WINE_BUILD_DIR, WIN32_BUILD_DIR, BENCH_ROOT,
#                                   BENCH_RUNS: see bench_lib.sh, default 11 here)
set -uo pipefail
# A chain runs in a fraction of a second, and the goal sits a few percent above the floor:
# more runs, so that a burst of load on a shared machine moves the medians less.
BENCH_RUNS=${BENCH_RUNS:-11}
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=chain_bench
PERSONALITY=${1:-nt}
GOAL=1.10

# What the last chain scheduled for restart must not pile up across runs.
clear_restart_lists() {
    wine_run reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations /f >/dev/null 2>&1
    local list
    list=$(hostpath 'C:\windows\WinInit.ini') && rm -f "$list"
    return 0
}

# What a chain scheduled for deletion at restart, in its personality's list.
restart_list() {
    if [ "$PERSONALITY" = 9x ]; then
        escaped_bytes "$(hostpath 'C:\windows\WinInit.ini' || echo none)"
    else
        pending_renames
    fi
}

# check_end NAME: the chain emptied the staging area but for the launcher (or its stand-in),
# which deletes itself only at restart, and scheduled what the real chain scheduled.
REAL_RESTART_LIST=
check_end() {
    local tree scheduled
    tree=$(staging_tree "$(hostpath 'C:\windows\TEMP')" | tr '\n' ' ')
    [ "$tree" = "Init/ Init/_zorp.ex_ " ] ||
        { echo "   $1: the staging area holds: $tree" >&2 && exit 1; }
    scheduled=$(restart_list)
    case "$scheduled" in
    "" | "<missing>") echo "   $1: nothing scheduled for deletion at restart" >&2 && exit 1 ;;
    esac
    [ -n "$REAL_RESTART_LIST" ] || REAL_RESTART_LIST=$scheduled
    [ "$scheduled" = "$REAL_RESTART_LIST" ] || {
        printf '   %s scheduled:\n%s\n   the real chain:\n%s\n' "$1" "$scheduled" \
            "$REAL_RESTART_LIST" >&2
        exit 1
    }
}

# run_chain NAME CMDLINE LAUNCHER: LAUNCHER (a built program) becomes the medium's
# Init\_zorp.ex_, then CMDLINE runs from E:\ and must end with 1.
run_chain() {
    cp "$(program_path "$3")" "$WORK/cd/Init/_zorp.ex_" || exit 1
    clear_staging
    clear_restart_lists
    bench_time "$2" 'E:\' -tree || exit 1
    [ "$BENCH_EXIT" = 0x00000001 ] || { echo "   $1 ended with $BENCH_EXIT" >&2 && exit 1; }
    check_end "$1"
}
run_real() { run_chain "real chain" 'E:\setup.exe' _zorp.ex_; }
run_floor() { run_chain "floor chain" 'E:\bench_floor.exe' bench_relay.exe; }

bench_session
make_medium "$WORK/cd" --launcher real --installer none
cp "$(program_path bench_exit.exe)" "$WORK/cd/Init/_zorp.exe"
cp "$(program_path bench_floor.exe)" "$WORK/cd/bench_floor.exe"
map_cdrom "$WORK/cd"
set_personality "$PERSONALITY"
bench_start
bench_banner "Chain benchmark: setup -> _zorp.ex_ -> stand-in installer, small medium ($PERSONALITY personality)"

alternate run_real run_floor
chain_us=("${A_US[@]}") floor_us=("${B_US[@]}")
echo "   both chains scheduled for deletion at restart:"
printf '%s\n' "$REAL_RESTART_LIST" | sed 's/^/     /'

chain_median=$(median "${chain_us[@]}")
floor_median=$(median "${floor_us[@]}")
r=$(ratio "$chain_median" "$floor_median")
echo "   real chain   first start to last end, ms:$(list "${chain_us[@]}")  median $(ms "$chain_median")"
echo "   floor chain  first start to last end, ms:$(list "${floor_us[@]}")  median $(ms "$floor_median")"
within "$r" "$GOAL"
echo "   chain / floor = $r  (goal <= $GOAL: $VERDICT)"
end_session
exit "$BENCH_STATUS"
