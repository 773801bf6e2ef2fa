#!/usr/bin/env bash
# Screenshots of every shipped help page in Chinese and English, and of the hardware page over the
# settings screen's advanced page, under Xvfb (display :76), saved in build/screenshots/help/ for a
# person to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target helpshots shipped
out=build/screenshots/help
mkdir -p "$out"
Xvfb :76 -screen 0 1920x1080x24 >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=:76 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp ./build/release/tools/pageshots/helpshots \
    build/release/shipped "$out"
ls -1 "$out"
