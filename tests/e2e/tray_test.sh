#!/usr/bin/env bash
# The taskbar and the tray as a desktop shows them: Xvfb, openbox as the window manager and
# tint2 as the panel. tint2's taskbar lists the windows the window manager reports
# (_NET_CLIENT_LIST) less those whose _NET_WM_STATE holds _NET_WM_STATE_SKIP_TASKBAR; its
# tray holds the icons. What is checked is what the panel reads, and the window's map state.
#   with-tray            the panel runs from the start: no taskbar button, the icon in the
#                        tray, the close box hides to it and the icon brings the window back
#                        still without a button
#   tray-comes-and-goes  the panel starts after the program and ends while the window is in
#                        the tray: the window always keeps a way back
# Usage: tray_test.sh TIKTAAL MODE
set -uo pipefail
tiktaal=$1
mode=$2
. "$(dirname "$0")/../../scripts/lib/peers.sh"
for tool in Xvfb openbox tint2 xprop xwininfo xdotool wmctrl; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool (scripts/setup.sh test)"; exit 77; }
done

tiktaal_begin_test tiktaal-tray-e2e
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; exit 1; }
# eventually TRIES COMMAND...: true once COMMAND succeeds, polling every 0.1 s.
eventually() {
  local tries=$1 _
  shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

# A display of its own, whatever number is free; no session bus, so that Qt's tray is the
# X11 one the panel embeds.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export QT_QPA_PLATFORM=xcb HOME=$work
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
eventually 100 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=:$(head -1 "$work/display")
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
eventually 100 wm_running || fail "openbox did not start"
printf 'panel_items = TS\npanel_position = bottom center horizontal\npanel_size = 100%% 30\n' \
  >"$work/tint2rc"

panel=""
start_panel() {
  tint2 -c "$work/tint2rc" >/dev/null 2>&1 &
  panel=$!
  pids+=($panel)
  eventually 100 panel_window >/dev/null || fail "tint2 did not start"
}
panel_window() { xdotool search --class '^tint2$' 2>/dev/null | head -1 | grep .; }

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
# The program is not in pids: it ends first, on SIGTERM, while its display is still there.
app=""
start_program() {
  "$tiktaal" --no-set-clock --time-server 127.0.0.1:9 >"$work/tiktaal.log" 2>&1 &
  app=$!
  eventually 100 find_window || fail "the window did not appear"
}
stop_program() {
  [ -n "$app" ] || return 0
  local ended=0
  kill -TERM "$app" 2>/dev/null
  eventually 100 eval '! running' || { ended=1; kill -KILL "$app"; }
  wait "$app" 2>/dev/null
  app=""
  return $ended
}
trap 'stop_program; for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
find_window() { win=$(xdotool search --name '^Tiktaal $' 2>/dev/null | head -1) && [ -n "$win" ]; }

# What the panel reads, and what the window manager shows.
on_taskbar() {
  xprop -root _NET_CLIENT_LIST | grep -qw "$(printf '0x%x' "$win")" &&
    ! xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR
}
off_taskbar() { xprop -id "$win" _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR; }
icon_in_tray() { xwininfo -tree -id "$(panel_window)" 2>/dev/null | grep -q '("tiktaal" "Tiktaal")'; }
viewable() { xwininfo -id "$win" | grep -q 'Map State: IsViewable'; }
minimised() { xprop -id "$win" WM_STATE 2>/dev/null | grep -q 'window state: Iconic'; }
withdrawn() { xwininfo -id "$win" | grep -q 'Map State: IsUnMapped' && ! minimised; }
running() { kill -0 "$app" 2>/dev/null; }
close_box() { wmctrl -i -c "$win"; }
click_icon() {
  local icon
  icon=$(xwininfo -tree -id "$(panel_window)" | awk '/\("tiktaal" "Tiktaal"\)/ {print $1; exit}')
  xdotool mousemove --window "$icon" 4 4 click 1
}

case $mode in
  with-tray)
    start_panel
    start_program
    eventually 50 viewable || fail "the window is not shown"
    eventually 50 icon_in_tray || fail "no icon in the tray"
    eventually 50 off_taskbar || fail "the taskbar shows a button beside the tray icon"
    close_box
    eventually 50 withdrawn || fail "the close box did not hide the window to the tray"
    running || fail "the close box ended the program"
    click_icon
    eventually 50 viewable || fail "the tray icon did not bring the window back"
    eventually 50 off_taskbar || fail "shown again from the tray, the window has a taskbar button"
    ;;
  tray-comes-and-goes)
    start_program
    eventually 50 viewable || fail "the window is not shown"
    on_taskbar || fail "without a tray the window has no taskbar button"
    close_box
    eventually 50 minimised || fail "without a tray the close box did not minimise"
    on_taskbar && running || fail "minimised without a tray, the window lost its way back"
    start_panel  # the panel starts after the program, as at a login
    eventually 60 icon_in_tray || fail "the icon did not come to a tray that started later"
    eventually 60 off_taskbar || fail "with the tray there, the taskbar still shows a button"
    close_box
    eventually 50 withdrawn || fail "with the tray there, the close box did not hide to it"
    kill "$panel"  # the tray goes away while the window is in it
    eventually 60 on_taskbar || fail "the tray went away and the window has no taskbar button"
    minimised || viewable || fail "the tray went away and the window stayed hidden"
    close_box
    sleep 0.5
    minimised && on_taskbar && running || fail "without the tray the close box lost the window"
    ;;
  *) echo "usage: $0 TIKTAAL with-tray|tray-comes-and-goes" >&2; exit 2 ;;
esac
stop_program || fail "the program did not end on SIGTERM"
echo "PASS: $mode"
