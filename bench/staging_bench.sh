#!/bin/bash
# Staging benchmark: setup.exe staging a medium of 50 MB (the 21 manifest files) under Wine on
# Xvfb, against a floor started the same way: bench_floor.exe, which shows the same progress
# dialog (dialog 103 of setup's resources) and copies the 21 rows with SHFileOperationA, and
# nothing else. Each is timed from its process start to its hand-off: both end right after
# starting Init\_zorp.ex_ from the staging area, here a stand-in that ends at once. Runs
# alternate, after one untimed warm-up of each; the staging area is emptied before every run.
# Goal: setup takes at most 1.10 times the floor.
#
#   bench/staging_bench.sh         (WINE_BUILD_DIR, BENCH_ROOT, BENCH_RUNS: see bench_lib.sh)
set -uo pipefail
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=staging_bench
MEDIUM_BYTES=$((50 * 1024 * 1024))

# The manifest's files at sizes of a real medium (KiB); Cfgmgr32, Msvcirt, Msvcrt and Setupapi
# are Wine's own DLLs at their own sizes, _zorp.ex_ the stand-in launcher, and dx6core.exe
# takes what is left of the 50 MB.
declare -A SIZE_KIB=(
    [Init/Arrows.dll]=1200 [Init/media.inf]=40 [Init/Lexor2.dll]=2500 [Init/Lexor2r.dll]=800
    [Init/Journal.ini]=8 [Init/Wizard.pnl]=3000 [Init/_zorp.exe]=6000 [Init/Seedbank]=4000
    [Init/Clock]=300 [Init/Panelkit2.dll]=1500 [Init/Ft0042k_.ttf]=600 [Init/Remover.exe]=200
    [Config/Qcore.cfg]=20 [Extra/dplay50a.exe]=1500 [Extra/dx6eng.exe]=8000
)

make_large_medium() {
    local dir=$1 file
    make_medium "$dir" --installer none
    cp "$(program_path bench_exit.exe)" "$dir/Init/_zorp.ex_"
    cp "$(program_path bench_floor.exe)" "$dir/bench_floor.exe"
    for file in "${!SIZE_KIB[@]}"; do
        head -c $((SIZE_KIB[$file] * 1024)) /dev/urandom >"$dir/$file"
    done
    : >"$dir/Extra/dx6core.exe"
    local used=0
    for file in $MEDIUM_FILES; do
        used=$((used + $(stat -c %s "$dir/$file")))
    done
    head -c $((MEDIUM_BYTES - used)) /dev/urandom >"$dir/Extra/dx6core.exe"
}

# The staged copy is complete: 21 files, byte for byte the medium's.
check_staged() {
    local temp file bad=0
    temp=$(hostpath 'C:\windows\TEMP')
    for file in $MEDIUM_FILES; do
        local staged
        staged=$(find "$temp" -ipath "$temp/$file" -print -quit)
        if [ -z "$staged" ] || ! cmp -s "$staged" "$WORK/cd/$file"; then
            bad=$((bad + 1))
        fi
    done
    [ "$bad" = 0 ] || echo "   $1: $bad of 21 files missing or different after staging" >&2
    return "$bad"
}

# run_side NAME CMDLINE: empties the staging area, times one run and checks what it staged.
run_side() {
    clear_staging
    bench_time "$2" 'E:\' || exit 1
    [ "$BENCH_EXIT" = 0x00000001 ] || { echo "   $1 ended with $BENCH_EXIT" >&2 && exit 1; }
    check_staged "$1" || exit 1
}

bench_session
make_large_medium "$WORK/cd"
map_cdrom "$WORK/cd"
set_personality nt
bench_start
bench_banner "Staging benchmark: 21 files, $((MEDIUM_BYTES / 1048576)) MB, from E: to C:\\windows\\TEMP"

run_setup() { run_side setup 'E:\setup.exe'; }
run_floor() { run_side floor 'E:\bench_floor.exe'; }
alternate run_setup run_floor
setup_us=("${A_US[@]}") floor_us=("${B_US[@]}")

setup_median=$(median "${setup_us[@]}")
floor_median=$(median "${floor_us[@]}")
r=$(ratio "$setup_median" "$floor_median")
echo "   setup.exe   start to hand-off, ms:$(list "${setup_us[@]}")  median $(ms "$setup_median")"
echo "   floor       start to hand-off, ms:$(list "${floor_us[@]}")  median $(ms "$floor_median")"
within "$r" 1.10
echo "   setup / floor = $r  (goal <= 1.10: $VERDICT)"
end_session
exit "$BENCH_STATUS"
