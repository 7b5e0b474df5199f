#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config git
  libsdl2-dev                     # the real window, keyboard and sound
  libgtest-dev libgmock-dev libbenchmark-dev
  libxmp-dev                      # benchmark yardstick only
  clang libclang-rt-dev           # libFuzzer and the sanitizer runtimes
  libpng-dev libfreetype-dev      # tools only
  libavcodec-dev                  # the picture benchmark only (left out without it)
  xvfb xdotool                    # real-window tests under a virtual X server
  openbox libx11-dev              # real-window tests: a window manager for fullscreen, Xlib for screenshots
  ffmpeg python3                  # tune measurements only (scripts/measure-tunes.py)
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
