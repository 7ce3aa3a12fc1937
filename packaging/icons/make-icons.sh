#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the icon (varmio.svg, the lit connection lamp) to the PNG sizes the desktop's icon theme
# takes, next to this script. Needs rsvg-convert (Debian librsvg2-bin); the PNGs are committed, so
# building does not. Run after changing the SVG:
#     sh packaging/icons/make-icons.sh
set -eu
cd "$(dirname "$0")"
for size in 48 128 256; do
  rsvg-convert --width "$size" --height "$size" --output "varmio-$size.png" varmio.svg
done
