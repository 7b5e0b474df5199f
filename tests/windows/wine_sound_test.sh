#!/usr/bin/env bash
# The Windows program's sound under Wine on a virtual X server: once with an ALSA
# configuration whose default device writes into a file (ALSA's file plugin on the null
# device), where the DirectSound stream must arrive with its first sound one buffer length
# (16384 frames, about 371 ms) into the stream; and once with no sound device at all, where
# the show must run silently and end with exit code 0 on Escape.
#
# ALSA's null device takes data as fast as it is given, so Wine's mixer runs ahead of real
# time: the times below are counted in frames of the stream, not on the clock.
set -u
program="$1"
work=$(mktemp -d)
cleanup() {
  [ -n "${show:-}" ] && kill -9 "$show" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

for tool in Xvfb xdotool wine wineserver; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set (scripts/windows.sh makes the prefix)"
export WINEDEBUG=-all

exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
  number=$(head -n1 "$work/displayfd" 2>/dev/null)
  [ -n "$number" ] && break
  sleep 0.1
done
[ -n "$number" ] || fail "Xvfb did not start"
export DISPLAY=":$number"
# A Wine server left over from an earlier run would keep its desktop on that X server.
wineserver -k 2>/dev/null
wineserver -w

cat > "$work/file.conf" <<EOF
pcm.!default {
  type plug
  slave { pcm "tofile"; format S16_LE; rate 44100; channels 2 }
}
pcm.tofile {
  type file
  slave.pcm "null"
  file "$work/sound.raw"
  format "raw"
}
EOF
# No device: a configuration that defines none (ALSA's own is left out).
: > "$work/none.conf"

# Runs the show with the given ALSA configuration for a while and ends it with Escape.
run_show() {
  local config="$1" label="$2"
  ALSA_CONFIG_PATH="$config" wine "$program" > "$work/out.log" 2> "$work/err.log" &
  show=$!
  local window=""
  for _ in $(seq 600); do
    window=$(xdotool search --onlyvisible --name '^musicdisk$' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    kill -0 "$show" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no musicdisk window ($label)"
  sleep 4
  kill -0 "$show" 2>/dev/null || fail "the show ended by itself ($label)"
  [ -z "$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null)" ] || fail "an error report ($label)"
  # Without a window manager the key goes to the window under the pointer; a click makes
  # the show's window the active one. Held for 100 ms, and again should the show still run.
  xdotool mousemove --window "$window" 200 150 click 1 2>/dev/null
  sleep 0.2
  local code=""
  for _ in 1 2 3; do
    xdotool keydown Escape; sleep 0.1; xdotool keyup Escape
    for _ in $(seq 30); do
      if ! kill -0 "$show" 2>/dev/null; then
        wait "$show"
        code=$?
        break 2
      fi
      sleep 0.1
    done
  done
  show=""
  [ -n "$code" ] || fail "Escape did not end the show ($label)"
  [ "$code" -eq 0 ] || fail "exit code $code ($label)"
  # The show's own reports start with its name; Wine and ALSA may talk about the device.
  ! grep -q "^musicdisk" "$work/err.log" || fail "the show reported: $(grep "^musicdisk" "$work/err.log") ($label)"
  wineserver -w
}

run_show "/usr/share/alsa/alsa.conf:$work/file.conf" "ALSA into a file"
[ -s "$work/sound.raw" ] || fail "the DirectSound stream never reached the ALSA device"
# 44100 Hz, 16-bit stereo. The first sound: the first frame clearly above the resampler's
# rounding noise.
read -r frames first loud < <(od -An -v -td2 -w4 "$work/sound.raw" |
  awk '{ if (f == "" && ($1 > 64 || $1 < -64 || $2 > 64 || $2 < -64)) f = NR - 1
         if ($1 != 0 || $2 != 0) n++ }
       END { print NR, (f == "" ? -1 : f), n + 0 }')
[ "$loud" -gt 44100 ] || fail "the device received only silence ($loud non-zero frames of $frames)"
ms=$(awk -v f="$first" 'BEGIN { printf "%.1f", f * 1000 / 44100 }')
echo "ALSA file: $frames frames, $loud non-zero, first sound at frame $first ($ms ms of the stream)"
# One buffer of silence (16384 frames) plays before the first rendered sound; Wine's own
# mixing adds a few milliseconds.
[ "$first" -ge 16384 ] && [ "$first" -le $((16384 + 4410)) ] ||
  fail "first sound at frame $first, expected one buffer (16384 frames) plus at most 100 ms"

run_show "$work/none.conf" "no sound device"
echo "no sound device: the show ran silently and ended with exit code 0"
