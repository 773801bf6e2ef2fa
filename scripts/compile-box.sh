#!/usr/bin/env bash
# Compiles the box configuration (-DMG_BOX_BUILD=ON: the branches that run reboot, mount, date, ip ...
# for real and reach the box's own devices) so that CI sees them build. Compile and link only: nothing
# of this build is run, and it has no tests (the box configuration refuses them). Without optimisation
# or debug information, so that it costs CI as little as it can; ccache keeps repeated runs short.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build/box-compile -DMG_BOX_BUILD=ON -DMG_TESTS=OFF -DMG_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS="-O0" -DCMAKE_C_FLAGS="-O0" >/dev/null
cmake --build build/box-compile -j "$(nproc)"
