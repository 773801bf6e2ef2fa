#!/usr/bin/env bash
# Builds the tests labelled "thread" (test files whose name contains "thread") with ThreadSanitizer in
# build/tsan and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
    -DMG_TSAN=ON -DMG_SANITIZE=OFF -DMG_TESTS=ON -DMG_BENCH=OFF >/dev/null
# CTest names folder/tst_x build from targets folder_tst_x.
mapfile -t targets < <(cd build/tsan && ctest -N -L thread | sed -n 's/^ *Test *#[0-9]*: *\([^ ]*\)$/\1/p' | tr / _)
if [ ${#targets[@]} -eq 0 ]; then
    echo "tsan.sh: no tests labelled thread" >&2
    exit 1
fi
cmake --build build/tsan -j4 --target "${targets[@]}"
cd build/tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/../../tests/tsan.supp ${TSAN_OPTIONS:-}" QT_QPA_PLATFORM=offscreen \
    ctest -L thread --output-on-failure --timeout 900
