#!/usr/bin/env bash
# Builds the release binary, lays out its working directory in build/box/ and starts the box there,
# with the board simulator as its I/O board.
# Existing databases in build/box/ are kept: they hold the settings of earlier runs.
set -euo pipefail
cd "$(dirname "$0")/.."
# The box's own screen is 1920 x 1080 and every page is placed for it. MG_SCREEN=<width>x<height>
# chooses another size for Xvfb and the sample regions (a smaller one cuts pages: see the README).
screen="${MG_SCREEN:-1920x1080}"
if ! [[ "$screen" =~ ^([0-9]+)x([0-9]+)$ ]]; then
    echo "MG_SCREEN must read <width>x<height>, e.g. 1920x1080" >&2
    exit 2
fi
screen_w=${BASH_REMATCH[1]}
screen_h=${BASH_REMATCH[2]}
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
cp -f "$shipped"/20clearsh.tar.gz "$box/paraGroup/default/"
chmod u+w "$box"/*.db "$box"/paraGroup/default/*.db
# The help pages of both languages, and the hardware list unless the box has its own.
mkdir -p "$box/help" "$box/help-en"
cp -f "$shipped"/help/*.png "$box/help/"
cp -f "$shipped"/help-en/*.png "$box/help-en/"
[ -e "$box/conf.txt" ] || cp "$shipped/conf.txt" "$box/"
# Two simulated cameras serve the sample pictures while no real camera is found; folders already
# there (pictures of the user's own) are kept.
for n in 1 2; do
    if [ ! -d "$box/simcam/$n" ]; then
        mkdir -p "$box/simcam/$n"
        cp -f "$shipped"/simcam/$n/*.jpg "$box/simcam/$n/"
    fi
done
# The stand-in reporting process, and a report-link configuration with the network function on when
# the box has none yet (settings made on the box are kept).
cp -f build/release/tools/pynet_monitor/pynet_monitor "$box/cnt_net/"
if [ ! -e "$box/cnt_net/config.json" ]; then
    printf '{\n    "device_worknetfunc": true,\n    "device_workvideo": false\n}\n' > "$box/cnt_net/config.json"
fi
# Sample regions for the two simulated cameras, laid out for the screen size above, unless their
# tables already hold regions.
build/release/tools/simregions/simregions "$box/PARAM.db" "$screen_w" "$screen_h" || true
cd "$box"

# The simulated I/O board: a pseudo-terminal at ./dev/ttyS<ioPort>, where the desktop build opens the
# board port; it plays a mould opening (input 0 for 1 s every 10 s). Stopped when the box exits.
rm -f dev/ttyS*
../release/tools/boardsim/boardsim --link "./dev/ttyS%1" --param-db PARAM.db --cycle 0:1000:10000 &
boardsim_pid=$!
trap 'kill "$boardsim_pid" 2>/dev/null || true; wait "$boardsim_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    compgen -G "dev/ttyS*" >/dev/null && break
    sleep 0.1
done

# FAKESMARTCAM=1: a network smart camera on this machine (tools/fakesmartcam) for the box to discover.
if [ "${FAKESMARTCAM:-0}" = 1 ]; then
    # FAKESMARTCAM_LAYOUT: plain (default), described or described-rgb; see the README.
    ../release/tools/fakesmartcam/fakesmartcam --pictures simcam/1 --layout "${FAKESMARTCAM_LAYOUT:-plain}" &
    smartcam_pid=$!
    trap 'kill "$boardsim_pid" "$smartcam_pid" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
    sleep 0.5
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    # Nobody can touch a box under Xvfb: its start-up question (clear the saved camera serials?) is
    # answered "no" unless MG_BOX_ANSWERS says otherwise.
    # MG_XVFB_DISPLAY=<n> puts Xvfb on display :<n>; by default xvfb-run takes a free one.
    server=(-a)
    if [ -n "${MG_XVFB_DISPLAY:-}" ]; then
        server=(-n "${MG_XVFB_DISPLAY#:}")
    fi
    echo "No display found: starting under Xvfb (screen ${screen_w}x${screen_h})."
    MG_BOX_ANSWERS="${MG_BOX_ANSWERS:-0}" xvfb-run "${server[@]}" -s "-screen 0 ${screen_w}x${screen_h}x24" \
        ./mouldguard
else
    ./mouldguard
fi
