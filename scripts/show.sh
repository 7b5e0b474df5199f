#!/usr/bin/env bash
# Builds the show and its tools (in build/release) and runs the show; arguments go to the
# program (scripts/show.sh --version builds everything and opens no window).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMUSICDISK_TESTS=OFF -DMUSICDISK_BENCH=OFF > /dev/null
cmake --build build/release -j"$(nproc)"
exec build/release/driver/musicdisk "$@"
