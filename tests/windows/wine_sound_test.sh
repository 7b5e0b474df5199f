#!/usr/bin/env bash
# The Windows program's sound under Wine on a virtual X server: once with an ALSA
# configuration whose default device writes into a file (ALSA's file plugin on the null
# device), where the DirectSound stream must arrive with its first sound one buffer length
# (16384 frames, about 371 ms) into the stream; and once with no sound device at all, where
# the show must run silently and end with exit code 0 on Escape.
#
# The program runs through md-exit-code.exe, which writes the exit code it gave into a file:
# under load, `wine` itself can end by a signal although the program ended cleanly.
#
# ALSA's null device takes data as fast as it is given, so Wine's mixer runs ahead of real
# time: the times below are counted in frames of the stream, not on the clock.
set -u
program="$1"
xprobe="$2"
exit_code="$3"
work=$(mktemp -d)
cleanup() {
  [ -n "${show:-}" ] && kill -9 "$show" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
. "$(dirname "$0")/../support/x_session.sh"

for tool in Xvfb xdotool wine wineserver; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ -n "${WINEPREFIX:-}" ] || fail "WINEPREFIX is not set (CTest gives the Wine tests a prefix of their own)"
export WINEDEBUG=-all

start_xvfb 24
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

# Frames of the file ALSA writes: all, the first clearly above the resampler's rounding
# noise (-1: none yet), and the non-zero ones.
frames_heard() {
  od -An -v -td2 -w4 "$work/sound.raw" 2>/dev/null |
    awk '{ if (f == "" && ($1 > 64 || $1 < -64 || $2 > 64 || $2 < -64)) f = NR - 1
           if ($1 != 0 || $2 != 0) n++ }
         END { print NR + 0, (f == "" ? -1 : f), n + 0 }'
}
heard_a_second() { local frames first loud; read -r frames first loud < <(frames_heard); [ "$loud" -gt 44100 ]; }

# The names of the windows shown, comma-separated.
window_names() {
  local w
  for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
    printf '"%s", ' "$(xdotool getwindowname "$w" 2>/dev/null)"
  done
}

# Why the show ended before it was asked to: its status, the code it left and what it said.
why_gone() {
  kill -0 "$show" 2>/dev/null && return
  local status
  wait "$show"
  status=$?
  echo "; the show ended first with status $status, exit code file: $(cat "$work/code" 2>/dev/null || echo none)"
  echo "its error output (last lines):"
  tail -n 8 "$work/err.log" "$work/out.log" 2>/dev/null
}

# Runs the show with the given ALSA configuration until `enough` holds (its scene is shown,
# and whatever else the caller waits for), then ends it with Escape.
run_show() {
  local config="$1" label="$2" enough="$3"
  rm -f "$work/code"
  ALSA_CONFIG_PATH="$config" wine "$exit_code" "$work/code" "$program" > "$work/out.log" 2> "$work/err.log" &
  show=$!
  local window
  window=$(wait_for_window '^musicdisk$' "$show" 120)
  [ -n "$window" ] || fail "no musicdisk window ($label)$(why_gone)"
  "$xprobe" "$DISPLAY" 120 "$show" || fail "no scene ($label)"
  wait_until 120 "$enough" "$enough" || fail "$enough never held ($label)"
  kill -0 "$show" 2>/dev/null || fail "the show ended by itself ($label)"
  [ -z "$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null)" ] || fail "an error report ($label)"
  end_with_escape "$window" "$show"
  show=""
  [ -n "$code" ] || fail "Escape did not end the show within 180 s ($label); windows shown: $(window_names)"
  [ -s "$work/code" ] || fail "the show left no exit code; wine ended with status $code ($label)"
  code=$(cat "$work/code")
  [ "$code" -eq 0 ] || fail "exit code $code ($label)"
  # The show's own reports start with its name; Wine and ALSA may talk about the device.
  ! grep -q "^musicdisk" "$work/err.log" || fail "the show reported: $(grep "^musicdisk" "$work/err.log") ($label)"
  wineserver -w
}

# 44100 Hz, 16-bit stereo.
run_show "/usr/share/alsa/alsa.conf:$work/file.conf" "ALSA into a file" heard_a_second
[ -s "$work/sound.raw" ] || fail "the DirectSound stream never reached the ALSA device"
read -r frames first loud < <(frames_heard)
[ "$loud" -gt 44100 ] || fail "the device received only silence ($loud non-zero frames of $frames)"
ms=$(awk -v f="$first" 'BEGIN { printf "%.1f", f * 1000 / 44100 }')
echo "ALSA file: $frames frames, $loud non-zero, first sound at frame $first ($ms ms of the stream)"
# One buffer of silence (16384 frames) plays before the first rendered sound; Wine's own
# mixing adds a few milliseconds, and on a loaded machine its mixer, starting late, can drop
# a few frames of that leading silence (32 seen), so the sound may come up to 10 ms early.
[ "$first" -ge $((16384 - 441)) ] && [ "$first" -le $((16384 + 4410)) ] ||
  fail "first sound at frame $first, expected one buffer (16384 frames), from 10 ms before to 100 ms after"

run_show "$work/none.conf" "no sound device" true
echo "no sound device: the show ran silently and ended with exit code 0"
