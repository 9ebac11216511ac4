#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Velmora Mailtray and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/configure.sh
cmake --build build --target velmora-mailtray mailtray

if [ "$(id -u)" -eq 0 ]; then
    echo "warning: running as root, so the web engine's sandbox is switched off." >&2
    export QTWEBENGINE_DISABLE_SANDBOX=1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting under a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a ./build/velmora-mailtray "$@"
fi
exec ./build/velmora-mailtray "$@"
