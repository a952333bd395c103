#!/usr/bin/env bash
# The whole job on this machine, with no Internet and no board: a time source on loopback,
# a pseudo-terminal pair with a stand-in board on the far side printing every line it
# receives, and Tiktaal (in a window when there is a display, else offscreen) pointed at
# both. Tiktaal sends the aligned line (its CR reaches the board on a whole second) and reads
# the board's clock back, so the board's clock is shown landing within milliseconds. The PC
# clock is left alone unless --set-clock is given. Everything started here is
# stopped again, and nothing outside a temporary directory is changed.
# Usage: scripts/demo.sh [--seconds N] [--set-clock]   (N: at least this long; default 8)
# With TIKTAAL_PROGRAM (an installed tiktaal) and TIKTAAL_TOOLS (a folder holding the built
# tiktaal-sntp-responder and tiktaal-board) nothing is built: the demo runs those.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/peers.sh
seconds=8
clock=--no-set-clock
while [ $# -gt 0 ]; do
  case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --set-clock) clock=""; shift ;;
    *) echo "usage: $0 [--seconds N] [--set-clock]" >&2; exit 2 ;;
  esac
done

program=${TIKTAAL_PROGRAM:-build-run/src/app/tiktaal}
tools=${TIKTAAL_TOOLS:-build-run/tools}
if [ -z "${TIKTAAL_PROGRAM:-}" ]; then
  bash scripts/setup.sh build
  cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIKTAAL_TESTS=OFF >/dev/null
  cmake --build build-run -j"$(nproc)" --target tiktaal tiktaal-sntp-responder tiktaal-board >/dev/null
fi

work=$(mktemp -d /tmp/tiktaal-demo.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The time source: chrony when it is installed already (never installed here, since that
# would replace the system's time service), else the responder that ships with the demo.
port=$((20000 + RANDOM % 20000))
address=127.0.0.1
if command -v chronyd >/dev/null && [ "$(id -u)" -eq 0 ]; then
  address=127.0.0.7  # an address of its own, beside any time service the machine runs
  tiktaal_start_chrony "$work" "$address" "$port"
  pids+=($CHRONY_PID)
  source_name="chronyd -x"
else
  "$tools"/tiktaal-sntp-responder --address 127.0.0.1 --port "$port" >"$work/source.log" 2>&1 &
  pids+=($!)
  source_name="tiktaal-sntp-responder"
fi

# The serial line: a pseudo-terminal pair, the board on its far end.
tiktaal_start_serial_pair "$work"
pids+=($SOCAT_PID)
# It keeps a clock set by the lines, takes 115200 baud's time on the wire, and answers the
# query with its clock.
"$tools"/tiktaal-board "$work/ttyB" --baud 115200 --query 'AT+CZAS?' >"$work/board.log" &
pids+=($!)

# Tiktaal's settings in a throw-away config: the port, and the autostart entry that makes
# it connect by itself.
export XDG_CONFIG_HOME="$work/config"
tiktaal_write_config "$XDG_CONFIG_HOME" "$work/ttyA"
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
# The stand-in board reads and answers dates and times as yyyy-MM-dd,HH:mm:ss.
export TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss

echo "time source: $source_name on $address:$port; board on $work/ttyB"
"$program" --time-server "$address:$port" $clock --align-second --board-query 'AT+CZAS?' \
  2>"$work/tiktaal.log" &
app=$!
pids+=($app)
start=$SECONDS
board_lines() { grep -c 'clock set' "$work/board.log" 2>/dev/null || true; }
wait_board_lines() {
  local _
  for _ in $(seq 300); do [ "$(board_lines)" -ge "$1" ] && return 0; sleep 0.05; done
  return 1
}
# The first line goes when the board's boot time after the connection is over; a second
# comes after "synchronise now", as a click on the label; each is followed by the query.
wait_board_lines 1 || true
sleep 1
kill -USR1 "$app" 2>/dev/null || true
wait_board_lines 2 || true
sleep 1
while [ $((SECONDS - start)) -lt "$seconds" ]; do sleep 0.2; done
kill -TERM "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true

echo "--- what Tiktaal reported"
cat "$work/tiktaal.log"
echo "--- what the board received"
cat "$work/board.log"
echo "---"
echo "Each line names the next whole second and is sent so that its CR reaches the board on"
echo "it: 'clock set, off by' is how far the board's new clock is from the true time, and"
echo "'board clock off by' is what Tiktaal reads back from the board's answer."
[ "$(board_lines)" -ge 1 ]
