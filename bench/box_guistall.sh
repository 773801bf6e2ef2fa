#!/usr/bin/env bash
# The release box with its main (GUI) thread stopped across a mould opening, as a shell command run on
# that thread (the USB export or update) or a long judgement stops it: what the board is told.
#
#     bench/box_guistall.sh [build dir (build/release)] [stall seconds (3)]
#
# One simulated camera sees a piece of plastic in the mould, under one region over the left cavity. 15 s after the board simulator starts,
# input 0 goes on for 1 s (the opening); the box's main thread is stopped (ptrace, bench/stallmain.py)
# from 1 s before it for the stall given, its other threads run on. Prints the output words the board
# received from 2 s before the opening on, with their times from the opening, and the box's lines about
# it. On the offscreen platform (the region is placed for its 800 x 600 screen, as in the interlock
# test), in a network namespace, as root.
set -euo pipefail
script=$(realpath "$0")
. "$(dirname "$script")/boxrun.sh"
boxrun_isolate "$script" "$@"
export MG_XVFB_DISPLAY=
build=$(realpath "${1:-$(dirname "$script")/../build/release}")
stall_ms=$(awk -v s="${2:-3}" 'BEGIN { printf "%d", s * 1000 }')
cd "$(dirname "$script")/.."
[ -x "$build/app/mouldguard" ] || { echo "no $build/app/mouldguard: build the release first" >&2; exit 2; }
box=$build/guistall-box
boxrun_layout "$build" "$box" 1 "$build/shipped/simcam/1"
find "$box/simcam/1" -type f ! -name '03_foreign.jpg' -delete
# One re-detection before the alarm latches; camera 1's mould slot: grey 215 and above over more than 500
# pixels of the left cavity is NG.
sqlite3 "$box/PARAM.db" "update sysparam set value='0 0 0 -1 0 0 1 0 0' where name='system1';
    delete from cammer0; insert into cammer0 values('detect1', '1');
    insert into cammer0 values('ROI1-0', '0 215 500 5 1 0 0 96 132 440 372');"
opening_ms=15000
printf '%d 1\n1000 0\n' "$opening_ms" >"$box/opening.txt"
BOXRUN_SIM_ARGS=(--script opening.txt --record frames.txt)
started_ns=$(date +%s%N)
boxrun_start "$build" "$box" ""
trap boxrun_stop EXIT
# The simulator's clock starts within a few ms of started_ns.
sleep "$(awk -v t="$started_ns" -v n="$(date +%s%N)" -v o="$opening_ms" 'BEGIN { printf "%.3f", (o - 1000) / 1000 - (n - t) / 1e9 }')"
python3 bench/stallmain.py "$BOXRUN_PID" "$stall_ms"
sleep 8
alive=yes
kill -0 "$BOXRUN_PID" 2>/dev/null || alive=no
boxrun_stop
trap - EXIT
echo "main thread stopped ${stall_ms} ms from 1 s before a 1 s opening (a piece in view); box alive: $alive"
awk -v o="$opening_ms" '$2 == 1 && $1 < o { held = $3 } END { print "  held at the opening: " held }' \
    "$box/frames.txt"
echo "  words the board received after it (ms from the opening):"
awk -v o="$opening_ms" '$2 == 1 && $3 != last { if ($1 >= o) printf "    %+6d %s\n", $1 - o, $3; last = $3 }' \
    "$box/frames.txt"
grep -E "Cycle stalled|NG|alarm" "$box/cnt_net/workspace/LOG/log.txt" 2>/dev/null | tail -6 |
    sed 's/^/  log: /' || true
