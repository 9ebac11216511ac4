#!/usr/bin/env bash
# Builds the Debian package with CPack and checks it with lintian (no
# errors) and its contents (the programs under /usr, the desktop files).
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls "$out"/velmora-mailtray_*.deb)
lintian --fail-on error "$deb"
contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/velmora-mailtray ./usr/bin/mailtray \
    ./usr/share/applications/org.velmora.mailtray.desktop \
    ./usr/share/velmora-mailtray/help/manual.html \
    ./usr/share/mime/packages/velmora-mailtray.xml; do
    grep -q " $file\$" <<<"$contents" || { echo "FAILED: $file is not in the package" >&2; exit 1; }
done
dpkg-deb -f "$deb" Depends | grep -q libqt6webenginewidgets6 || {
    echo "FAILED: the package does not depend on the web engine" >&2
    exit 1
}
echo "package built and lintian-clean"
