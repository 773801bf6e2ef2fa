#!/usr/bin/env bash
# Screenshots of two and of four simulated camera views with their regions, the spots of one pass and
# the verdict, in Chinese and English, under Xvfb (display :64), saved in build/screenshots/cameraviews/
# for a person to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target viewshots shipped
out=build/screenshots/cameraviews
mkdir -p "$out"
Xvfb :64 -screen 0 1920x1080x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=:64 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp ./build/release/tools/pageshots/viewshots \
    build/release/shipped "$out"
ls -1 "$out"
