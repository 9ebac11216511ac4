#!/bin/sh
# with_private_keyring.sh BUS_CONFIG MODE COMMAND...
# Runs COMMAND on a D-Bus session bus of its own (BUS_CONFIG names no service
# folders, so nothing installed on this machine starts on demand), with a
# fresh home and XDG folders. MODE says what else runs on that bus:
#   none                   nothing
#   keyring                gnome-keyring-daemon with an unlocked login keyring
#   keyring-without-login  gnome-keyring-daemon without a login keyring
set -eu

config=$1
mode=$2
shift 2

if [ -z "${VELMORA_INSIDE_PRIVATE_BUS:-}" ]; then
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    mkdir -p "$scratch/home" "$scratch/data" "$scratch/config" "$scratch/cache" "$scratch/run"
    chmod 700 "$scratch/run"
    status=0
    HOME="$scratch/home" XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
        XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/run" \
        VELMORA_INSIDE_PRIVATE_BUS=1 \
        dbus-run-session --config-file="$config" -- "$0" "$config" "$mode" "$@" || status=$?
    exit "$status"
fi

if [ "$mode" = none ]; then
    exec "$@"
fi

if ! command -v gnome-keyring-daemon >/dev/null; then
    echo "gnome-keyring-daemon is not installed: run scripts/setup.sh" >&2
    exit 1
fi
case "$mode" in
keyring)
    # Creates the login keyring with this password, or unlocks it.
    printf 'velmora-test' | gnome-keyring-daemon --foreground --unlock --components=secrets \
        >/dev/null &
    ;;
keyring-without-login)
    gnome-keyring-daemon --foreground --components=secrets >/dev/null </dev/null &
    ;;
*)
    echo "unknown mode: $mode" >&2
    exit 2
    ;;
esac
daemon=$!
trap 'kill "$daemon" 2>/dev/null || true' EXIT

# The daemon takes its bus name a moment after it starts.
tries=0
until dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
    grep -q 'boolean true'; do
    tries=$((tries + 1))
    if [ "$tries" -ge 300 ] || ! kill -0 "$daemon" 2>/dev/null; then
        echo "gnome-keyring-daemon did not come up on the private bus" >&2
        exit 1
    fi
    sleep 0.1
done
"$@"
