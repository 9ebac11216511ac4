#!/usr/bin/env bash
# Contact import, dry run and export against Python's csv module on
# 1,000,000 rows, the dry run against the import, and the import's peak memory. Usage: bench/run_contacts_import_bench.sh [build dir] [rows] [rounds]
# Use a Release build (-DCMAKE_BUILD_TYPE=Release).
set -euo pipefail
build="${1:-build}"
/usr/bin/python3 "$(dirname "$0")/contacts_import_bench.py" "$build/src/cli/mailtray" "${2:-1000000}" "${3:-3}"
