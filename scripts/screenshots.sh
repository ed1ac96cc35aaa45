#!/bin/sh
# Renders the window's main views (the table and branching fractions after a
# fit, the Monte Carlo histogram, the colour map with its confidence regions,
# the line analysis, a spectrum read) at 1280x800, 1024x700 and 960x640 into
# PNG files, on the offscreen platform (or the display given in
# QT_QPA_PLATFORM).
# Usage: scripts/screenshots.sh [OUTPUT_DIR]   (default docs/screenshots)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/docs/screenshots"}
build=${BUILD_DIR:-"$root/build"}
cmake -S "$root" -B "$build" -DLUMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target lumora-screenshots >/dev/null
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$build/app/lumora-screenshots" "$root" "$out"
