#!/usr/bin/env bash
# Fuzzes one parser with libFuzzer (clang) for the given number of seconds (default 60):
#   ./scripts/fuzz.sh [seconds] [target]
# Targets: ioframescanner (I/O board frames, the default), acamack (camera protocol acks and the
# address planner), druframe (text protocol frames), tcpreceive (the TCP message receiving side).
# New interesting inputs collect in build/fuzz/corpus-<target>; copy the ones worth keeping into
# tests/fuzz/corpus/<target> so that every test build replays them. Crashes land in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
target=${2:-ioframescanner}
cflags=()
options=()
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed (./scripts/deps.sh installs it)" >&2
    exit 1
fi
case "$target" in
    # The scanner needs only Qt's integer types, not its libraries.
    ioframescanner) sources=(core/ioframes.cpp); libs=() ;;
    acamack) sources=(network/acamprotocol.cpp network/udpaddress.cpp core/clock.cpp)
             libs=($(pkg-config --libs Qt5Core)) ;;
    druframe) sources=(network/druprotocol.cpp); libs=($(pkg-config --libs Qt5Core)) ;;
    # The receive step also needs Qt Network's socket types, OpenCV's core and the records' moc.
    tcpreceive) sources=(network/tcpreceive.cpp network/tcprecords.cpp core/clock.cpp build/fuzz/moc_tcprecords.cpp)
                cflags=($(pkg-config --cflags Qt5Network opencv4))
                libs=($(pkg-config --libs Qt5Core Qt5Network) -lopencv_core)
                # Far above libFuzzer's 4,096-byte default: part heads and bodies of a megabyte and more.
                options=(-max_len=2000000) ;;
    *) echo "fuzz.sh: unknown target $target" >&2; exit 1 ;;
esac
out=build/fuzz
corpus=corpus-$target
[ "$target" = ioframescanner ] && corpus=corpus
mkdir -p "$out/$corpus"
[ "$target" = tcpreceive ] && "$(pkg-config --variable=host_bins Qt5Core)/moc" network/tcprecords.h -o "$out/moc_tcprecords.cpp"
clang++ -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    $(pkg-config --cflags Qt5Core) "${cflags[@]}" -DQT_NO_VERSION_TAGGING -Icore -Inetwork \
    "tests/fuzz/fuzz_$target.cpp" "${sources[@]}" "${libs[@]}" -o "$out/fuzz_$target"
cd "$out"
"./fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 "${options[@]}" \
    "$corpus" "../../tests/fuzz/corpus/$target" 2>&1 | tee "fuzz_$target.log" | tail -n 25
