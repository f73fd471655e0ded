#!/bin/sh
# Line and branch coverage of the core (update/, usb/, images/) by the test suites:
#   tools/coverage.sh [build-dir]        (default build/coverage)
# Builds with gcc --coverage and no sanitizers, runs every CTest test, then writes a
# summary to the terminal and an HTML report to <build-dir>/coverage/index.html.
# Installs gcovr (and the build's packages) when missing.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/coverage}

tools/install-packages.sh cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev gcovr

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=OFF \
    -DCMAKE_C_FLAGS="--coverage" -DCMAKE_CXX_FLAGS="--coverage" \
    -DCMAKE_EXE_LINKER_FLAGS="--coverage"
# Keep going past a folder that does not build, so the report still covers the rest;
# the script fails at the end when the build or any test failed.
status=0
cmake --build "$build" -j2 -- -k || status=$?
find "$build" -name '*.gcda' -delete
(cd "$build" && ctest -j2 --output-on-failure) || status=$?

mkdir -p "$build/coverage"
gcovr --root . --object-directory "$build" \
    --filter 'update/' --filter 'usb/' --filter 'images/' \
    --exclude '.*_win32\.cpp' --exclude 'update/recording_host\..*' --exclude 'usb/recording_clock\.h' \
    --exclude-unreachable-branches --exclude-throw-branches \
    --html-details "$build/coverage/index.html" --print-summary --txt - 
if [ "$status" -ne 0 ]; then
    echo "coverage: the build or the tests failed (status $status); the report covers what ran" >&2
    exit "$status"
fi
