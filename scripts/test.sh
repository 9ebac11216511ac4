#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds everything and runs the whole
# test suite (unit, command-line, offscreen GUI and end-to-end tests).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON
cmake --build build
export QT_QPA_PLATFORM=offscreen
if [ "$(id -u)" -eq 0 ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
cd build
ctest --output-on-failure --timeout 300 -j"$(nproc)" "$@"
