#!/usr/bin/env bash
# Builds the show and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DMUSICDISK_TESTS=OFF -DMUSICDISK_BENCH=OFF > /dev/null
cmake --build build/release -j"$(nproc)" --target musicdisk
exec build/release/driver/musicdisk
