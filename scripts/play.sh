#!/usr/bin/env bash
# Installs and builds only what playing needs, then plays the show. With no display (neither
# DISPLAY nor WAYLAND_DISPLAY) it records the show to ./lumenfall.mp4 instead.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh play
top=$(pwd)
cd build
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec ./lumenfall-gl
fi
echo "No display found: recording the show to $top/lumenfall.mp4 instead of playing it."
exec ./lumenfall-capture --output "$top/lumenfall.mp4"
