#!/usr/bin/env bash
# Renders the three screens with realistic contents to docs/screenshots/*.png.
# Builds the never-installed tool kestrow_screens in build/screenshots and runs it under Xvfb.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/screenshots"
out="$root/docs/screenshots"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROW_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target kestrow_screens
mkdir -p "$out"
# The X server's own platform plugin, not whatever the caller's environment names.
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1600x900x24" "$build/tools/kestrow_screens" "$out"
echo "wrote $(ls "$out"/*.png | wc -l) screenshots to $out"
