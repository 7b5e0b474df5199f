#!/usr/bin/env bash
# The show for Windows, built here with MinGW-w64 and tested under Wine:
#   1. a native build of the tools the build itself runs (build/windows/host);
#   2. the cross build of the program, musicdisk-make and the test suite for 64-bit Windows
#      (build/windows; the program is build/windows/driver/musicdisk.exe, the disk maker
#      build/windows/tools/make/musicdisk-make.exe, both statically linked);
#   3. the 32-bit program, compiled only (build/windows/i686);
#   4. the test suite under Wine, then the program under Wine on a virtual X server: its
#      window, fullscreen and back, a failed mode switch, and its sound into a file; and a disk
#      made by musicdisk-make.exe, shown and heard the same way.
# WINDOWS_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs="${WINDOWS_JOBS:-2}"
start=$(date +%s)
step() { echo; echo "=== windows: $* ($(( $(date +%s) - start )) s)"; }

host=build/windows/host
cross=build/windows
program="$PWD/$cross/driver/musicdisk.exe"
make_exe="$PWD/$cross/tools/make/musicdisk-make.exe"
common=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DMUSICDISK_BENCH=OFF -DMUSICDISK_TOOLS=OFF)
if command -v ccache > /dev/null; then
  common+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

step "native build-time tools and the Wine tests"
cmake -S . -B "$host" "${common[@]}" -DMUSICDISK_SDL=OFF -DMUSICDISK_WINDOWS_PROGRAM="$program" \
  -DMUSICDISK_WINDOWS_MAKE="$make_exe" > /dev/null
cmake --build "$host" -j"$jobs" --target md-embed tunetool picturetool md-labelcheck wine_window_test md-xprobe \
  wine_make_test

# The Windows builds leave out debugging information: it would double their objects and
# slow every link, and nothing here debugs them.
windows=("${common[@]}" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
         -DMUSICDISK_HOST_TOOLS="$PWD/$host")

step "cross build for 64-bit Windows"
cmake -S . -B "$cross" "${windows[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake > /dev/null
cmake --build "$cross" -j"$jobs"

step "32-bit Windows program (compiled, not run: Debian's Wine here is 64-bit only)"
cmake -S . -B "$cross/i686" "${windows[@]}" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
  -DMUSICDISK_TESTS=OFF > /dev/null
cmake --build "$cross/i686" -j"$jobs" --target musicdisk

step "Wine prefix"
export WINEPREFIX="$PWD/$cross/wine" WINEDEBUG=-all
# No installer dialogs for .NET and the HTML engine, which nothing here needs.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  DISPLAY= wineboot -i > /dev/null 2>&1 || true
fi
wineserver -w

step "the test suite under Wine"
(unset DISPLAY; ctest --test-dir "$cross" -j"$jobs" --output-on-failure --timeout 900)
wineserver -k 2> /dev/null || true
wineserver -w

step "the program under Wine on a virtual X server"
ctest --test-dir "$host" -L wine --output-on-failure --timeout 600

step "windows: all passed"
