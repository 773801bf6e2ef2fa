#!/usr/bin/env bash
# Screenshots of the main window with its menu bar open on the 1920 x 1080 screen, in all four
# languages, with two simulated cameras and every optional button switched on, for a person to look at
# (nothing compares them). Runs under Xvfb on display :83 and saves the PNGs in build/shots/menubar/
# (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build/shots/menubar}")
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target menubarshots shipped
shipped=$root/build/release/shipped
work=$(mktemp -d)
xvfb_pid=
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$out"
Xvfb :83 -screen 0 1920x1080x24 -nolisten tcp &
xvfb_pid=$!
sleep 1
for lang in 0:zh-CN 1:en 2:zh-TW 3:ja; do
    box=$work/${lang#*:}
    mkdir -p "$box/images" "$box/paraGroup/default"
    cp "$shipped"/images/*.png "$shipped"/images/*.bmp "$box/images/"
    cp "$shipped"/*.db "$box/"
    cp "$shipped"/*.db "$box/paraGroup/default/"
    chmod -R u+w "$box"
    for n in 1 2; do
        mkdir -p "$box/simcam/$n"
        if compgen -G "$shipped/simcam/$n/*.jpg" >/dev/null; then
            cp "$shipped"/simcam/$n/*.jpg "$box/simcam/$n/"
        fi
    done
    (cd "$box" && DISPLAY=:83 QT_QPA_PLATFORM=xcb "$root/build/release/tools/mainwindowshots/menubarshots" \
        "$out/${lang#*:}" "${lang%%:*}")
done
echo "screenshots in $out"
