#!/usr/bin/env bash
# CPU time of a quiet release box (no mould openings) with simulated cameras whose pictures differ
# every frame, per thread, from /proc/<pid>/task/*/stat. The simulated cameras' capture threads
# ("simcam capture") stand in for camera hardware and are counted apart from the box's own threads.
#
#   bench/box_idle.sh [build dir (build/release)] [cameras (2)] [seconds (60)] [size (1920x1080)]
# MG_XVFB_DISPLAY=<n> draws on an Xvfb of its own at :<n>, otherwise the offscreen platform draws.
# The machine may be shared: compare the CPU seconds of two builds, not wall time, and repeat.
set -euo pipefail
# Callable from anywhere: the script re-runs itself by its full path, a build folder given is taken
# from the caller's folder, the default one from the repository.
script=$(realpath "$0")
. "$(dirname "$script")/boxrun.sh"
boxrun_isolate "$script" "$@"

build=$(realpath "${1:-$(dirname "$script")/../build/release}")
cd "$(dirname "$script")/.."
cameras=${2:-2}
seconds=${3:-60}
size=${4:-1920x1080}
[ -x "$build/app/mouldguard" ] || { echo "no $build/app/mouldguard: build the release first" >&2; exit 2; }
[[ "$size" =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "size must read <width>x<height>" >&2; exit 2; }

# Three noisy grey pictures of the size asked for, as 24-bit BMP files: served in turn, so every frame
# differs from the one before.
pictures=$build/idlepictures-$size
if [ ! -d "$pictures" ]; then
    mkdir -p "$pictures"
    python3 - "$pictures" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}" <<'EOF'
import random, struct, sys
folder, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
stride = (3 * w + 3) & ~3
for n in range(3):
    rnd = random.Random(n)
    noise = bytes(rnd.randrange(60, 200) for _ in range(stride + 4096))
    rows = b"".join(noise[(y * 97) % 4096:(y * 97) % 4096 + stride] for y in range(h))
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(f"{folder}/{n + 1:02d}.bmp", "wb") as f:
        f.write(header + info + rows)
EOF
fi

box=$build/idlebox-$cameras
boxrun_layout "$build" "$box" "$cameras" "$pictures"
boxrun_start "$build" "$box" ""
trap boxrun_stop EXIT
sleep 10 # start-up, training and the first paint are not the quiet box

# <tid> <name> <utime + stime in clock ticks> per thread
threads() {
    local t
    for t in /proc/"$BOXRUN_PID"/task/*; do
        # The name is in parentheses and may hold blanks.
        sed -E 's/^([0-9]+) \((.*)\) [A-Za-z] (([^ ]+ ){10})([0-9]+) ([0-9]+) .*/\1 \2|\5 \6/' "$t/stat" 2>/dev/null |
            awk -F'|' '{ split($2, t, " "); print $1 "|" t[1] + t[2] }'
    done
}
threads >"$box/cpu.start"
sleep "$seconds"
threads >"$box/cpu.end"
kill -0 "$BOXRUN_PID" 2>/dev/null || { echo "the box ended early; see $box/box.out" >&2; exit 1; }
boxrun_stop
trap - EXIT

hz=$(getconf CLK_TCK)
awk -F'|' -v hz="$hz" -v s="$seconds" -v cams="$cameras" -v size="$size" '
    NR == FNR { start[$1] = $2; next }
    {
        used = ($2 - start[$1]) / hz
        split($1, id, " "); name = substr($1, length(id[1]) + 2)
        if (name == "simcam capture") cam += used; else { own += used; per[name] += used }
    }
    END {
        printf "%d cameras at %s, %d s quiet: box threads %.2f CPU s (%.1f %% of a core), simulated cameras %.2f CPU s\n",
            cams, size, s, own, 100 * own / s, cam
        for (n in per) if (per[n] >= 0.05) printf "  %-16s %6.2f s\n", n, per[n]
    }' "$box/cpu.start" "$box/cpu.end"
