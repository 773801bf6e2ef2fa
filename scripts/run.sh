#!/usr/bin/env bash
# Builds the release binary, lays out its working directory in build/box/ and starts the box there.
# Existing databases in build/box/ are kept: they hold the settings of earlier runs.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMG_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
box=build/box
shipped=build/release/shipped
mkdir -p "$box/images" "$box/paraGroup/default" "$box/cnt_net"
cp -f build/release/app/mouldguard "$box/"
cp -f "$shipped"/images/*.png "$shipped"/images/*.bmp "$box/images/"
for db in "$shipped"/*.db; do
    cp -f "$db" "$box/paraGroup/default/"
    [ -e "$box/$(basename "$db")" ] || cp "$db" "$box/"
done
chmod u+w "$box"/*.db "$box"/paraGroup/default/*.db
cd "$box"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: starting under Xvfb (screen 1024x768)."
    exec xvfb-run -a -s "-screen 0 1024x768x24" ./mouldguard
fi
exec ./mouldguard
