#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Renders data/icons/wirelog.svg to the PNG sizes the desktop and the window use and packs the
# 16 and 32 pixel images into the Windows icon group. The outputs are committed; run this after
# changing the drawing. Needs librsvg2-bin (rsvg-convert) and icoutils (icotool).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh librsvg2-bin icoutils
icons=data/icons
for size in 16 32 48 256; do
    rsvg-convert --width "$size" --height "$size" "$icons/wirelog.svg" -o "$icons/wirelog-$size.png"
done
icotool --create --output "$icons/wirelog.ico" "$icons/wirelog-16.png" "$icons/wirelog-32.png"
ls -l "$icons"
