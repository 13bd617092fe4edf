#!/usr/bin/env bash
# Photographs every page of horavel-settings under Xvfb (docs/settings-*.png), and the Today page in
# German (docs/settings-today-de.png).
#
#   settings/screenshot.sh [BUILD_DIR] [OUT_DIR]
#   settings/screenshot.sh --sandbox [BUILD_DIR] [OUT_DIR]     (as root)
#
# The first form has the window talk to the fake admin service (settings/tests/fake_admin.py) on a
# private bus, so the pictures show its canned accounts, policies and history, and nothing on this
# machine is read or changed. --sandbox takes them against the real horavel-admind and horaveld in the
# end-to-end sandbox (scenario settings_screenshots): "kid" with packaging/examples/kid-policy.json and
# part of the day used, "pat" not limited yet, and two weeks of history put before today
# in the sandbox's history database.
#
# BUILD_DIR holds a build with hv_settings_shots (default build/ci; for --sandbox also horaveld,
# horavelset, horavelctl and horavel-admind); OUT_DIR defaults to docs/.
set -euo pipefail
sandbox=false
if [ "${1:-}" = --sandbox ]; then sandbox=true; shift; fi
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$top/build/ci}")
out=$(realpath "${2:-$top/docs}")
shots=$build/settings/hv_settings_shots
if $sandbox; then
  programs=()
  for program in daemon/horaveld installtool/horavelset tools/horavelctl admind/horavel-admind settings/hv_settings_shots; do
    programs+=(--program "$(basename "$program")=$build/$program")
  done
  mkdir -p "$out"
  HORAVEL_SHOTS_DIR=$out exec /usr/bin/python3 -B "$top/tests/e2e/run_scenario.py" settings_screenshots "${programs[@]}"
fi
for tool in Xvfb xdotool dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/install-deps)" >&2; exit 1; }
done
[ -x "$shots" ] || { echo "screenshot.sh: build hv_settings_shots first in $build" >&2; exit 1; }

. "$top/scripts/xvfb.sh"
# English pictures, whatever this machine's language.
export LANG=C.UTF-8 LANGUAGE=en
start_xvfb 80 1100x720

dbus-daemon --session --nofork --print-address=3 3>"$work/address" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
address=$(head -1 "$work/address")
/usr/bin/python3 "$top/settings/tests/fake_admin.py" --address "$address" --ready "$work/ready" &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done

mkdir -p "$out"
"$shots" "$address" "$out" anna ben
LANG=de_DE.UTF-8 LANGUAGE=de "$shots" "$address" "$out" anna ben -de
