#!/usr/bin/env bash
# The release folder, build/release-dist/, all a user needs to run the show and make disks of
# their own without a compiler:
#   musicdisk               the Linux program
#   musicdisk.exe           the Windows program (64-bit, MinGW-w64, statically linked)
#   musicdisk-windows.zip   the Windows program with README.md, LICENSE and CREDITS
#   web/                    the web page (index.html, musicdisk.js, musicdisk.wasm)
#   musicdisk-make          makes a disk folder into the three programs above (Linux)
#   musicdisk-make.exe      the same for Windows (64-bit, statically linked)
#   musicdisk-make-windows.zip  musicdisk-make.exe with all it takes beside it: the three
#                           programs, builtin-disk/, README.md, LICENSE and CREDITS
#   builtin-disk/           the built-in disk's sources, which `musicdisk-make init` copies
#   tunetool, picturetool, samplecodec, fonttool, musicdisk-capture
#   README.md, LICENSE, CREDITS
# Builds in build/release (native), build/release-windows (cross, with the native build's
# tools) and build/web (scripts/web.sh). Prints each file's size at the end.
#   --no-windows   leave out the Windows programs and their .zip files
#   --no-web       leave out the web page
# RELEASE_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
windows=1
web=1
for a in "$@"; do
  case "$a" in
    --no-windows) windows=0 ;;
    --no-web) web=0 ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "release.sh: unknown argument '$a'" >&2; exit 2 ;;
  esac
done
scripts/install-deps.sh
jobs="${RELEASE_JOBS:-2}"
start=$(date +%s)
step() { echo; echo "=== release: $* ($(( $(date +%s) - start )) s)"; }
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

native="$PWD/build/release"
dist=build/release-dist
tools=(tunetool/tunetool picturetool/picturetool samplecodec/samplecodec font/fonttool capture/musicdisk-capture
       make/musicdisk-make)

step "the Linux program and the tools"
cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DMUSICDISK_TESTS=OFF -DMUSICDISK_BENCH=OFF "${launcher[@]}" > /dev/null
targets=(musicdisk)
for t in "${tools[@]}"; do targets+=("$(basename "$t")"); done
cmake --build "$native" -j"$jobs" --target "${targets[@]}"

rm -rf "$dist"
mkdir -p "$dist/builtin-disk/tunes"
cp "$native/driver/musicdisk" "$dist/"
for t in "${tools[@]}"; do cp "$native/tools/$t" "$dist/"; done
cp README.md LICENSE CREDITS "$dist/"
cp assets/tunes/*.xm "$dist/builtin-disk/tunes/"
cp assets/pictures/logo.png assets/pictures/sprite.png "$dist/builtin-disk/"
cp assets/scroll_text.txt "$dist/builtin-disk/text.txt"

if [ "$windows" = 1 ]; then
  step "the Windows program and musicdisk-make.exe"
  cross=build/release-windows
  cmake -S . -B "$cross" -DCMAKE_BUILD_TYPE=Release -DMUSICDISK_TESTS=OFF -DMUSICDISK_BENCH=OFF -DMUSICDISK_TOOLS=OFF \
    -DMUSICDISK_HOST_TOOLS="$native" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
    "${launcher[@]}" > /dev/null
  cmake --build "$cross" -j"$jobs" --target musicdisk musicdisk-make
  cp "$cross/driver/musicdisk.exe" "$cross/tools/make/musicdisk-make.exe" "$dist/"
  python3 - "$dist" <<'PY'
import sys, zipfile
dist = sys.argv[1]
with zipfile.ZipFile(f"{dist}/musicdisk-windows.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in ("musicdisk.exe", "README.md", "LICENSE", "CREDITS"):
        z.write(f"{dist}/{name}", f"musicdisk/{name}")
PY
fi

if [ "$web" = 1 ]; then
  step "the web page"
  MUSICDISK_HOST_TOOLS="$native" WEB_JOBS="$jobs" scripts/web.sh
  cp -r build/web "$dist/web"
fi

# musicdisk-make.exe finds the programs it copies and the built-in disk's sources beside it.
if [ "$windows" = 1 ]; then
  python3 - "$dist" <<'PY'
import os, sys, zipfile
dist = sys.argv[1]
names = ["musicdisk-make.exe", "musicdisk.exe", "musicdisk", "README.md", "LICENSE", "CREDITS"]
for top in ("web", "builtin-disk"):
    for folder, _, files in os.walk(f"{dist}/{top}"):
        names += [os.path.relpath(f"{folder}/{f}", dist) for f in sorted(files)]
with zipfile.ZipFile(f"{dist}/musicdisk-make-windows.zip", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
    for name in names:
        if os.path.exists(f"{dist}/{name}"):
            z.write(f"{dist}/{name}", f"musicdisk-make/{name}")
PY
fi

step "the release, in $dist"
(cd "$dist" && find . -type f | sort | grep -v '^./builtin-disk/' | while read -r f; do
  printf '  %-28s %10d bytes\n' "${f#./}" "$(stat -c %s "$f")"
done)
printf '  %-28s %10d bytes\n' "builtin-disk/ (all)" "$(cat "$dist"/builtin-disk/*.* "$dist"/builtin-disk/tunes/* | wc -c)"
