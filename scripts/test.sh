#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the threaded tests under ThreadSanitizer,
# each fuzz target for a fixed time (FUZZ_SECONDS, default 20), the web page in headless
# Chromium (scripts/web.sh, tests/web), and the Windows build under Wine (scripts/windows.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="$(nproc)"
fuzz_seconds="${FUZZ_SECONDS:-20}"
start=$(date +%s)

step() { echo; echo "=== $* ($(( $(date +%s) - start )) s)"; }

step "build and test"
cmake -S . -B build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build/ci -j"$jobs"
ctest --test-dir build/ci -j"$jobs" --output-on-failure --timeout 600

step "the web page, built with the tools of build/ci and tested in headless Chromium"
MUSICDISK_HOST_TOOLS="$PWD/build/ci" WEB_JOBS="$jobs" scripts/web.sh
mkdir -p build/web-test
# Debian's python3, which has python3-websocket.
/usr/bin/python3 tests/web/web_test.py build/web build/ci build/web-test/page.png

step "AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DMUSICDISK_SANITIZE=address -DMUSICDISK_BENCH=OFF > /dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j"$jobs" --output-on-failure --timeout 900 -LE slow

step "ThreadSanitizer (threaded tests)"
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DMUSICDISK_SANITIZE=thread -DMUSICDISK_BENCH=OFF \
  -DMUSICDISK_TOOLS=OFF -DMUSICDISK_SDL=OFF > /dev/null
cmake --build build/tsan -j"$jobs" --target md_threads_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" --output-on-failure -L threads --timeout 900

step "fuzz targets, ${fuzz_seconds} s each"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMUSICDISK_FUZZ=ON \
  -DMUSICDISK_TESTS=OFF -DMUSICDISK_BENCH=OFF -DMUSICDISK_SDL=OFF -DMUSICDISK_TOOLS=OFF \
  -DMUSICDISK_SANITIZE=address -DMUSICDISK_FUZZ_SECONDS="$fuzz_seconds" > /dev/null
cmake --build build/fuzz -j"$jobs" --target md_fuzz_targets
ctest --test-dir build/fuzz --output-on-failure -L fuzz

step "Windows: cross-built with MinGW-w64, tested under Wine"
scripts/windows.sh

step "all passed"
