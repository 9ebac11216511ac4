#!/usr/bin/env bash
# Renders the hicolor PNG sizes of the two desktop icons from their SVG
# sources (needs rsvg-convert, Debian package librsvg2-bin). Building and
# installing use the committed PNGs and need neither.
set -euo pipefail
cd "$(dirname "$0")"
for name in velmora-mailtray application-x-velmora-session; do
    for size in 16 24 32 48 64 128 256; do
        mkdir -p "hicolor/${size}x${size}"
        rsvg-convert -w "$size" -h "$size" "$name.svg" -o "hicolor/${size}x${size}/$name.png"
    done
done
