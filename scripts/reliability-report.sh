#!/usr/bin/env bash
# Builds and runs the reliability report (fault sweeps and stretched inputs on the simulated
# machine), then runs each libFuzzer target for a bounded time and prints its executions.
#   FUZZ_SECONDS  seconds per fuzz target (default 60); 0 skips fuzzing
#   BUILD_ROOT    where the native and fuzz builds go (default build/ in the repository)
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build_root="${BUILD_ROOT:-$repo/build}"
fuzz_seconds="${FUZZ_SECONDS:-60}"
status=0

cmake -S "$repo" -B "$build_root/reliability-native" >/dev/null
cmake --build "$build_root/reliability-native" -j2 --target reliability_report_bench >/dev/null
"$build_root/reliability-native/bench/reliability_report_bench" || status=1

if [ "$fuzz_seconds" -gt 0 ]; then
    # The programs' code is built with the sanitizers too, so a read past a buffer in it is
    # found, not only in the fuzz target itself.
    CC=clang CXX=clang++ cmake -S "$repo" -B "$build_root/reliability-fuzz" -DFUZZ=ON \
        -DSANITIZE=ON >/dev/null
    cmake --build "$build_root/reliability-fuzz" -j2 >/dev/null
    echo
    echo "Fuzz targets (${fuzz_seconds} s each)"
    printf '%-22s %12s %8s %s\n' target executions exec/s result
    for target in "$build_root"/reliability-fuzz/fuzz/*_fuzz; do
        [ -x "$target" ] || continue
        name="$(basename "$target")"
        log="$(mktemp)"
        corpus="$(mktemp -d)"
        if "$target" "$corpus" -max_total_time="$fuzz_seconds" -print_final_stats=1 \
            >"$log" 2>&1; then
            result=ok
        else
            result="CRASH (see $log)"
            status=1
        fi
        runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
        rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)"
        printf '%-22s %12s %8s %s\n' "$name" "${runs:-?}" "${rate:-?}" "$result"
        rm -rf "$corpus"
        [ "$result" = ok ] && rm -f "$log"
    done
fi
exit "$status"
