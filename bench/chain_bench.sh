#!/bin/bash
# Chain benchmark: the whole chain under Wine on Xvfb, setup.exe -> the real _zorp.ex_ -> a
# stand-in installer that ends at once, from a small medium (the test bed's: 21 small files
# and Wine's own four DLLs), against a floor chain of three trivial programs that start each
# other the same way: bench_floor.exe chain (the same progress dialog, no copy) starts
# TEMP\Init\_zorp.ex_ (bench_relay.exe, which starts _zorp.exe and waits for it) which starts
# _zorp.exe (bench_exit.exe). Each chain is timed from its first process's start to the end of
# its last process (bench_timer -tree: a job object that the children join). Runs alternate,
# after one untimed warm-up of each; before every run the staging area is emptied and the
# pending restart deletions are cleared. Goal: the chain takes at most 1.3 times the floor.
#
#   bench/chain_bench.sh [nt|9x]   (default nt; WINE_BUILD_DIR, BENCH_ROOT, BENCH_RUNS: see
#                                   bench_lib.sh)
set -uo pipefail
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=chain_bench
PERSONALITY=${1:-nt}

# What the last chain scheduled for restart must not pile up across runs.
clear_restart_lists() {
    wine_run reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations /f >/dev/null 2>&1
    local list
    list=$(hostpath 'C:\windows\WinInit.ini') && rm -f "$list"
    return 0
}

run_real() {
    clear_staging
    clear_restart_lists
    bench_time 'E:\setup.exe' 'E:\' -tree || exit 1
    [ "$BENCH_EXIT" = 0x00000001 ] || { echo "   setup ended with $BENCH_EXIT" >&2 && exit 1; }
    # The launcher emptied the staging area: only itself and what it scheduled may be left.
    local left
    left=$(ls -A "$(hostpath 'C:\windows\TEMP\Init')" 2>/dev/null | grep -vix -e _zorp.ex_ \
        -e cfgmgr32.dll -e setupapi.dll)
    [ -z "$left" ] || { echo "   the launcher left: $left" >&2 && exit 1; }
}

run_floor() {
    clear_staging
    clear_restart_lists
    local init
    init=$(hostpath 'C:\windows\TEMP')/Init
    mkdir -p "$init"
    cp "$(program_path bench_relay.exe)" "$init/_zorp.ex_"
    cp "$(program_path bench_exit.exe)" "$init/_zorp.exe"
    bench_time 'E:\bench_floor.exe chain' 'E:\' -tree || exit 1
    [ "$BENCH_EXIT" = 0x00000001 ] || { echo "   floor ended with $BENCH_EXIT" >&2 && exit 1; }
}

bench_session
make_medium "$WORK/cd" --launcher real --installer none
cp "$(program_path bench_exit.exe)" "$WORK/cd/Init/_zorp.exe"
cp "$(program_path bench_floor.exe)" "$WORK/cd/bench_floor.exe"
map_cdrom "$WORK/cd"
set_personality "$PERSONALITY"
bench_start
bench_banner "Chain benchmark: setup -> _zorp.ex_ -> stand-in installer, small medium ($PERSONALITY personality)"

run_real && run_floor  # warm-up
chain_us=() floor_us=()
for run in $(seq "$BENCH_RUNS"); do
    if [ $((run % 2)) = 1 ]; then
        run_real && chain_us+=("$BENCH_US")
        run_floor && floor_us+=("$BENCH_US")
    else
        run_floor && floor_us+=("$BENCH_US")
        run_real && chain_us+=("$BENCH_US")
    fi
done

chain_median=$(median "${chain_us[@]}")
floor_median=$(median "${floor_us[@]}")
r=$(ratio "$chain_median" "$floor_median")
list() { for v in "$@"; do printf ' %s' "$(ms "$v")"; done; }
echo "   real chain   first start to last end, ms:$(list "${chain_us[@]}")  median $(ms "$chain_median")"
echo "   floor chain  first start to last end, ms:$(list "${floor_us[@]}")  median $(ms "$floor_median")"
within "$r" 1.3
echo "   chain / floor = $r  (goal <= 1.3: $VERDICT)"
end_session
exit "$BENCH_STATUS"
