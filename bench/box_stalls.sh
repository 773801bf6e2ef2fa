#!/usr/bin/env bash
# The GUI thread of the release box under the inputs a hostile peer or a careless user gives it, one
# case per run. The machine cycle runs on the GUI thread, so its longest gap is how late the interlock
# can be. A probe loaded into the box (bench/guiprobe, LD_PRELOAD) notes every second the longest gap
# between ticks of a 10 ms timer and drives the box where a case needs a page opened.
#
#     bench/box_stalls.sh <case> [build/release] [seconds 30]
#
# Cases:
#   replies  the reporting process answers every heartbeat with 4.8 million keys (62 MB)
#   config   cnt_net/config.json of 1.2 GB at start (start-up time, peak memory, what is left)
#   record   the record page opened on a day of 6 million lines
#   saveall  "Save all as test images" checked while moulds are judged every 3 s
#   cards    the network dialog opened on a wired card file of 10 MB (own mount namespace, own /etc)
#   listing  the version library opened on an update server whose model page nests 25,000 elements
#   quiet    moulds judged every 3 s, nothing else: the baseline
# Prints the longest gap after start-up, the box's peak resident memory and the case's own figures.
# Runs in a network namespace of its own (and, for cards, a mount namespace), as root.
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/boxrun.sh
BOXRUN_MOUNT_NS=1
boxrun_isolate "$0" "$@"
case=${1:?case}
build=$(realpath -m "${2:-build/release}")
seconds=${3:-30}
box=$build/box-stalls-$case
probe=$build/guiprobe.so
g++ -std=c++17 -O1 -shared -fPIC bench/guiprobe/guiprobe.cpp -o "$probe" $(pkg-config --cflags --libs Qt5Widgets)
boxrun_layout "$build" "$box" 2 "$build/shipped/simcam/1" "$build/shipped/simcam/2"
# Good moulds only, so every cycle is judged and none latches an alarm.
find "$box"/simcam -name '*foreign*' -delete
steps=
cycle=
server=
case $case in
replies)
    cp bench/stalls/hostile_monitor.py "$box/cnt_net/pynet_monitor"
    # Its 62 MB reply is made now, not while the box waits for it.
    (cd "$box" && python3 cnt_net/pynet_monitor --make-reply)
    ;;
config)
    python3 - "$box/cnt_net/config.json" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b'{"device_worknetfunc": true, "device_workvideo": false, "pad": "')
    chunk = b"x" * (1 << 20)
    for _ in range(1200):
        f.write(chunk)
    f.write(b'"}\n')
PY
    ;;
record)
    python3 - "$box/RECORD.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
rows = ((f"{i // 3600 % 24:02d}.{i // 60 % 60:02d}.{i % 60:02d}", "未登录", f"line {i}") for i in range(6_000_000))
db.executemany("insert into RECORD values(?, ?, ?)", rows)
db.commit()
PY
    steps="12:invoke:WizardParaWidget::show;12:invoke:WizardParaWidget::raise;13:invoke:WizardParaWidget::SlotToRecord;16:grab:record-page.png"
    ;;
saveall)
    cycle=0:1000:3000
    steps="3:check:saveFrameImages;4:invoke:WizardParaWidget::accept"
    ;;
cards)
    mkdir -p "$box/sys-netplan"
    python3 - "$box/sys-netplan/netplan_prejson.txt" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write('{"pad": "' + "x" * 10_000_000 + '", "netcard_info": [{"name": "lo", "address": "127.0.0.1"}]}')
PY
    # This machine may have no /etc/netplan: the run's own copy of /etc, with one, stands in for /etc
    # inside the run's mount namespace; the machine's /etc is not touched.
    mkdir -p "$box/etc"
    cp -a /etc/. "$box/etc/" 2>/dev/null || true
    mkdir -p "$box/etc/netplan"
    cp "$box/sys-netplan/netplan_prejson.txt" "$box/etc/netplan/"
    mount --bind "$box/etc" /etc
    steps="12:invoke:WizardParaWidget::SlotToNetwork"
    ;;
listing)
    # The build's default update server, on loopback inside the run's network namespace.
    mkdir -p "$box/updateserver/monitor/M1"
    printf '<html><body>\r\n<a href="M1/">M1/</a>   01-Jan-2024 10:00       -\r\n</body></html>\r\n' \
        >"$box/updateserver/monitor/index.html"
    python3 -c 'import sys; n = 25000; sys.stdout.write("<html><body>" + "<a>" * n + "V17/   x\r\n" + "</a>" * n + "</body></html>")' \
        >"$box/updateserver/monitor/M1/index.html"
    (cd "$box/updateserver" && exec python3 -m http.server 8089 --bind 127.0.0.1 >/dev/null 2>&1) &
    server=$!
    steps="12:invoke:WizardParaWidget::SlotToVerion"
    ;;
quiet) cycle=0:1000:3000 ;;
*)
    echo "unknown case $case" >&2
    exit 2
    ;;
esac

BOXRUN_ENV=(MG_GUIPROBE_OUT="$box/guiprobe.txt" MG_GUIPROBE_STEPS="$steps" LD_PRELOAD="$probe")
boxrun_start "$build" "$box" "$cycle"
# The update server first: boxrun_stop waits for every process the script started.
stop_all() {
    if [ -n "$server" ]; then kill "$server" 2>/dev/null || true; fi
    boxrun_stop
}
trap stop_all EXIT
cd "$box"
pid=$BOXRUN_PID
started=$BOXRUN_STARTED_NS
for _ in $(seq 600); do
    [ -s guiprobe.txt ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
done
loop_ms=$((($(date +%s%N) - started) / 1000000))
sleep "$seconds"
hwm=$(grep VmHWM /proc/$pid/status 2>/dev/null | awk '{print $2 / 1024 " MB"}' || echo "gone")
alive=yes
kill -0 "$pid" 2>/dev/null || alive=no
stop_all
trap - EXIT
# The reporting process the box started (it outlives a killed box).
for p in $(pgrep -f "cnt_net/pynet_monitor" || true); do
    [ "$(readlink /proc/$p/cwd 2>/dev/null)" = "$PWD" ] && kill "$p" 2>/dev/null || true
done
wait 2>/dev/null || true
[ "$case" = cards ] && umount /etc

echo "case $case: box alive at the end: $alive; event loop running after $loop_ms ms; peak memory $hwm"
# Gaps of the first 5 s after the event loop started are start-up work, not the case's.
awk '$2 != "step" && $1 >= 5 { if ($2 > max) max = $2 } $2 == "step" { print "  " $0 }
     END { print "  longest GUI gap after start-up: " max " ms" }' guiprobe.txt
grep -c "" guiprobe.txt >/dev/null
case $case in
config) ls -l cnt_net | sed 's/^/  /' ;;
saveall) echo "  test images saved: $(find originalimage -name '*.bmp' | wc -l)" ;;
esac
grep -iE "dropped|moved aside|not saved|does not parse|crashed|Parse error" "cnt_net/workspace/LOG/log.txt" 2>/dev/null | head -5 | sed 's/^/  log: /' || true
