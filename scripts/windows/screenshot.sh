#!/usr/bin/env bash
# Takes the README's pictures of the Windows program under Wine on Xvfb, with trayer as the
# notification area (Wine docks its tray icons there): the window
# (docs/windows-window.png) and the tray icon's menu (docs/windows-tray-menu.png).
# Usage: scripts/windows/screenshot.sh [BUILD_DIR [OUT_DIR]]   (after scripts/windows.sh)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
cd "$here/../.."
build=$(realpath "${1:-build-windows}")
out=${2:-docs}
for tool in Xvfb import convert trayer xdotool xwininfo; do
  command -v "$tool" >/dev/null || {
    echo "needs Xvfb, ImageMagick, trayer, xdotool and x11-utils" >&2
    exit 1
  }
done
mkdir -p "$out"
display=:$((80 + RANDOM % 9))
work=$(mktemp -d)
export TIKTAAL_WINEPREFIX=$work/prefix
pids=()
cleanup() {
  bash "$here/wine-prefix.sh" remove "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1 || true
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 480x400x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
sleep 1
trayer --edge bottom --align right --widthtype pixel --width 64 --heighttype pixel --height 24 \
  --tint 0xd0d0d0 --transparent false &
pids+=($!)
# A prefix made with the display, so that Wine draws on X rather than its null driver.
bash "$here/wine-prefix.sh" fresh "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1
TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss QT_QPA_PLATFORM=windows \
  bash "$here/wine-run.sh" "$build/bin/tiktaal.exe" --no-set-clock --time-server 127.0.0.1:9 \
  >"$work/tiktaal.log" 2>&1 &
pids+=($!)
window=""
for _ in $(seq 100); do
  window=$(xdotool search --name '^Tiktaal $' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; cat "$work/tiktaal.log" >&2; exit 1; }
sleep 2
import -window "$window" -frame "$out/windows-window.png" 2>/dev/null ||
  import -window "$window" "$out/windows-window.png"
echo "saved $out/windows-window.png"

# The menu opens with a right click on the tray icon, the right-most of trayer's bottom row.
xdotool mousemove 470 388
sleep 0.5
xdotool mousedown 3
sleep 0.2
xdotool mouseup 3
sleep 1.5
import -window root "$work/screen.png"
menu=$(xdotool search --onlyvisible --class 'tiktaal.exe' 2>/dev/null | grep -vx "$window" | tail -1 || true)
if [ -n "$menu" ]; then
  read -r mx my < <(xwininfo -id "$menu" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
else
  mx=240 my=200
fi
x=$((mx > 8 ? mx - 8 : 0)) y=$((my > 8 ? my - 8 : 0))
convert "$work/screen.png" -crop "$((480 - x))x$((400 - y))+$x+$y" +repage "$out/windows-tray-menu.png"
echo "saved $out/windows-tray-menu.png"
