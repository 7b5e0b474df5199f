#!/usr/bin/env bash
# The show in a web page, compiled to WebAssembly with Debian's Emscripten:
#   1. a native build of the tools the build itself runs (build/web-host), unless
#      MUSICDISK_HOST_TOOLS names a native build folder that has them (scripts/test.sh
#      passes its own);
#   2. the cross build (build/web-cmake), whose page is copied into build/web: index.html,
#      musicdisk.js, musicdisk.wasm and disk.bin (empty: the built-in disk), all a static
#      file host needs.
# scripts/web.sh --serve [PORT] builds, then serves build/web on http://localhost:PORT/
# (default 8000) with Python's standard library until interrupted.
# WEB_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."
serve=0
port=8000
while [ $# -gt 0 ]; do
  case "$1" in
    --serve) serve=1; if [ $# -gt 1 ] && [[ "$2" =~ ^[0-9]+$ ]]; then port="$2"; shift; fi ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "web.sh: unknown argument '$1' (want --serve [PORT])" >&2; exit 2 ;;
  esac
  shift
done
scripts/install-deps.sh
jobs="${WEB_JOBS:-2}"
start=$(date +%s)
step() { echo; echo "=== web: $* ($(( $(date +%s) - start )) s)"; }

# Emscripten's optimiser runs on node and needs Debian's acorn, which a node from elsewhere
# on the PATH does not find by itself.
export NODE_PATH="${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs"
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

host="${MUSICDISK_HOST_TOOLS:-}"
# The tools the page's build runs (without the tests it needs no test tunes).
tools=(md-embed tunetool tuneembed picturetool md-fontembed md-textembed md-labelcheck)
if [ -z "$host" ]; then
  host="$PWD/build/web-host"
  step "native build-time tools"
  cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMUSICDISK_BENCH=OFF -DMUSICDISK_TESTS=OFF \
    -DMUSICDISK_SDL=OFF "${launcher[@]}" > /dev/null
fi
cmake --build "$host" -j"$jobs" --target "${tools[@]}"

step "WebAssembly build"
cross=build/web-cmake
# One compile unit per folder: each em++ start costs more than most of the files it compiles.
# WebAssembly's 128-bit vectors (every current browser has them) let the compiler vectorise
# the pixel loops as it does with SSE2 natively.
emcmake cmake -S . -B "$cross" -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-msimd128 -DCMAKE_CXX_FLAGS=-msimd128 -DMUSICDISK_SDL=OFF -DMUSICDISK_TESTS=OFF \
  -DMUSICDISK_BENCH=OFF -DMUSICDISK_TOOLS=OFF -DMUSICDISK_HOST_TOOLS="$host" -DCMAKE_UNITY_BUILD=ON \
  -DCMAKE_UNITY_BUILD_BATCH_SIZE=0 "${launcher[@]}" > /dev/null
cmake --build "$cross" -j"$jobs" --target musicdisk

page=build/web
rm -rf "$page"
mkdir -p "$page"
cp "$cross/driver/index.html" "$cross/driver/musicdisk.js" "$cross/driver/musicdisk.wasm" "$cross/driver/disk.bin" "$page/"
step "the page, in build/web"
for f in "$page"/*; do
  printf '  %-16s %8d bytes, %8d gzip-compressed\n' "$(basename "$f")" "$(stat -c %s "$f")" "$(gzip -9c "$f" | wc -c)"
done
printf '  %-16s %8d bytes, %8d gzip-compressed\n' "all" "$(cat "$page"/* | wc -c)" \
  "$(for f in "$page"/*; do gzip -9c "$f"; done | wc -c)"

if [ "$serve" = 1 ]; then
  step "serving http://localhost:$port/ (Ctrl+C ends)"
  exec python3 -m http.server "$port" --bind 127.0.0.1 --directory "$page"
fi
