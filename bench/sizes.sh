#!/bin/sh
# Sizes of the 32-bit deliverables against their goals: both programs travel on the medium
# and setup.exe is the first thing read from it.
#
#   bench/sizes.sh [i686 build directory, default build/win32]
set -eu
build=${1:-build/win32}
status=0

measure() {
    file=$1
    goal=$2
    if [ ! -f "$build/$file" ]; then
        echo "$file: missing in $build (build it with cmake/toolchain-mingw-i686.cmake)"
        status=1
        return
    fi
    bytes=$(wc -c < "$build/$file" | tr -d ' ')
    if [ "$bytes" -le "$goal" ]; then
        verdict="within goal"
    else
        verdict="OVER GOAL"
        status=1
    fi
    printf '%-22s %6d bytes  goal <= %6d (%d KiB)  %s\n' "$file" "$bytes" "$goal" \
        $((goal / 1024)) "$verdict"
}

measure bootstrap/setup.exe $((24 * 1024))  # with its icon
measure launcher/_zorp.ex_ $((12 * 1024))
exit $status
