#!/usr/bin/env bash
# Fuzzes the I/O board frame scanner with libFuzzer (clang) for the given number of seconds (default
# 60). New interesting inputs collect in build/fuzz/corpus; copy the ones worth keeping into
# tests/fuzz/corpus/ioframescanner so that every test build replays them. Crashes land in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed (./scripts/deps.sh installs it)" >&2
    exit 1
fi
out=build/fuzz
mkdir -p "$out/corpus"
# The scanner needs only Qt's integer types, not its libraries.
clang++ -std=c++17 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    $(pkg-config --cflags Qt5Core) -DQT_NO_VERSION_TAGGING -Icore \
    tests/fuzz/fuzz_ioframescanner.cpp core/ioframes.cpp -o "$out/fuzz_ioframescanner"
cd "$out"
./fuzz_ioframescanner -max_total_time="$seconds" -print_final_stats=1 \
    corpus ../../tests/fuzz/corpus/ioframescanner 2>&1 | tee fuzz_ioframescanner.log | tail -n 25
