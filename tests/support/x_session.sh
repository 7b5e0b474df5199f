# What the shell tests of the real program share, native and under Wine: a virtual X server
# of their own, waiting for a window, for the scene (md-xprobe) or for any condition, and
# ending the show with Escape. Sourced; the caller defines fail() and removes $work.
# Every wait polls for the thing itself until a generous deadline.

# Starts Xvfb with a 1024 x 768 screen of `depth` bits; sets xvfb and DISPLAY. Without
# -noreset the server resets whenever its last client leaves, and a client that connects
# during the reset (the next show, an xdotool poll) is refused: "Can't open display".
start_xvfb() {
  local depth="${1:-24}" number=""
  exec 3<> "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp -noreset > "$work/xvfb.log" 2>&1 &
  xvfb=$!
  wait_until 30 "Xvfb's display number" test -s "$work/displayfd" || fail "Xvfb did not start"
  number=$(head -n1 "$work/displayfd")
  export DISPLAY=":$number"
}

# Runs the command every tenth of a second until it succeeds (0) or `seconds` have passed
# (1; the command is tried once more at the deadline).
wait_until() {
  local seconds="$1" what="$2" end
  shift 2
  end=$(( $(date +%s) + seconds ))
  until "$@"; do
    if [ "$(date +%s)" -ge "$end" ]; then
      "$@" && return 0
      echo "never came within $seconds s: $what" >&2
      return 1
    fi
    sleep 0.1
  done
}

# The first mapped window named `pattern` of the running process `pid`, within `seconds`;
# empty when none came or the process ended first.
wait_for_window() {
  local pattern="$1" pid="$2" seconds="$3" end window=""
  end=$(( $(date +%s) + seconds ))
  while [ "$(date +%s)" -le "$end" ]; do
    window=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "$window"
}

# Holds Escape (100 ms, so a slow frame cannot miss it) until the show `pid` ends, pressing it
# again every 10 s while it runs, for up to `seconds` (default 180: a loaded machine can take
# long to end a process under Wine); sets `code` to its exit status, empty when it never
# ended. Without a window manager the key goes to the window under the pointer, which a
# click makes active.
end_with_escape() {
  local window="$1" pid="$2" end
  end=$(( $(date +%s) + ${3:-180} ))
  code=""
  xdotool mousemove --window "$window" 200 150 click 1 2>/dev/null
  while :; do
    xdotool keydown Escape; sleep 0.1; xdotool keyup Escape
    if wait_until 10 "the show's end" show_ended "$pid" 2>/dev/null; then
      wait "$pid"
      code=$?
      return
    fi
    [ "$(date +%s)" -lt "$end" ] || return
  done
}

show_ended() { ! kill -0 "$1" 2>/dev/null; }
