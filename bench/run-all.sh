#!/bin/bash
# Every benchmark, one after another: the sizes of the i686 deliverables, then the Wine
# benchmarks (staging, WinInit.ini entry, whole chain in both personalities), which run the
# i686 build under wine32 where the host can run 32-bit programs and the x86_64 build of the
# same sources under wine64 elsewhere (see bench_lib.sh), and last the medium builder against
# plain xorriso. Builds build/win32 and build/win64 first (BENCH_NO_BUILD=1 skips that). Ends
# with 1 when any figure misses its goal.
#
#   bench/run-all.sh
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${BENCH_NO_BUILD:-0}" != 1 ]; then
    bash "$ROOT/scripts/build.sh" win32 win64 >/dev/null || exit 1
fi
status=0
echo "== Sizes of the i686 deliverables"
sh "$ROOT/bench/sizes.sh" "$ROOT/build/win32" | sed 's/^/   /' || status=1
for bench in staging_bench.sh wininit_bench.sh "chain_bench.sh nt" "chain_bench.sh 9x" \
    medium_bench.sh; do
    echo
    bash "$ROOT/bench/"$bench || status=1
done
exit $status
