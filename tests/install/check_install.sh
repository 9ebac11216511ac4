#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop
# reads there: the menu entry, the metadata, the MIME type, the icons, and
# that the programs find their manual without the source tree.
# Usage: check_install.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAILED: $*" >&2; exit 1; }
for file in bin/velmora-mailtray bin/mailtray \
    share/velmora-mailtray/help/manual.html \
    share/applications/org.velmora.mailtray.desktop \
    share/metainfo/org.velmora.mailtray.metainfo.xml \
    share/mime/packages/velmora-mailtray.xml \
    share/icons/hicolor/scalable/apps/velmora-mailtray.svg \
    share/icons/hicolor/scalable/mimetypes/application-x-velmora-session.svg \
    share/doc/velmora-mailtray/copyright share/doc/velmora-mailtray/changelog.gz; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for size in 16 24 32 48 64 128 256; do
    for icon in apps/velmora-mailtray mimetypes/application-x-velmora-session; do
        png="$prefix/share/icons/hicolor/${size}x${size}/$icon.png"
        [ -f "$png" ] || fail "$png is missing"
        file -b "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not $size x $size"
    done
done

desktop-file-validate "$prefix/share/applications/org.velmora.mailtray.desktop"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/org.velmora.mailtray.metainfo.xml"

# The entry hands the file to the program and claims the session type.
grep -qx 'Exec=velmora-mailtray %f' "$prefix/share/applications/org.velmora.mailtray.desktop" ||
    fail "the entry does not pass the file"
grep -qx 'MimeType=application/x-velmora-session;' \
    "$prefix/share/applications/org.velmora.mailtray.desktop" || fail "the entry claims no MIME type"

# The MIME database built from our package knows *.qmz.
update-mime-database "$prefix/share/mime"
grep -q 'application/x-velmora-session:\*\.qmz' "$prefix/share/mime/globs2" ||
    fail "*.qmz is not registered"
grep -q 'application/x-velmora-session:application-x-velmora-session' \
    "$prefix/share/mime/generic-icons" || fail "the session type has no icon"

# The installed programs start from the prefix alone.
"$prefix/bin/mailtray" --help >/dev/null
QT_QPA_PLATFORM=offscreen "$prefix/bin/velmora-mailtray" --version | grep -q 'Velmora Mailtray' ||
    fail "velmora-mailtray --version"
QT_QPA_PLATFORM=offscreen "$prefix/bin/velmora-mailtray" --manual-path |
    grep -qx "$prefix/share/velmora-mailtray/help/manual.html" ||
    fail "the installed program does not find its installed manual"
echo "installed and valid"
