#!/usr/bin/env bash
# Screenshots of the version library (filled from a loopback update server inside the tool) and its
# question, busy and result boxes, in all four languages under Xvfb (display :74), saved in
# build/screenshots/update/ for a person to look at; then the same with an archive name of a million
# characters in the listing (update_long_*), each run saying how long the GUI thread was held.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target updateshots shipped
out=build/screenshots/update
mkdir -p "$out"
Xvfb :74 -screen 0 1920x1080x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
for lang in 0 1 2 3; do
    DISPLAY=:74 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp ./build/release/tools/pageshots/updateshots \
        build/release/shipped "$out" "$lang"
    MG_SHOTS_LONG_NAME=1000000 DISPLAY=:74 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp \
        ./build/release/tools/pageshots/updateshots build/release/shipped "$out" "$lang"
done
ls -1 "$out"
