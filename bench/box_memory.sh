#!/usr/bin/env bash
# Resident memory of the release box with simulated cameras at 1280 x 1024 after a number of mould
# cycles, against the floor of the buffers every camera needs (frame buffers, grey and result planes,
# ignore masks, templates, the result-image hand-over buffers of the slots in use).
#
#   bench/box_memory.sh [build dir (build/release)] [camera counts ("8 2")]
# MG_CYCLES (20) mould cycles of MG_CYCLE_MS (3000) each, input 0 on for 1 s. The box draws on an Xvfb of
# its own at the box's screen size, 1920 x 1080, on a free display (MG_XVFB_DISPLAY=<n> picks one);
# MG_XVFB_DISPLAY=offscreen measures on Qt's offscreen screen (800 x 600) instead.
set -euo pipefail
# Callable from anywhere: the script re-runs itself by its full path, a build folder given is taken
# from the caller's folder, the default one from the repository.
script=$(realpath "$0")
. "$(dirname "$script")/boxrun.sh"
boxrun_isolate "$script" "$@"
export MG_XVFB_DISPLAY=${MG_XVFB_DISPLAY:-auto}
[ "$MG_XVFB_DISPLAY" = offscreen ] && MG_XVFB_DISPLAY=

build=$(realpath "${1:-$(dirname "$script")/../build/release}")
cd "$(dirname "$script")/.."
counts=${2:-8 2}
cycles=${MG_CYCLES:-20}
period=${MG_CYCLE_MS:-3000}
[ -x "$build/app/mouldguard" ] || { echo "no $build/app/mouldguard: build the release first" >&2; exit 2; }

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
status_kb() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"; }

for cameras in $counts; do
    box=$build/membox-$cameras
    boxrun_layout "$build" "$box" "$cameras" "$build/shipped/simcam/1" "$build/shipped/simcam/2"
    # Good moulds only, so every cycle is judged and none latches an alarm.
    find "$box"/simcam -name '*foreign*' -delete
    boxrun_start "$build" "$box" "0:1000:$period"
    trap boxrun_stop EXIT
    sleep $(((cycles * period + 4000 + 999) / 1000))
    if ! kill -0 "$BOXRUN_PID" 2>/dev/null; then
        echo "the box with $cameras cameras ended early; see $box/box.out" >&2
        exit 1
    fi
    rss=$(status_kb "$BOXRUN_PID" VmRSS)
    hwm=$(status_kb "$BOXRUN_PID" VmHWM)
    anon=$(awk '$1 == "Anonymous:" { print $2 }' "/proc/$BOXRUN_PID/smaps_rollup")
    # Every mapping's resident size, for a look at where the memory goes.
    cp "/proc/$BOXRUN_PID/smaps" "$box/smaps.txt"
    boxrun_stop
    trap - EXIT

    # The floor, from the picture size, the colour setting and the slots the machine type uses.
    read -r w h < <(file -L "$(ls "$box"/simcam/1/* | head -1)" | sed -nE 's/.*, ([0-9]+)x([0-9]+),.*/\1 \2/p')
    colour=$(sqlite3 "$box/PARAM.db" "select value from sysparam where name = 'system7'" | awk '{ print $2 }')
    [ "$colour" = 1 ] && bpp=4 || bpp=1
    machine=$(sqlite3 "$box/PARAM.db" "select value from sysparam where name = 'numFailDetect'" | awk '{ print $1 }')
    [ "$machine" = 0 ] && slots=2 || slots=4
    templates=0
    for ((c = 1; c <= cameras; ++c)); do
        for ((s = 1; s <= 8; ++s)); do
            n=$(find "$box/cammer$c$s" -name 'template*.bmp' 2>/dev/null | wc -l || true)
            templates=$((templates + (n > 1 ? n : 1)))
        done
    done
    pixels=$((w * h))
    frames=$((3 * bpp * pixels + 2 * pixels))
    masks=$((8 * pixels))
    handover=$((slots * 2 * 4 * pixels))
    floor_per=$((frames + masks + handover))
    floor=$((cameras * floor_per + templates * bpp * pixels))
    printf 'cameras %d at %dx%d, %s, %d slots in use, %d mould cycles, screen %s\n' "$cameras" "$w" "$h" \
        "$([ $bpp = 4 ] && echo colour || echo grey)" "$slots" "$cycles" \
        "$([ -n "$MG_XVFB_DISPLAY" ] && echo "Xvfb 1920x1080" || echo "offscreen 800x600")"
    printf '  floor per camera: frame buffers %s MB, ignore masks %s MB, hand-over %s MB; templates %d in all, %s MB\n' \
        "$(mb $((frames / 1024)))" "$(mb $((masks / 1024)))" "$(mb $((handover / 1024)))" "$templates" \
        "$(mb $((templates * bpp * pixels / 1024)))"
    printf '  floor %s MB; RSS %s MB (anonymous %s MB, peak %s MB); above the floor %s MB\n' \
        "$(mb $((floor / 1024)))" "$(mb "$rss")" "$(mb "$anon")" "$(mb "$hwm")" "$(mb $((rss - floor / 1024)))"
done
