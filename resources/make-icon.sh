#!/usr/bin/env bash
# Draws the application icon once with ImageMagick; the result is checked in beside this script.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 256x256 xc:none -fill '#1e6fd9' -draw 'roundrectangle 8,24 248,200 28,28' \
  -fill '#0d3d7a' -draw 'rectangle 100,200 156,228' -draw 'roundrectangle 64,224 192,244 8,8' \
  -fill white -draw 'polygon 100,64 100,160 180,112' \
  -define icon:auto-resize=48,32,16 remote-toviplayer.ico
