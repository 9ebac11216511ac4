#!/usr/bin/env bash
# clang-tidy (.clang-tidy's checks) over the core's files: store, views,
# contacts, delivery, compose without their Qt files. Needs a configured
# build folder (compile_commands.json); exits non-zero on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
mapfile -t files < <(find src/store src/views src/contacts src/delivery src/compose -name '*.cpp' |
    grep -vE '_(window|dialog|model)\.cpp$|^src/compose/surface/|^src/delivery/windows/' | sort)
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${files[@]}"
