# Shared by the box measurements (box_memory.sh, box_idle.sh); sourced, not run.
# Lays out a working directory like the run command's, with simulated cameras, and starts the release
# box there against the board simulator, all inside a network namespace of its own.

# Re-runs the calling script inside a network namespace with only a loopback device (up, with the
# default route on it), so the box's fixed ports never meet another box on this machine, holding the
# benchmark lock (MG_BENCH_LOCK, /tmp/mouldguard-bench.lock) so that no two timed runs overlap. With
# BOXRUN_MOUNT_NS=1 set by the caller, the script also gets a mount namespace of its own.
boxrun_isolate() {
    if [ -z "${MG_BOXRUN_NETNS:-}" ]; then
        export MG_BOXRUN_NETNS=1
        local spaces=-n
        [ "${BOXRUN_MOUNT_NS:-}" = 1 ] && spaces=-nm
        exec flock "${MG_BENCH_LOCK:-/tmp/mouldguard-bench.lock}" unshare $spaces sh -c '/usr/sbin/ip link set lo up && /usr/sbin/ip route add default dev lo && exec "$0" "$@"' \
            "$@"
    fi
}

# boxrun_layout <build dir> <box dir> <cameras> <picture folder>...
# Every camera n serves the pictures of the given folders' (taken in turn) in simcam/<n>/.
boxrun_layout() {
    local build=$1 box=$2 cameras=$3
    shift 3
    local shipped=$build/shipped
    rm -rf "$box"
    mkdir -p "$box/images" "$box/paraGroup/default" "$box/cnt_net" "$box/help" "$box/help-en"
    cp "$build/app/mouldguard" "$box/"
    cp "$shipped"/images/*.png "$shipped"/images/*.bmp "$box/images/"
    for db in "$shipped"/*.db; do
        cp "$db" "$box/paraGroup/default/"
        cp "$db" "$box/"
    done
    cp "$shipped"/20clearsh.tar.gz "$box/paraGroup/default/"
    chmod u+w "$box"/*.db "$box"/paraGroup/default/*.db
    cp "$shipped"/help/*.png "$box/help/"
    cp "$shipped"/help-en/*.png "$box/help-en/"
    cp "$shipped/conf.txt" "$box/"
    cp "$build/tools/pynet_monitor/pynet_monitor" "$box/cnt_net/"
    printf '{\n    "device_worknetfunc": true,\n    "device_workvideo": false\n}\n' >"$box/cnt_net/config.json"
    local folders=("$@") n
    for ((n = 1; n <= cameras; ++n)); do
        mkdir -p "$box/simcam/$n"
        cp "${folders[(n - 1) % ${#folders[@]}]}"/* "$box/simcam/$n/"
    done
    "$build/tools/simregions/simregions" "$box/PARAM.db" 1920 1080 >/dev/null || true
}

# boxrun_start <build dir> <box dir> <cycle>: starts the board simulator (input 0 as --cycle says,
# e.g. 0:1000:3000; empty: no mould opening) and the box; sets BOXRUN_PID and BOXRUN_SIM_PID, and
# BOXRUN_STARTED_NS (date +%s%N as the box was started). A display of MG_XVFB_DISPLAY (a number, or
# "auto" for a free one) gets an Xvfb of the box's screen size; without one the offscreen platform
# draws. The caller's array BOXRUN_ENV (NAME=value words, e.g. a probe to preload) is added to the
# box's environment, its array BOXRUN_SIM_ARGS (e.g. --record frames.txt) to the board simulator's.
boxrun_start() {
    local build=$1 box=$2 cycle=$3
    local here=$PWD
    local extra=("${BOXRUN_ENV[@]+"${BOXRUN_ENV[@]}"}")
    cd "$box"
    rm -f dev/ttyS*
    local plan=()
    [ -n "$cycle" ] && plan=(--cycle "$cycle")
    "$build/tools/boardsim/boardsim" --link "./dev/ttyS%1" --param-db PARAM.db "${plan[@]}" \
        "${BOXRUN_SIM_ARGS[@]+"${BOXRUN_SIM_ARGS[@]}"}" >boardsim.out 2>&1 &
    BOXRUN_SIM_PID=$!
    for _ in $(seq 50); do
        compgen -G "dev/ttyS*" >/dev/null && break
        sleep 0.1
    done
    BOXRUN_XVFB_PID=
    if [ -n "${MG_XVFB_DISPLAY:-}" ]; then
        local display=${MG_XVFB_DISPLAY#:}
        if [ "$display" = auto ]; then
            # Xvfb takes the first free display and writes its number to the pipe.
            local fifo=$box/xvfb.display
            rm -f "$fifo" && mkfifo "$fifo"
            Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
            BOXRUN_XVFB_PID=$!
            read -r -t 10 display <"$fifo" || { echo "Xvfb did not start" >&2; return 1; }
        else
            Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
            BOXRUN_XVFB_PID=$!
        fi
        sleep 1
        BOXRUN_STARTED_NS=$(date +%s%N)
        DISPLAY=":$display" QT_QPA_PLATFORM=xcb MG_BOX_ANSWERS=0 env "${extra[@]}" ./mouldguard >box.out 2>&1 &
    else
        BOXRUN_STARTED_NS=$(date +%s%N)
        QT_QPA_PLATFORM=offscreen MG_BOX_ANSWERS=0 env "${extra[@]}" ./mouldguard >box.out 2>&1 &
    fi
    BOXRUN_PID=$!
    cd "$here"
}

# Ends what boxrun_start started (the box first, through its normal quit path).
boxrun_stop() {
    kill -TERM "$BOXRUN_PID" 2>/dev/null || true
    for _ in $(seq 100); do
        kill -0 "$BOXRUN_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$BOXRUN_PID" 2>/dev/null || true
    kill "$BOXRUN_SIM_PID" 2>/dev/null || true
    if [ -n "$BOXRUN_XVFB_PID" ]; then kill "$BOXRUN_XVFB_PID" 2>/dev/null || true; fi
    wait 2>/dev/null || true
}
