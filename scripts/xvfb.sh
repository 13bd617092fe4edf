# shellcheck shell=bash
# Sourced by the screenshot scripts (settings/screenshot.sh, menubar/screenshot.sh) before they start
# any process: a scratch directory $work, removed on exit together with every process whose pid is
# added to $pids; the environment Qt needs there; and start_xvfb.

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Qt and the sanitizers: fontconfig's caches are not leaks of ours, and a killed run must not be
# reported as one.
export ASAN_OPTIONS=detect_leaks=0
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# start_xvfb FIRST SIZE: starts Xvfb on a display picked at random from :FIRST to :FIRST+8 with a
# screen of SIZE (WIDTHxHEIGHT, 24-bit), its output in $work/xvfb.log, exports DISPLAY and waits up to
# 5 seconds for it to answer.
start_xvfb() {
  local display=:$(($1 + RANDOM % 9))
  Xvfb "$display" -screen 0 "${2}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
}
