#!/usr/bin/env bash
# Installs what the tests need (Debian packages, when missing), then builds and runs
# every test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

tools/install-packages.sh cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev

cmake --workflow --preset debug
# The tree's formatting and clang-tidy's checks, over the debug build's compile database.
tools/lint.sh build/debug

# Every other preset the README documents builds too, so that none can break unseen;
# the benchmarks and fuzzers are built, not run.
cmake --preset release
cmake --build --preset release
# libclang-rt-dev follows Debian's default clang, so the fuzzers' runtime matches the compiler.
tools/install-packages.sh clang libclang-rt-dev
cmake --preset fuzz
cmake --build --preset fuzz

# The Windows program as shipped: cross-built with MinGW-w64, then driven end to end
# under Wine on a virtual display (tests/e2e/wine).
tools/install-packages.sh g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine fonts-wine xvfb xdotool imagemagick
cmake --workflow --preset mingw
tests/e2e/wine/run_wine_e2e.sh build/mingw
# The release step end to end (tools/release.sh): two MinGW builds, signed with a throw-away certificate.
tools/install-packages.sh osslsigncode openssl
tests/tools/release_test.sh
