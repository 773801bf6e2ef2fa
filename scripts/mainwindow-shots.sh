#!/usr/bin/env bash
# Screenshots of the main window with 1, 2, 4 and 8 simulated cameras on the two screens the box is
# sold with (1920 x 1080 and 1024 x 768), for a person to look at (nothing compares them). Runs under
# Xvfb on display :62 and saves the PNGs in build/shots/mainwindow/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(realpath -m "${1:-build/shots/mainwindow}")
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" --target mainwindowshots shipped
shipped=$root/build/release/shipped
work=$(mktemp -d)
xvfb_pid=
trap '[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$out"
for screen in 1920x1080 1024x768; do
    Xvfb :62 -screen 0 "${screen}x24" -nolisten tcp &
    xvfb_pid=$!
    sleep 1
    for cameras in 1 2 4 8; do
        # A box folder of its own for each language: a run ends in a latched alarm, which the box
        # keeps, and the next run in the same folder would start with it on screen.
        for language in 0:zh-CN 1:en 2:zh-TW 3:ja; do
            box=$work/$screen-$cameras-${language#*:}
            mkdir -p "$box/images" "$box/paraGroup/default"
            cp "$shipped"/images/*.png "$shipped"/images/*.bmp "$box/images/"
            cp "$shipped"/*.db "$box/"
            cp "$shipped"/*.db "$box/paraGroup/default/"
            chmod -R u+w "$box"
            # One folder per simulated camera, cycling through the sample pictures of the shipped two.
            for n in $(seq "$cameras"); do
                mkdir -p "$box/simcam/$n"
                sample=$(( (n - 1) % 2 + 1 ))
                if compgen -G "$shipped/simcam/$sample/*.jpg" >/dev/null; then
                    cp "$shipped"/simcam/$sample/*.jpg "$box/simcam/$n/"
                fi
            done
            (cd "$box" && DISPLAY=:62 QT_QPA_PLATFORM=xcb \
                "$root/build/release/tools/mainwindowshots/mainwindowshots" \
                "$out/$screen-$cameras-${language#*:}" "${language%%:*}")
        done
    done
    kill "$xvfb_pid"
    wait "$xvfb_pid" 2>/dev/null || true
    xvfb_pid=
done
echo "screenshots in $out"
