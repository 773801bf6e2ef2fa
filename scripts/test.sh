#!/usr/bin/env bash
# Builds the test configuration (AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
jobs=$(nproc)
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
    -DMG_SANITIZE=ON -DMG_TESTS=ON -DMG_BENCH=ON >/dev/null
cmake --build build/test -j "$jobs"
cd build/test
QT_QPA_PLATFORM=offscreen ctest -j "$jobs" --output-on-failure --timeout 900
