#!/usr/bin/env bash
# The real program under a virtual X server, once with SDL's disk audio driver (the sound
# it plays lands in a file we can measure) and once with no usable sound device (it must
# run silently, report nothing, and end with exit code 0 on Escape).
set -u
program="$1"
xprobe="$2"
work=$(mktemp -d)
cleanup() {
  [ -n "${show:-}" ] && kill -9 "$show" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
. "$(dirname "$0")/../support/x_session.sh"

command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/install-deps.sh installs xvfb)"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/install-deps.sh installs it)"
start_xvfb 24

# Non-zero 16-bit samples in the file the disk driver writes.
heard() { od -An -v -td2 -w2 "$work/sound.raw" 2>/dev/null | awk '$1 != 0 {n++} END {print n+0}'; }
heard_a_second() { [ "$(heard)" -gt 44100 ]; }

# Runs the show with the given audio driver until `enough` holds (its scene is shown, and
# whatever else the caller waits for), then ends it with Escape.
run_show() {
  local driver="$1" enough="$2"
  SDL_AUDIODRIVER="$driver" SDL_DISKAUDIOFILE="$work/sound.raw" \
    "$program" > "$work/out.log" 2> "$work/err.log" &
  show=$!
  local window started
  started=$(date +%s)
  # The window shows once everything is prepared: about a second of CPU time in a sanitised
  # build, which a machine loaded thirty times over stretches past half a minute.
  window=$(wait_for_window '^musicdisk$' "$show" 300)
  if [ -z "$window" ]; then
    if show_ended "$show"; then
      wait "$show"
      fail "the show ended (exit code $?) before its window came, audio driver '$driver': $(cat "$work/err.log")"
    fi
    fail "no musicdisk window within 300 s, the show still running, audio driver '$driver': $(cat "$work/err.log")"
  fi
  echo "window after $(( $(date +%s) - started )) s with audio driver '$driver'"
  "$xprobe" "$DISPLAY" 60 "$show" || fail "no scene with audio driver '$driver'"
  wait_until 60 "$enough" "$enough" || fail "$enough never held with audio driver '$driver'"
  kill -0 "$show" 2>/dev/null || fail "the show ended by itself with audio driver '$driver'"
  end_with_escape "$window" "$show"
  show=""
  [ -n "$code" ] || fail "Escape did not end the show (audio driver '$driver')"
  [ "$code" -eq 0 ] || fail "exit code $code with audio driver '$driver'"
}

# 44100 Hz, 16-bit stereo: the first 371 ms are the silent buffer, then the tune; half a
# second of it is enough.
run_show disk heard_a_second
[ -s "$work/sound.raw" ] || fail "the disk audio driver received no sound"
nonzero=$(heard)
[ "$nonzero" -gt 44100 ] || fail "the disk audio driver received only silence ($nonzero non-zero samples)"
# SDL itself warns that the disk driver writes to a file; the show must say nothing.
reported=$(grep -v -e "SDL disk i/o audio driver" -e "Writing to file" "$work/err.log")
[ -z "$reported" ] || fail "the show reported something with sound: $reported"
echo "disk audio: $(stat -c %s "$work/sound.raw") bytes, $nonzero non-zero samples"

run_show no-such-driver true
[ ! -s "$work/err.log" ] || fail "the show reported something without sound: $(cat "$work/err.log")"
echo "no sound device: silent show, exit code 0"
