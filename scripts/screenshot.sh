#!/usr/bin/env bash
# Takes the README's pictures under Xvfb, with trayer as the notification area: the window
# (docs/window.png) and the tray icon's menu (docs/tray-menu.png).
# Usage: scripts/screenshot.sh [build-dir [out-dir]]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs}
for tool in Xvfb import convert trayer xdotool; do
  command -v "$tool" >/dev/null || {
    echo "needs Xvfb, ImageMagick, trayer and xdotool (apt-get install xvfb imagemagick trayer xdotool)" >&2
    exit 1
  }
done
mkdir -p "$out"
display=:$((90 + RANDOM % 9))
config=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$config"' EXIT
Xvfb "$display" -screen 0 480x400x24 -nolisten tcp &
pids+=($!)
export DISPLAY=$display
sleep 1
trayer --edge bottom --align right --widthtype pixel --width 64 --heighttype pixel --height 24 \
  --tint 0xd0d0d0 --transparent false &
pids+=($!)
sleep 1
XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config TIKTAAL_DATE_FORMAT=yyyy-MM-dd \
  TIKTAAL_TIME_FORMAT=HH:mm:ss "$build/src/app/tiktaal" --no-set-clock --time-server 127.0.0.1:9 &
pids+=($!)
window=""
for _ in $(seq 50); do
  window=$(xdotool search --name '^Tiktaal $' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; exit 1; }
sleep 1.5
import -window "$window" "$out/window.png"
echo "saved $out/window.png"

# The menu opens with a right click on the tray icon, the right-most of trayer's bottom row.
xdotool mousemove 468 388 click 3
sleep 1
import -window root "$config/screen.png"
# The menu is the newest window of the program; the picture is the screen's corner from it
# to the tray icon.
menu=$(xwininfo -root -children | awk '/\("tiktaal" "Tiktaal"\)/ {print $1}' | head -1)
read -r mx my < <(xwininfo -id "$menu" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
[ "$menu" != "$window" ] || { echo "the tray menu did not open" >&2; exit 1; }
x=$((mx > 8 ? mx - 8 : 0)) y=$((my > 8 ? my - 8 : 0))
convert "$config/screen.png" -crop "$((480 - x))x$((400 - y))+$x+$y" +repage "$out/tray-menu.png"
echo "saved $out/tray-menu.png"
