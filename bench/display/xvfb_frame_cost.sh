#!/usr/bin/env bash
# CPU per presented frame of the real program under Xvfb, with SDL's default renderer and
# with its software renderer, and the share of that CPU spent in the program's own code.
# Frames are counted with a perf uprobe on present_frame, so this needs perf and the right
# to add probes (root, or a kernel that allows it).
#   usage: bench/display/xvfb_frame_cost.sh [path/to/musicdisk] [seconds]
set -euo pipefail
program=$(realpath "${1:-build/ci/driver/musicdisk}")
seconds=${2:-10}
display=:$((90 + RANDOM % 100))
work=$(mktemp -d)
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; perf probe -q -d "probe_$(basename "$program"):present_frame" 2>/dev/null || true; rm -rf "$work"' EXIT
sleep 1
perf probe -q -x "$program" -a present_frame
event="probe_$(basename "$program"):present_frame"
for renderer in default software; do
  hint=""
  [ "$renderer" = software ] && hint=software
  DISPLAY=$display SDL_RENDER_DRIVER=$hint SDL_AUDIODRIVER=dummy \
    perf stat -x, -e "$event" -e task-clock -o "$work/stat" timeout -s INT "$seconds" "$program" || true
  frames=$(grep "$event" "$work/stat" | cut -d, -f1)
  cpu_ms=$(grep task-clock "$work/stat" | cut -d, -f1)
  DISPLAY=$display SDL_RENDER_DRIVER=$hint SDL_AUDIODRIVER=dummy \
    perf record -q -o "$work/record" timeout -s INT "$seconds" "$program" >/dev/null 2>&1 || true
  own=$(perf report -i "$work/record" --stdio --sort dso 2>/dev/null |
        awk -v name="$(basename "$program")" '$2 == name { print $1 }')
  awk -v r="$renderer" -v f="$frames" -v c="$cpu_ms" -v o="${own:-?}" 'BEGIN {
    printf "%-8s renderer: %d frames in %.0f ms CPU (all threads): %.3f ms CPU per frame; %s of it in the program itself\n",
           r, f, c, c / f, o }'
done
