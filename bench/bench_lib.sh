# Shared by the Wine benchmarks (staging_bench.sh, wininit_bench.sh, chain_bench.sh). Builds on
# the Wine test bed (tests/wine/lib.sh): a prefix copied from the run's template, the medium
# as CD-ROM drive E:, Xvfb at depth 24 and one Wine session for the whole benchmark.
#
# Inputs from the environment: WIN32_BUILD_DIR (the i686 build, default build/win32) and
# WINE_BUILD_DIR (the x86_64 build, default build/win64), of which lib.sh runs the i686 one
# under wine32 where this host can run 32-bit programs and the x86_64 one under wine64
# elsewhere (WIN32_BUILD_DIR= , empty, forces the second); BENCH_ROOT (scratch folder, default
# build/bench), BENCH_RUNS (timed runs of each side, default 5).
#
# Timing is done inside Wine by bench_timer.exe (QueryPerformanceCounter around
# CreateProcessA and the wait), so the cost of starting Wine's own tools from the shell never
# enters a figure; both sides of a comparison are started through it alike.

BENCH_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINE_BUILD_DIR=${WINE_BUILD_DIR:-$BENCH_REPO/build/win64}
export WIN32_BUILD_DIR=${WIN32_BUILD_DIR-$BENCH_REPO/build/win32}
export WINE_TEST_ROOT=${BENCH_ROOT:-$BENCH_REPO/build/bench}
BENCH_RUNS=${BENCH_RUNS:-5}
source "$BENCH_REPO/tests/wine/lib.sh"
# A scratch folder for each Wine: the template prefix that one of them booted would not run
# under the other, and lib.sh tells a template only by its Wine version.
WINE_TEST_ROOT=$WINE_TEST_ROOT/$WINE_ARCH
WINE_TEMPLATE=$WINE_TEST_ROOT/template

BENCH_TOOLS="bench_timer.exe bench_floor.exe bench_relay.exe bench_exit.exe bench_wininit.exe"

# The Wine session of the benchmark: a fresh prefix with the bench tools in C:\tools, Xvfb at
# depth 24 and a wineserver kept up (-p) until the end, booted before anything is timed. No
# message-box collector: it would poll the windows all through the timed runs.
bench_session() {
    make_prefix
    local tool
    for tool in $BENCH_TOOLS; do
        cp "$(program_path "$tool")" "$WINEPREFIX/drive_c/tools/" || exit 1
    done
}

bench_start() {
    start_xvfb 24
    wineserver_cmd -p
    wine_run 'C:\tools\winhelper.exe' list >/dev/null 2>&1
}

bench_banner() {
    echo "== $1"
    local build="i686 build, the deliverables"
    [ "$WINE_ARCH" = win64 ] && build="x86_64 build of the same sources"
    echo "   under $("$WINE" --version) ($WINE, $build: $WINE_TEST_BUILD)," \
        "Xvfb 800x600x24, $(nproc) cores; medians of $BENCH_RUNS runs"
}

# bench_time CMDLINE CWD [-tree]: runs CMDLINE (exact Windows command line) through
# bench_timer.exe with CWD as working directory. Sets BENCH_US (elapsed microseconds) and
# BENCH_EXIT (exit code, hex); returns 1 when nothing was measured.
BENCH_CMD_COUNT=0
bench_time() {
    local commandLine=$1 cwd=$2 mode=${3:-}
    BENCH_CMD_COUNT=$((BENCH_CMD_COUNT + 1))
    local name=bench-$BENCH_CMD_COUNT.txt
    printf '%s' "$commandLine" >"$WINEPREFIX/drive_c/tools/$name"
    local output
    # Into a file, not a pipe: the started programs inherit the handles, and a pipe would stay
    # open as long as the last of them runs.
    WINE_RUN_TIMEOUT=200 wine_run 'C:\tools\bench_timer.exe' $mode -t 150 -d "$cwd" \
        "C:\\tools\\$name" >"$WORK/timer.out" 2>/dev/null </dev/null
    output=$(tr -d '\r' <"$WORK/timer.out")
    BENCH_US=$(printf '%s\n' "$output" | sed -n 's/^elapsed_us=\([0-9]*\) .*/\1/p')
    BENCH_EXIT=$(printf '%s\n' "$output" | sed -n 's/.* exit=\(0x[0-9A-F]*\)$/\1/p')
    if [ -z "$BENCH_US" ]; then
        echo "bench_timer: ${output:-no output} ($commandLine)" >&2
        return 1
    fi
    return 0
}

# median VALUES...: the middle value (the mean of the two middle ones for an even count).
median() {
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# ms MICROSECONDS: milliseconds with one decimal.
ms() { awk -v u="$1" 'BEGIN { printf "%.1f", u / 1000 }'; }

# ratio A B: A / B with three decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

# list MICROSECONDS...: each in milliseconds, each after a blank.
list() { for v in "$@"; do printf ' %s' "$(ms "$v")"; done; }

# alternate SIDE_A SIDE_B: one untimed run of each (caches, the shell's first use), then
# BENCH_RUNS timed runs of each, alternating which goes first, so that a slow spell of the
# machine falls on both. Each side is a command that does one run and sets BENCH_US; their
# times go to A_US and B_US.
alternate() {
    A_US=() B_US=()
    "$1" && "$2"
    local run
    for run in $(seq "$BENCH_RUNS"); do
        if [ $((run % 2)) = 1 ]; then
            "$1" && A_US+=("$BENCH_US")
            "$2" && B_US+=("$BENCH_US")
        else
            "$2" && B_US+=("$BENCH_US")
            "$1" && A_US+=("$BENCH_US")
        fi
    done
}

# within VALUE GOAL: sets VERDICT to "within goal" when VALUE <= GOAL, else to "OVER GOAL"
# (and BENCH_STATUS=1). It prints nothing: called in a command substitution, its BENCH_STATUS
# would be lost with the subshell.
BENCH_STATUS=0
within() {
    if awk -v v="$1" -v g="$2" 'BEGIN { exit !(v <= g) }'; then
        VERDICT="within goal"
    else
        BENCH_STATUS=1
        VERDICT="OVER GOAL"
    fi
}

# Empties the staging area under the Windows directory (C:\windows\TEMP\{Config,Init,Extra,
# English}), so that every run stages into the same empty place.
clear_staging() {
    local temp dir
    temp=$(hostpath 'C:\windows\TEMP') || return 0
    for dir in Config Init Extra English; do
        find "$temp" -mindepth 1 -maxdepth 1 -iname "$dir" -exec rm -rf {} +
    done
}
