#!/bin/bash
# Configures and builds every build of the project, two jobs at a time:
#   build/win32   the deliverables (i686, mingw-w64)
#   build/win64   the same sources for x86_64, run by the Wine tests under wine64
#   build/native  the code against the simulated machine, with the tests (and the Wine tests)
#   build/asan    the same with AddressSanitizer and UndefinedBehaviorSanitizer
#   build/fuzz    the libFuzzer targets (clang)
# With arguments, only the builds named (e.g. `build.sh win32 win64`).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
B=$ROOT/build

configure_and_build() {
    local dir=$1
    shift
    echo "== build/${dir#"$B"/}"
    cmake -S "$ROOT" -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j2
}

for build in ${@:-win32 win64 native asan fuzz}; do
    case "$build" in
    win32) configure_and_build "$B/win32" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-i686.cmake" ;;
    win64) configure_and_build "$B/win64" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-x86_64.cmake" ;;
    native) configure_and_build "$B/native" -DWINE_BUILD_DIR="$B/win64" -DWIN32_BUILD_DIR="$B/win32" ;;
    asan) configure_and_build "$B/asan" -DSANITIZE=ON ;;
    fuzz) CC=clang CXX=clang++ configure_and_build "$B/fuzz" -DFUZZ=ON ;;
    *) echo "build.sh: unknown build $build" >&2 && exit 1 ;;
    esac
done
