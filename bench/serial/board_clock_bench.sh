#!/usr/bin/env bash
# The board's clock after each line, through the real program: a local SNTP responder as
# the time source, the stand-in board at 9600 baud on a pseudo-terminal of its own (it
# models the wire time and prints, for every line, the time the line names minus the true
# moment its CR arrived). N synchronisations ("synchronise now", at random moments within
# the second) without and with --align-second; prints the median and 99th percentile of
# that error for each. The PC clock is left alone.
# Usage: bench/serial/board_clock_bench.sh BUILD-DIR [N=100]
set -euo pipefail
build=${1:?build dir}
count=${2:-100}
. "$(dirname "$0")/../../scripts/lib/peers.sh"
work=$(mktemp -d /tmp/tiktaal-bench.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
port=$((20000 + RANDOM % 20000))
"$build/tools/tiktaal-sntp-responder" --address 127.0.0.1 --port "$port" >/dev/null &
pids+=($!)
export QT_QPA_PLATFORM=offscreen TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss

errors() { grep 'clock set, off by' "$work/board.log" | awk '{print $(NF-1)}'; }
# Of the last N errors (ms): the median, the 99th percentile of the size |error|, how many
# are within 2 ms, the range.
summary() {
  local values
  values=$(errors | tail -n "$count" | awk '{ printf "%.6f\n", $1 * 1000 }' | sort -g)
  printf '%s\n' "$values" | awk -v sizes="$(printf '%s\n' "$values" | awk '{ print ($1 < 0 ? -$1 : $1) }' | sort -g | tr '\n' ' ')" '
    { v[NR] = $1; if ($1 >= -2 && $1 <= 2) near++ }
    END {
      k = split(sizes, a, " "); p = int(k * 0.99 + 0.999999); if (p < 1) p = 1;
      m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2;
      printf "median %+.3f ms, p99 of |error| %.3f ms, %d within 2 ms, range %+.3f to %+.3f ms (%d lines)",
             m, a[p], near, v[1], v[NR], NR }'
}

run_mode() {
  local label=$1
  shift
  "$build/tools/tiktaal-board" --pty "$work/tty" --epoch --baud 9600 >"$work/board.log" &
  local bp=$!
  pids+=($bp)
  for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.02; done
  tiktaal_write_config "$work/config" "$work/tty"
  printf 'REGEDIT4\n\n[Software\\Tiktaal]\n"Port komunikacyjny"="%s"\n"baudRate"="5"\n' \
    "$work/tty" >"$work/config/Tiktaal/user.reg"
  "$build/src/app/tiktaal" --time-server "127.0.0.1:$port" --no-set-clock "$@" 2>"$work/tiktaal.log" &
  local app=$!
  pids+=($app)
  tiktaal_wait_board_lines "$work/board.log" 1 200 0.05 || { echo "no line reached the board"; cat "$work/tiktaal.log"; exit 1; }
  sleep 2.5  # the connection's own cycles pass
  for _ in $(seq "$count"); do
    local n
    n=$(errors | wc -l)
    sleep "0.$(printf '%03d' $((RANDOM % 1000)))"
    kill -USR1 "$app"
    for _ in $(seq 1000); do [ "$(errors | wc -l)" -gt "$n" ] && break; sleep 0.005; done
  done
  kill -TERM "$app"
  wait "$app" 2>/dev/null || true
  kill "$bp"
  wait "$bp" 2>/dev/null || true
  printf '%-28s %s\n' "$label" "$(summary)"
}

echo "board clock error at 9600 baud (time the line names - true arrival of its CR):"
run_mode "line at once (default):"
run_mode "--align-second:" --align-second
