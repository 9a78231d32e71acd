#!/bin/bash
# WinInit benchmark: the launcher's Windows 95/98 restart entry (DeleteAtRestart, which reads
# WinInit.ini, adds the entry and puts the new list in place crash-safely) on a list of 1 MB
# and of 10 MB, against the floor of any crash-safe replacement of a list: CopyFileA of the
# list to a new name, FlushFileBuffers of the copy, two MoveFileA (the list aside, the copy in)
# and one DeleteFileA (the old list). Timed in one process under Wine by bench_wininit.exe
# (QueryPerformanceCounter, medians of BENCH_REPEATS rounds, each step on a fresh list, the
# entry and the floor taking turns at going first), which checks every result: the floor's list
# equals the old one, the entry's holds one line more. Goals: the entry costs at most 1.5 times
# the floor at both sizes, and its cost grows linearly with the size (10 times the size, about
# 10 times the time; a quadratic edit would take about 100 times). CopyFileA alone, which
# neither flushes nor replaces anything, is shown beside them for scale, with where the time
# of the entry and of the floor goes.
#
#   bench/wininit_bench.sh         (WINE_BUILD_DIR, WIN32_BUILD_DIR, BENCH_ROOT: see
#                                   bench_lib.sh; BENCH_REPEATS rounds in the program, default 21)
set -uo pipefail
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=wininit_bench
REPEATS=${BENCH_REPEATS:-21}

bench_session
set_personality 9x
bench_start
BENCH_RUNS=$REPEATS
bench_banner "WinInit benchmark: a restart entry in WinInit.ini (9x personality), one process"

wine_run 'C:\tools\bench_wininit.exe' "$REPEATS" >"$WORK/wininit.out" 2>/dev/null </dev/null
status=$?
result=$(tr -d '\r' <"$WORK/wininit.out")
if [ "$status" != 0 ] || [ "$(printf '%s\n' "$result" | grep -c '^size=')" != 2 ]; then
    echo "   bench_wininit.exe: ${result:-no output}" >&2
    exit 1
fi
# field KIND N NAME: NAME's value in the Nth line that starts with KIND.
field() {
    printf '%s\n' "$result" | grep "^$1" | sed -n "$2p" | sed -n "s/.* $3=\([0-9]*\).*/\1/p"
}
size1=$(printf '%s\n' "$result" | grep '^size=' | sed -n '1s/^size=\([0-9]*\).*/\1/p')
size10=$(printf '%s\n' "$result" | grep '^size=' | sed -n '2s/^size=\([0-9]*\).*/\1/p')
GOAL=1.5
# figures LABEL N SIZE: the Nth size's line of figures; sets RATIO (entry / floor).
figures() {
    local insert floor copy
    insert=$(field size= "$2" insert_us) floor=$(field size= "$2" floor_us)
    copy=$(field size= "$2" copy_us)
    RATIO=$(ratio "$insert" "$floor")
    within "$RATIO" "$GOAL"
    printf '   %-5s %8s bytes: entry %6s ms, floor %6s ms, entry / floor = %s (goal <= %s: %s);' \
        "$1" "$3" "$(ms "$insert")" "$(ms "$floor")" "$RATIO" "$GOAL" "$VERDICT"
    printf ' CopyFileA %6s ms, entry / copy = %s\n' "$(ms "$copy")" "$(ratio "$insert" "$copy")"
}
figures "1 MB" 1 "$size1"
figures "10 MB" 2 "$size10"
parts() {
    printf '%s\n' "$result" | grep "^$1" | sed -n "$2p" |
        awk '{ for (i = 2; i <= NF; i++) { split($i, kv, "="); sub(/_us$/, "", kv[1]);
               printf " %s %.1f ms,", kv[1], kv[2] / 1000 } }' | sed 's/,$//'
}
# steps N: where the Nth size's time goes, in the entry and in the floor.
steps() {
    echo "     $1: entry's flush $(ms "$(field size= "$2" flush_us)") ms, renames" \
        "$(ms "$(field size= "$2" replace_us)") ms, short path $(ms "$(field size= "$2" path_us)")" \
        "ms, mutex $(ms "$(field size= "$2" lock_us)") ms"
    echo "       its steps one by one:$(parts parts "$2")"
    echo "     $1: floor's$(parts floor_parts "$2")"
}
echo "   where the time goes (medians; renames: the renames and deletions that put the new list"
echo "   in place; short path: GetFullPathNameA and GetShortPathNameA of the entry's file; the"
echo "   floor makes no entry and takes no mutex):"
steps "1 MB" 1
steps "10 MB" 2
insert1=$(field size= 1 insert_us) insert10=$(field size= 2 insert_us)
growth=$(ratio "$insert10" "$insert1")
floor_growth=$(ratio "$(field size= 2 floor_us)" "$(field size= 1 floor_us)")
copy_growth=$(ratio "$(field size= 2 copy_us)" "$(field size= 1 copy_us)")
within "$growth" 15
echo "   growth 10 MB / 1 MB: entry $growth, floor $floor_growth, CopyFileA $copy_growth" \
    "(goal: linear, at most 15: $VERDICT)"
end_session
exit "$BENCH_STATUS"
