#!/bin/bash
# Installs the dependencies, builds everything, then runs the tests: the sanitizer build, the
# fuzz targets, and last the native build, which includes the Wine end-to-end tests. The
# output ends with the summary line of that last ctest run; the exit code is nonzero when any
# run failed.
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)

bash "$ROOT/scripts/install-deps.sh" || exit 1
bash "$ROOT/scripts/build.sh" || exit 1

status=0
# The fuzz build runs only its fuzz targets: its other tests are the asan build's again.
run_ctest() {
    local build=$1
    shift
    echo "== ctest build/$build $*"
    (cd "$ROOT/build/$build" && ctest --output-on-failure "$@") || status=1
}
run_ctest asan
run_ctest fuzz -R '^fuzz\.'
run_ctest native
exit $status
