#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libsdl2-dev                     # the real window, keyboard and sound
  libgtest-dev libgmock-dev libbenchmark-dev
  libxmp-dev libopenmpt-dev       # benchmark yardsticks only
  clang libclang-rt-dev           # libFuzzer and the sanitizer runtimes
  libpng-dev                      # the font strip PNG and picturetool, both run by the build
  libfreetype-dev fonts-dejavu-core  # fontrender: the font strip drawn from DejaVu Sans Bold
  libavcodec-dev libswscale-dev   # the picture benchmark only (left out without them)
  xvfb xdotool                    # real-window tests under a virtual X server
  openbox libx11-dev              # real-window tests: a window manager for fullscreen, Xlib for screenshots
  ffmpeg                          # musicdisk-capture --video, and its test (ffprobe)
  help2man                        # manual pages from the programs' --help texts
  desktop-file-utils              # the install test checks the desktop entry
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix  # the Windows build (scripts/windows.sh)
  libz-mingw-w64-dev              # zlib for the Windows build of musicdisk-make (its PNG reader)
  googletest                      # GoogleTest's sources, built with the Windows compiler
  wine wine64                     # the Windows programs and tests run under Wine
  python3 python3-numpy           # tune measurements only (scripts/measure-tunes.py)
  emscripten                      # the web page (scripts/web.sh)
  chromium python3-websocket      # the web page's tests: headless Chromium, driven over its DevTools socket
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
