#!/usr/bin/env bash
# Screenshots of every touch widget, pad and box, in all four languages, for a
# person to look at (nothing compares them). Runs the widget gallery under Xvfb on display :61 at
# 1920 x 1080 and saves the PNGs in build/shots/widgets/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/shots/widgets}")
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target widgetgallery shipped
work=$(mktemp -d)
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
cp -r build/release/shipped/images "$work/"
Xvfb :61 -screen 0 1920x1080x24 -nolisten tcp &
xvfb_pid=$!
sleep 1
mkdir -p "$out"
cd "$work"
for language in 0 1 2 3; do
    DISPLAY=:61 QT_QPA_PLATFORM=xcb "$OLDPWD/build/release/tools/widgetgallery/widgetgallery" "$language" "$out"
done
echo "screenshots in $out"
