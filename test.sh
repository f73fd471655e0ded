#!/usr/bin/env bash
# Installs what the tests need (Debian packages, when missing), then builds and runs
# every test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake --workflow --preset debug

# The Windows program as shipped: cross-built with MinGW-w64, then driven end to end
# under Wine on a virtual display (tests/e2e/wine).
wine_packages=(g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine fonts-wine xvfb xdotool imagemagick)
missing=()
for package in "${wine_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
cmake --workflow --preset mingw
tests/e2e/wine/run_wine_e2e.sh build/mingw
