#!/usr/bin/env bash
# CPU per second of show, in the window and minimised: the real program on its own Xvfb with
# a window manager (openbox, which minimising needs), natively or the Windows program under
# Wine. Counts the program's process (all its threads) and the X server's drawing for it,
# in percent of one core, over the same wall time in each state.
#   usage: bench/display/minimised_cpu.sh [path/to/musicdisk or musicdisk.exe] [seconds]
# A .exe runs under Wine in WINEPREFIX (a prefix of its own is best: the bench stops its
# Wine server at the end).
set -euo pipefail
program=$(realpath "${1:-build/ci/driver/musicdisk}")
seconds=${2:-10}
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [[ "$program" == *.exe ]] && wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

exec 3<> "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset > /dev/null 2>&1 &
xvfb=$!
pids+=("$xvfb")
until [ -s "$work/displayfd" ]; do sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/displayfd")"
openbox --sm-disable > /dev/null 2>&1 &
pids+=("$!")
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.1; done

if [[ "$program" == *.exe ]]; then
  wineserver -k 2>/dev/null || true
  WINEDEBUG=-all wine "$program" > /dev/null 2>&1 &
else
  SDL_AUDIODRIVER=dummy "$program" > /dev/null 2>&1 &
fi
show=$!
pids+=("$show")
window=""
until [ -n "$window" ]; do
  kill -0 "$show" || { echo "the show ended before its window came"; exit 1; }
  window=$(xdotool search --onlyvisible --name '^musicdisk$' 2>/dev/null | head -n1 || true)
  sleep 0.2
done
# The process that runs the show (Wine's loader may hand over to another one).
if [[ "$program" == *.exe ]]; then
  show=$(pgrep -n -f "$(basename "$program")")
fi

# Clock ticks of CPU (user and system, all threads) a process has used so far.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

# CPU in percent of one core over `seconds`: the show, the X server.
measure() {
  local s0 x0 t0 s1 x1 t1
  s0=$(ticks "$show"); x0=$(ticks "$xvfb"); t0=$(date +%s.%N)
  sleep "$seconds"
  s1=$(ticks "$show"); x1=$(ticks "$xvfb"); t1=$(date +%s.%N)
  awk -v s=$((s1 - s0)) -v x=$((x1 - x0)) -v hz="$hz" -v t0="$t0" -v t1="$t1" -v what="$1" 'BEGIN {
    wall = t1 - t0
    printf "%-10s show %5.1f%%  X server %5.1f%%  (of one core, over %.1f s)\n", what, 100 * s / hz / wall, 100 * x / hz / wall, wall }'
}

# Start-up (unpacking, first frames) is not what is measured: a few seconds to settle.
sleep 3
measure windowed
xdotool windowminimize "$window"
until ! xdotool search --onlyvisible --name '^musicdisk$' > /dev/null 2>&1; do sleep 0.1; done
sleep 1
measure minimised
