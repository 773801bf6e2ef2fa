#!/usr/bin/env bash
# Screenshots of every page of the settings screen and the camera-position window in all four
# languages under Xvfb (display :66), saved in build/screenshots/settings/ for a person to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target settingsshots shipped
out=build/screenshots/settings
mkdir -p "$out"
Xvfb :66 -screen 0 1920x1080x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
for lang in 0 1 2 3; do
    DISPLAY=:66 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp ./build/release/tools/pageshots/settingsshots \
        build/release/shipped "$out" "$lang"
done
ls -1 "$out"
