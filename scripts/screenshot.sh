#!/usr/bin/env bash
# Takes the README's pictures under Xvfb, with trayer as the notification area: the window
# (docs/window.png) and the tray icon's menu (docs/tray-menu.png).
# Usage: scripts/screenshot.sh [build-dir [out-dir]]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/screen.sh
build=${1:-build}
out=${2:-docs}
tiktaal_need_screen_tools
mkdir -p "$out"
config=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$config"' EXIT
tiktaal_start_screen ":$((90 + RANDOM % 9))"
XDG_CONFIG_HOME=$config XDG_RUNTIME_DIR=$config TIKTAAL_DATE_FORMAT=yyyy-MM-dd \
  TIKTAAL_TIME_FORMAT=HH:mm:ss "$build/src/app/tiktaal" --no-set-clock --time-server 127.0.0.1:9 &
pids+=($!)
tiktaal_wait_window || { echo "the window did not appear" >&2; exit 1; }
sleep 1.5
import -window "$window" "$out/window.png"
echo "saved $out/window.png"

tiktaal_open_tray_menu
# The menu is the newest window of the program.
menu=$(xwininfo -root -children | awk '/\("tiktaal" "Tiktaal"\)/ {print $1}' | head -1)
[ -n "$menu" ] && [ "$menu" != "$window" ] || { echo "the tray menu did not open" >&2; exit 1; }
tiktaal_save_menu_corner "$menu" "$out/tray-menu.png"
echo "saved $out/tray-menu.png"
