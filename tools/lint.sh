#!/usr/bin/env bash
# The tree's own style checks, run by ./test.sh:
#   tools/lint.sh [build-dir]        (default build/debug, configured and built first)
# Fails when a C++ file differs from what clang-format makes of it (.clang-format), or
# when clang-tidy's configured checks (.clang-tidy) find anything in the portable and
# POSIX code of update/, usb/, images/ and app/. The Windows files are left to the
# MinGW build's warnings: clang-tidy here has no Windows headers to parse them with.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/debug}

tools/install-packages.sh clang-format clang-tidy

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "lint: formatting differs from .clang-format; run clang-format -i on the files above" >&2
    exit 1
fi

if [ ! -f "$build/compile_commands.json" ]; then
    echo "lint: $build/compile_commands.json is missing; configure with a preset first" >&2
    exit 1
fi
mapfile -t checked < <(git ls-files 'update/*.cpp' 'usb/*.cpp' 'images/*.cpp' 'app/*.cpp' | grep -v '_win32\.cpp$')
# Each file's findings are errors (WarningsAsErrors in .clang-tidy), so any finding fails.
if ! run-clang-tidy -p "$build" -j "$(nproc)" -quiet "${checked[@]}" > "$build/clang-tidy.log" 2>&1; then
    grep -E 'warning:|error:' "$build/clang-tidy.log" >&2 || tail -20 "$build/clang-tidy.log" >&2
    echo "lint: clang-tidy found the above (full output in $build/clang-tidy.log)" >&2
    exit 1
fi
echo "lint: formatting and clang-tidy clean (${#sources[@]} files formatted, ${#checked[@]} checked)"
