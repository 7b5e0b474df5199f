#!/usr/bin/env bash
# The real program under a virtual X server, once with SDL's disk audio driver (the sound
# it plays lands in a file we can measure) and once with no usable sound device (it must
# run silently, report nothing, and end with exit code 0 on Escape).
set -u
program="$1"
work=$(mktemp -d)
cleanup() {
  [ -n "${show:-}" ] && kill -9 "$show" 2>/dev/null
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

command -v Xvfb >/dev/null || fail "Xvfb is not installed (scripts/install-deps.sh installs xvfb)"
command -v xdotool >/dev/null || fail "xdotool is not installed (scripts/install-deps.sh installs it)"

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

# Runs the show for a while with the given audio driver and ends it with Escape.
run_show() {
  local driver="$1"
  SDL_AUDIODRIVER="$driver" SDL_DISKAUDIOFILE="$work/sound.raw" \
    "$program" > "$work/out.log" 2> "$work/err.log" &
  show=$!
  local window=""
  for _ in $(seq 300); do
    window=$(xdotool search --name '^musicdisk$' 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    kill -0 "$show" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$window" ] || fail "no musicdisk window with audio driver '$driver'"
  sleep 2
  kill -0 "$show" 2>/dev/null || fail "the show ended by itself with audio driver '$driver'"
  # A real key event through the XTEST extension; without a window manager the key goes to
  # the window under the pointer. The key is held for 100 ms, so a slow frame cannot miss it
  # (the show reads held keys once per frame), and pressed again should the show still run.
  xdotool mousemove --window "$window" 20 20 2>/dev/null
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
  [ -n "$code" ] || fail "Escape did not end the show (audio driver '$driver')"
  [ "$code" -eq 0 ] || fail "exit code $code with audio driver '$driver'"
}

run_show disk
[ -s "$work/sound.raw" ] || fail "the disk audio driver received no sound"
# 44100 Hz, 16-bit stereo: the first 371 ms are the silent buffer, then the tune.
nonzero=$(od -An -v -td2 -w2 "$work/sound.raw" | awk '$1 != 0 {n++} END {print n+0}')
[ "$nonzero" -gt 44100 ] || fail "the disk audio driver received only silence ($nonzero non-zero samples)"
# SDL itself warns that the disk driver writes to a file; the show must say nothing.
reported=$(grep -v -e "SDL disk i/o audio driver" -e "Writing to file" "$work/err.log")
[ -z "$reported" ] || fail "the show reported something with sound: $reported"
echo "disk audio: $(stat -c %s "$work/sound.raw") bytes, $nonzero non-zero samples"

run_show no-such-driver
[ ! -s "$work/err.log" ] || fail "the show reported something without sound: $(cat "$work/err.log")"
echo "no sound device: silent show, exit code 0"
