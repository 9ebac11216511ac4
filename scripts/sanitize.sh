#!/usr/bin/env bash
# The core and command-line tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, built with clang in build-sanitize/. The same
# folder builds the fuzz targets (scripts/fuzz.sh), so CI compiles the
# sanitized core once for both.
# Usage: scripts/sanitize.sh [--configure-only] [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# -O1: the sanitized core runs the tests (and the fuzzers) about twice as
# fast as unoptimised, for little more compile time.
CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DVELMORA_SANITIZE=ON -DVELMORA_FUZZ=ON -DVELMORA_WERROR=ON \
    -DVELMORA_BUILD_GUI=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
if [ "${1:-}" = --configure-only ]; then
    exit 0
fi
cmake --build build-sanitize
cd build-sanitize
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --output-on-failure --no-tests=error --timeout 300 -j"$(nproc)" "$@"
