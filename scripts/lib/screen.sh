# The README's pictures: a 480x400 screen on Xvfb with trayer as the notification area in its
# bottom-right corner, the program's window found by its title, and the tray menu cut out.
# Sourced by scripts/screenshot.sh and scripts/windows/screenshot.sh.

tiktaal_need_screen_tools() {
  local tool
  for tool in Xvfb import convert trayer xdotool xwininfo; do
    command -v "$tool" >/dev/null || {
      echo "needs Xvfb, ImageMagick, trayer, xdotool and x11-utils" \
           "(apt-get install xvfb imagemagick trayer xdotool x11-utils)" >&2
      exit 1
    }
  done
}

# Starts the screen on DISPLAY (exported) and its tray; their processes go into pids.
tiktaal_start_screen() {
  Xvfb "$1" -screen 0 480x400x24 -nolisten tcp &
  pids+=($!)
  export DISPLAY=$1
  sleep 1
  trayer --edge bottom --align right --widthtype pixel --width 64 --heighttype pixel --height 24 \
    --tint 0xd0d0d0 --transparent false &
  pids+=($!)
  sleep 1
}

# Sets window to the program's main window once it shows (TRIES polls 0.2 s apart).
tiktaal_wait_window() {
  window=""
  local _
  for _ in $(seq "${1:-50}"); do
    window=$(xdotool search --name '^Tiktaal $' 2>/dev/null | head -1) && [ -n "$window" ] && return 0
    sleep 0.2
  done
  return 1
}

# Right-clicks the tray icon, the right-most of trayer's bottom row, and waits for the menu.
tiktaal_open_tray_menu() {
  xdotool mousemove 470 388
  sleep 0.5
  xdotool mousedown 3
  sleep 0.2
  xdotool mouseup 3
  sleep 1.5
}

# Saves the screen's corner from window MENU's upper-left (less a margin) to the tray icon.
tiktaal_save_menu_corner() {
  local menu=$1 file=$2 mx my x y
  import -window root "$file.screen.png"
  read -r mx my < <(xwininfo -id "$menu" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} END {print x, y}')
  x=$((mx > 8 ? mx - 8 : 0)) y=$((my > 8 ? my - 8 : 0))
  convert "$file.screen.png" -crop "$((480 - x))x$((400 - y))+$x+$y" +repage "$file"
  rm -f "$file.screen.png"
}
