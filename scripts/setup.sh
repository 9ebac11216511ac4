#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, only where
# something is missing. Uses sudo when not run as root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build clang libclang-rt-14-dev clang-tidy
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev libgl-dev
    libcli11-dev nlohmann-json3-dev libssl-dev openssl ca-certificates libidn2-dev
    libcurl4-openssl-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-aiosmtpd
    xvfb xauth xdg-utils fonts-dejavu-core
    qtkeychain-qt6-dev dbus gnome-keyring
    libgmime-3.0-dev python3-flufl.bounce dovecot-imapd
    desktop-file-utils appstream shared-mime-info lintian dpkg-dev file
    time
    spamassassin
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
