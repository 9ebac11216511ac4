#!/usr/bin/env bash
# Renders the toolbar images drawn for this program (16 x 16, full colour)
# into ../images (needs rsvg-convert, Debian package librsvg2-bin). Image 15
# is the program's own icon at toolbar size.
set -euo pipefail
cd "$(dirname "$0")"
rsvg-convert -w 16 -h 16 ../desktop/velmora-mailtray.svg -o ../images/15_mailtray.png
for name in 16_delivery_settings 17_compose; do
    rsvg-convert -w 16 -h 16 "$name.svg" -o "../images/$name.png"
done
