#!/bin/bash
# WinInit benchmark: the launcher's Windows 95/98 restart entry (DeleteAtRestart, which reads
# WinInit.ini, adds the entry and puts the new list in place) on a list of 1 MB and of 10 MB,
# against CopyFileA of the same file, timed in one process under Wine by bench_wininit.exe
# (QueryPerformanceCounter, medians of BENCH_REPEATS rounds). Goals: the entry costs at most
# twice the copy at both sizes, and its cost grows linearly with the size (10 times the size,
# about 10 times the time; a quadratic edit would take about 100 times). The entry flushes
# WinInit.tmp to the disk before the renames (CopyFileA flushes nothing): the time it spends in
# FlushFileBuffers is measured inside it and shown apart, with the entry's figure without it;
# so is the time in the renames and deletions that put the new list in place.
#
#   bench/wininit_bench.sh         (WINE_BUILD_DIR, BENCH_ROOT: see bench_lib.sh;
#                                   BENCH_REPEATS rounds in the program, default 9)
set -uo pipefail
source "$(dirname "$0")/bench_lib.sh"
WINE_TEST_NAME=wininit_bench
REPEATS=${BENCH_REPEATS:-9}

bench_session
set_personality 9x
bench_start
BENCH_RUNS=$REPEATS
bench_banner "WinInit benchmark: a restart entry in WinInit.ini (9x personality), one process"

wine_run 'C:\tools\bench_wininit.exe' "$REPEATS" >"$WORK/wininit.out" 2>/dev/null </dev/null
result=$(tr -d '\r' <"$WORK/wininit.out")
if ! printf '%s\n' "$result" | grep -q '^size='; then
    echo "   bench_wininit.exe: ${result:-no output}" >&2
    exit 1
fi
# field N NAME: NAME's value in the Nth line that starts with "size=".
field() { printf '%s\n' "$result" | grep '^size=' | sed -n "$1p" | sed -n "s/.*$2=\([0-9]*\).*/\1/p"; }
size1=$(field 1 size) insert1=$(field 1 insert_us) copy1=$(field 1 copy_us)
size10=$(field 2 size) insert10=$(field 2 insert_us) copy10=$(field 2 copy_us)
flush1=$(field 1 flush_us) unflushed1=$(field 1 unflushed_us)
flush10=$(field 2 flush_us) unflushed10=$(field 2 unflushed_us)
replace1=$(field 1 replace_us) replace10=$(field 2 replace_us)
r1=$(ratio "$insert1" "$copy1")
r10=$(ratio "$insert10" "$copy10")
growth=$(ratio "$insert10" "$insert1")
copy_growth=$(ratio "$copy10" "$copy1")
within "$r1" 2; v1=$VERDICT
within "$r10" 2; v10=$VERDICT
within "$growth" 15; vgrowth=$VERDICT
printf '   %-8s %10s bytes: entry %8s ms, CopyFileA %8s ms, entry / copy = %s (goal <= 2: %s)\n' \
    "1 MB" "$size1" "$(ms "$insert1")" "$(ms "$copy1")" "$r1" "$v1"
printf '   %-8s %10s bytes: entry %8s ms, CopyFileA %8s ms, entry / copy = %s (goal <= 2: %s)\n' \
    "10 MB" "$size10" "$(ms "$insert10")" "$(ms "$copy10")" "$r10" "$v10"
echo "   the entry's FlushFileBuffers of WinInit.tmp (kept: with it the old or the new list" \
    "survives a power cut), the entry without it, and its renames and deletions (renames):"
# unflushed LABEL FLUSH_US UNFLUSHED_US COPY_US REPLACE_US
unflushed() {
    printf '   %-8s flush %6s ms; entry less flush %6s ms, / copy = %s; renames %6s ms\n' \
        "$1" "$(ms "$2")" "$(ms "$3")" "$(ratio "$3" "$4")" "$(ms "$5")"
}
unflushed "1 MB" "$flush1" "$unflushed1" "$copy1" "$replace1"
unflushed "10 MB" "$flush10" "$unflushed10" "$copy10" "$replace10"
parts() {
    printf '%s\n' "$result" | grep '^parts' | sed -n "$1p" |
        awk '{ for (i = 2; i <= NF; i++) { split($i, kv, "="); sub(/_us$/, "", kv[1]);
               printf " %s %.1f ms,", kv[1], kv[2] / 1000 } }' | sed 's/,$//'
}
echo "   where the entry's time goes (same list, its steps one by one, medians):"
echo "     1 MB: $(parts 1)"
echo "     10 MB:$(parts 2)"
echo "   growth 10 MB / 1 MB: entry $growth, CopyFileA $copy_growth" \
    "(goal: linear, at most 15: $vgrowth)"
end_session
exit "$BENCH_STATUS"
