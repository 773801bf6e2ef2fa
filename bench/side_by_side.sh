#!/usr/bin/env bash
# Runs one benchmark of this tree and the same benchmark source built against an older commit, one
# after the other in turn, so that both see the same load: the way to set figures side by side with an
# older main. The older commit is checked out into build/side-<commit>/src (a git worktree) and built
# in build/side-<commit>/build with this tree's bench sources and test helpers copied over it, so both
# binaries measure the same way. Runs hold the benchmark lock (MG_BENCH_LOCK,
# /tmp/mouldguard-bench.lock) so that no two timed runs on the machine overlap.
#
#   bench/side_by_side.sh <older commit>[,<older commit>...] <bench name, e.g. bench_detectpass> [rounds (2)]
#                         [bench args...]
# Several older commits, separated by commas, are built each in its own folder and run in turn with
# this tree's in every round. This tree's benchmark must be built in build/bench (see README.md).
# MG_SIDE_SRC and MG_SIDE_BUILD name another checkout of the (single) older commit and its build folder
# to use instead.
set -euo pipefail
root=$(realpath "$(dirname "$0")/..")
IFS=, read -r -a commits <<<"${1:?older commit}"
name=${2:?benchmark name}
rounds=${3:-2}
shift $(($# < 3 ? $# : 3))
lock=${MG_BENCH_LOCK:-/tmp/mouldguard-bench.lock}
cd "$root"
[ -x build/bench/bench/$name ] || { echo "no build/bench/bench/$name: build this tree's benchmarks first" >&2; exit 2; }
if [ ${#commits[@]} -gt 1 ] && [ -n "${MG_SIDE_SRC:-}${MG_SIDE_BUILD:-}" ]; then
    echo "MG_SIDE_SRC and MG_SIDE_BUILD name the folders of one older commit only" >&2
    exit 2
fi
declare -A binary
for commit in "${commits[@]}"; do
    side=$root/build/side-$commit
    src=${MG_SIDE_SRC:-$side/src}
    out=${MG_SIDE_BUILD:-$side/build}
    mkdir -p "$side"
    if [ ! -d "$src" ]; then
        git worktree add -f "$src" "$commit" >/dev/null
    fi
    cp bench/*.cpp bench/*.h "$src/bench/"
    cp tests/support/viewresults.h "$src/tests/support/" 2>/dev/null || true
    # Before the grab buffer became an accessor, the view held it as a plain member.
    if ! grep -q 'grabBuffer()' "$src/inspection/cameraviewdata.h"; then
        sed -i 's/grabBuffer()/grabBuffer/g' "$src"/bench/*.cpp "$src"/bench/*.h
    fi
    cmake -S "$src" -B "$out" -DCMAKE_BUILD_TYPE=Release -DMG_BENCH=ON -DMG_TESTS=ON >/dev/null
    cmake --build "$out" -j 3 --target "$name" >"$side/build.log" 2>&1 ||
        { echo "$commit does not build $name with this tree's source; see $side/build.log" >&2; exit 1; }
    binary[$commit]=$out/bench/$name
done
echo "load before: $(uptime)"
for ((r = 1; r <= rounds; ++r)); do
    for which in this "${commits[@]}"; do
        bin=build/bench/bench/$name
        [ "$which" = this ] || bin=${binary[$which]}
        flock "$lock" "$bin" "$@" 2>&1 | grep -E '^(RATIO|CHECK|TABLE|SWEEP|CAMERA)' |
            sed "s/^/[$which, round $r] /"
        echo "[$which, round $r] load after: $(uptime)"
    done
done
echo "load after: $(uptime)"
