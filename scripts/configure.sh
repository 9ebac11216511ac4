#!/usr/bin/env bash
# Configures build/ the one way ./scripts/run.sh and ./scripts/test.sh both
# use, so that either command after the other finds the program already
# built (run.sh builds only the two programs, test.sh everything).
# Every option is named, so a folder configured otherwise before (by hand, or
# by an older run.sh without the tests) is put right instead of left half on.
set -euo pipefail
cd "$(dirname "$0")/.."

options=(
    CMAKE_BUILD_TYPE=RelWithDebInfo
    VELMORA_WERROR=ON
    VELMORA_BUILD_GUI=ON
    VELMORA_BUILD_TESTS=ON
    VELMORA_BUILD_BENCH=ON
    VELMORA_SANITIZE=OFF
    VELMORA_FUZZ=OFF
)

# Already configured so: nothing to do (ninja itself reruns CMake when a
# CMakeLists.txt changes). Saves the seconds a configure run costs.
configured=yes
if [ -f build/build.ninja ] && [ -f build/CMakeCache.txt ]; then
    for option in "${options[@]}"; do
        if ! grep -qxE "${option%%=*}:[A-Z]+=${option#*=}" build/CMakeCache.txt; then
            configured=no
        fi
    done
else
    configured=no
fi
if [ "$configured" = no ]; then
    cmake -S . -B build -G Ninja "${options[@]/#/-D}"
fi
