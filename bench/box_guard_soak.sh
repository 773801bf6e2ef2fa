#!/usr/bin/env bash
# A healthy release box run for a long time, counting how often the stalled-cycle guard trips: it must
# not trip on a box whose cycle reads every opening, however long its judgements take.
#
#     bench/box_guard_soak.sh [build dir (build/release)] [seconds (3600)] [cpus (all)]
#
# Eight simulated cameras, each with the sample regions of camera 1 or 2 (the pictures it serves) and
# image registration on; the region editor opened 8 s after start and left open; good moulds only, a
# mould opening (input 0 for 1 s) every MG_CYCLE_MS (6000) ms. With a cpu list (taskset syntax, e.g.
# "3") the box runs on those alone: on one core the eight cameras' judgement takes as long as one after
# another. Prints the openings played, the clamp releases the board received, the guard's trips (log
# lines) and stall record lines, and the longest gap of the GUI thread (bench/guiprobe). On an Xvfb of
# its own at 1920 x 1080, in a network namespace, as root. Not part of CI: an hour by default.
set -euo pipefail
script=$(realpath "$0")
. "$(dirname "$script")/boxrun.sh"
# Its own lock: an hour on the shared benchmark lock would hold every timed run of the machine back.
export MG_BENCH_LOCK=${MG_BENCH_LOCK:-/tmp/mouldguard-soak-${3:-all}.lock}
boxrun_isolate "$script" "$@"
export MG_XVFB_DISPLAY=${MG_XVFB_DISPLAY:-auto}
build=$(realpath "${1:-$(dirname "$script")/../build/release}")
seconds=${2:-3600}
cpus=${3:-}
period=${MG_CYCLE_MS:-6000}
cd "$(dirname "$script")/.."
[ -x "$build/app/mouldguard" ] || { echo "no $build/app/mouldguard: build the release first" >&2; exit 2; }
box=$build/guard-soak-box-${cpus:-all}
probe=$build/guiprobe.so
g++ -std=c++17 -O1 -shared -fPIC bench/guiprobe/guiprobe.cpp -o "$probe" $(pkg-config --cflags --libs Qt5Widgets)
boxrun_layout "$build" "$box" 8 "$build/shipped/simcam/1" "$build/shipped/simcam/2"
find "$box"/simcam -name '*foreign*' -delete
# Cameras 3-8 get the regions of the camera whose pictures they serve; system12's first number is the
# angle correction (image registration), system4's "Template auto update": the first good moulds become
# the templates that registration registers onto.
sql="update sysparam set value = '1' || substr(value, 2) where name in ('system12', 'system4');"
for ((n = 3; n <= 8; ++n)); do
    sql+="delete from cammer$((n - 1)); insert into cammer$((n - 1)) select * from cammer$(((n - 1) % 2));"
done
sqlite3 "$box/PARAM.db" "$sql"
BOXRUN_ENV=(MG_GUIPROBE_OUT="$box/guiprobe.txt" LD_PRELOAD="$probe"
    MG_GUIPROBE_STEPS="8:invoke:DeVeWizard::SlotAdjustArea;20:grab:$box/editor.png")
BOXRUN_SIM_ARGS=(--record frames.txt)
boxrun_start "$build" "$box" "0:1000:$period"
trap boxrun_stop EXIT
if [ -n "$cpus" ]; then
    taskset -a -p -c "$cpus" "$BOXRUN_PID" >/dev/null
fi
sleep "$seconds"
alive=yes
kill -0 "$BOXRUN_PID" 2>/dev/null || alive=no
boxrun_stop
trap - EXIT
cd "$box"
log=cnt_net/workspace/LOG/log.txt
openings=$(((seconds * 1000 + period - 1) / period))
# The first release is the start of detection; every judged opening blocks the clamp, then releases it.
read -r blocks releases < <(awk '$2 == 1 && $3 != last { if ($3 == "0x00f5") b++; if ($3 == "0x00f4") r++; last = $3 }
    END { print b + 0, r + 0 }' frames.txt)
trips=$(grep -c "Cycle stalled" "$log" 2>/dev/null || true)
records=$(sqlite3 RECORD.db "select count(*) from RECORD where remarks like '%开模信号等待%' or remarks like '%mould opening waited%'")
echo "guard soak: ${seconds} s, 8 cameras, registration on, editor open, cpus ${cpus:-all}; box alive: $alive"
echo "  openings played $openings; the board got clamp blocked $blocks times, released $releases (1 at start)"
echo "  other words: $(awk '$2 == 1 && $3 != "0x00f4" && $3 != "0x00f5"' frames.txt | wc -l)"
echo "  guard trips $trips (log), stall record lines $records"
awk '$2 != "step" && $1 >= 30 { if ($2 > max) max = $2 } END { print "  longest GUI gap after 30 s: " max " ms" }' guiprobe.txt
grep -E "Cycle stalled|read after" "$log" 2>/dev/null | head -5 | sed 's/^/  log: /' || true
