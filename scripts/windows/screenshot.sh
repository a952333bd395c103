#!/usr/bin/env bash
# Takes the README's pictures of the Windows program under Wine on Xvfb, with trayer as the
# notification area (Wine docks its tray icons there): the window (docs/windows-window.png)
# and the tray icon's menu (docs/windows-tray-menu.png).
# Usage: scripts/windows/screenshot.sh [BUILD_DIR [OUT_DIR]]   (after scripts/windows.sh)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
cd "$here/../.."
. scripts/lib/screen.sh
build=$(realpath "${1:-build-windows}")
out=${2:-docs}
tiktaal_need_screen_tools
mkdir -p "$out"
work=$(mktemp -d)
export TIKTAAL_WINEPREFIX=$work/prefix
pids=()
cleanup() {
  bash "$here/wine-prefix.sh" remove "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1 || true
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
tiktaal_start_screen ":$((80 + RANDOM % 9))"
# A prefix made with the display, so that Wine draws on X rather than on its null driver.
bash "$here/wine-prefix.sh" fresh "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1
TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss QT_QPA_PLATFORM=windows \
  bash "$here/wine-run.sh" "$build/bin/tiktaal.exe" --no-set-clock --time-server 127.0.0.1:9 \
  >"$work/tiktaal.log" 2>&1 &
pids+=($!)
tiktaal_wait_window 100 || { echo "the window did not appear" >&2; cat "$work/tiktaal.log" >&2; exit 1; }
sleep 2
import -window "$window" "$out/windows-window.png"
echo "saved $out/windows-window.png"

tiktaal_open_tray_menu
# The menu is the program's other visible window.
menu=$(xdotool search --onlyvisible --class 'tiktaal.exe' 2>/dev/null | grep -vx "$window" | tail -1 || true)
[ -n "$menu" ] || { echo "the tray menu did not open" >&2; exit 1; }
tiktaal_save_menu_corner "$menu" "$out/windows-tray-menu.png"
echo "saved $out/windows-tray-menu.png"
