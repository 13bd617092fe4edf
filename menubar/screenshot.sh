#!/usr/bin/env bash
# Runs HoravelMenu for real under Xvfb with a tray host (trayer) and photographs it: the icon in
# the panel (docs/tray-icon.png), the menu opened by a click (docs/tray-menu.png), and the five
# pictures at tray sizes on light and dark panels (docs/tray-icons.png).
#
#   menubar/screenshot.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR holds a build with the menu (default build/menubar); OUT_DIR defaults to docs/.
# Runs in private IPC and mount namespaces (root needed), so the demo record under the real
# channel key and semaphore name never meets a daemon running on this machine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$top/build/menubar}")
out=$(realpath "${2:-$top/docs}")

if [ -z "${HORAVEL_SCREENSHOT_INNER:-}" ]; then
  for tool in Xvfb trayer xdotool import convert; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (scripts/install-deps)" >&2; exit 1; }
  done
  for binary in HoravelMenu hv_channel_writer hv_icon_sheet; do
    [ -x "$build/menubar/$binary" ] || { echo "screenshot.sh: build $binary first in $build" >&2; exit 1; }
  done
  mkdir -p "$out"
  exec env HORAVEL_SCREENSHOT_INNER=1 unshare --ipc --mount --propagation private -- "$0" "$build" "$out"
fi

mount -t tmpfs -o mode=1777 tmpfs /dev/shm
. "$top/scripts/xvfb.sh"
start_xvfb 90 640x360

# A plain light desktop, and a dark panel across the top as many desktops have.
convert -size 640x360 xc:'#d8dde3' "$work/desktop.png"
# display sets the root picture and then exits non-zero.
display -window root "$work/desktop.png" || true
trayer --edge top --align right --widthtype percent --width 100 --heighttype pixel --height 28 \
  --transparent true --alpha 0 --tint 0x2b2b2b --SetDockType true --iconspacing 4 >"$work/trayer.log" 2>&1 &
pids+=($!)
sleep 1

# Time left 1 h 15 min 30 s, network 1 h 30 min, not warned.
"$build/menubar/hv_channel_writer" 75 90 0 30
"$build/menubar/HoravelMenu" >"$work/menu.log" 2>&1 &
pids+=($!)
# The first poll comes 5 seconds after start.
sleep 7

# The panel is trayer's window named "panel"; the icon is HoravelMenu's window docked in it.
eval "$(xdotool getwindowgeometry --shell "$(xdotool search --name '^panel$' | head -1)")"
panel_h=$HEIGHT
icon_x=-1
for window in $(xdotool search --class HoravelMenu); do
  eval "$(xdotool getwindowgeometry --shell "$window")"
  if [ "$WIDTH" -gt 1 ] && [ "$HEIGHT" -gt 1 ]; then
    icon_x=$X icon_y=$Y icon_w=$WIDTH icon_h=$HEIGHT
  fi
done
[ "$icon_x" -ge 0 ] || { echo "screenshot.sh: no tray icon appeared" >&2; cat "$work/menu.log" >&2; exit 1; }

import -window root "$work/icon-full.png"
convert "$work/icon-full.png" -crop "120x$((panel_h + 6))+$((640 - 120))+0" +repage \
  -filter point -resize 300% "$out/tray-icon.png"

click_x=$((icon_x + icon_w / 2))
click_y=$((icon_y + icon_h / 2))
xdotool mousemove "$click_x" "$click_y" click 1
sleep 1.5
import -window root "$work/menu-full.png"
convert "$work/menu-full.png" -crop "300x180+$((640 - 300))+0" +repage "$out/tray-menu.png"
xdotool key Escape

"$build/menubar/hv_icon_sheet" "$work/sheet.png"
convert "$work/sheet.png" -filter point -resize 200% "$out/tray-icons.png"
echo "screenshot.sh: wrote $out/tray-icon.png, $out/tray-menu.png, $out/tray-icons.png"
