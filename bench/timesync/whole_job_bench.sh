#!/usr/bin/env bash
# The whole job, measured: seven time servers of which six never answer, a socat pair with
# the stand-in board. Prints the time from program start to the first line at the board,
# the median time from "synchronise now" (SIGUSR1) to the line over 20 requests, and the
# program's resident memory and CPU use per second while idle with the link up.
# Usage: bench/timesync/whole_job_bench.sh BUILD-DIR
set -euo pipefail
build=${1:?build dir}
. "$(dirname "$0")/../../scripts/lib/peers.sh"
work=$(mktemp -d /tmp/tiktaal-bench.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
base=$((20000 + RANDOM % 20000))
servers=()
for i in 1 2 3 4 5 6; do
  "$build/tools/tiktaal-sntp-responder" --address 127.0.0.1 --port $((base + i)) --silent >/dev/null &
  pids+=($!)
  servers+=(--time-server "127.0.0.1:$((base + i))")
done
if command -v chronyd >/dev/null && [ "$(id -u)" -eq 0 ]; then
  tiktaal_start_chrony "$work" 127.0.0.6 "$base"
  pids+=($CHRONY_PID)
  answering="127.0.0.6:$base (chrony)"
  servers+=(--time-server "127.0.0.6:$base")
else
  "$build/tools/tiktaal-sntp-responder" --address 127.0.0.1 --port "$base" >/dev/null &
  pids+=($!)
  answering="127.0.0.1:$base (responder)"
  servers+=(--time-server "127.0.0.1:$base")
fi
tiktaal_start_serial_pair "$work"
pids+=($SOCAT_PID)
"$build/tools/tiktaal-board" "$work/ttyB" --epoch >"$work/board.log" &
pids+=($!)

export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
export TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
tiktaal_write_config "$XDG_CONFIG_HOME" "$work/ttyA"

lines() { tiktaal_board_lines "$work/board.log"; }
stamp_of() { tiktaal_board_stamp "$work/board.log" "$1"; }
wait_lines() { tiktaal_wait_board_lines "$work/board.log" "$1" 400 0.005; }

start=$(date +%s.%N)
"$build/src/app/tiktaal" "${servers[@]}" --no-set-clock 2>"$work/tiktaal.log" &
app=$!
pids+=($app)
wait_lines 1 || { echo "no line reached the board"; cat "$work/tiktaal.log"; exit 1; }
first=$(awk -v a="$(stamp_of 1)" -v b="$start" 'BEGIN { printf "%.0f", (a - b) * 1000 }')
sleep 2.5  # let the connection's own cycle pass
delays=()
for _ in $(seq 20); do
  n=$(lines)
  sent=$(date +%s.%N)
  kill -USR1 "$app"
  wait_lines $((n + 1)) || { echo "no line after synchronise now"; exit 1; }
  delays+=("$(awk -v a="$(stamp_of $((n + 1)))" -v b="$sent" 'BEGIN { printf "%.1f", (a - b) * 1000 }')")
  sleep 0.3
done
sleep 6  # the silent servers' workers time out after 5 s
ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
t0=$(ticks); sleep 10; t1=$(ticks)
hz=$(getconf CLK_TCK)
rss=$(awk '/VmRSS/ {print $2}' "/proc/$app/status")
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "servers: 7 (6 silent), answering $answering"
echo "program start to first line at the board: $first ms"
echo "synchronise now to line at the board: median $(median "${delays[@]}") ms over 20 (all: ${delays[*]})"
echo "resident memory: $rss KiB"
awk -v d=$((t1 - t0)) -v hz="$hz" 'BEGIN { printf "CPU while idle with the link up: %.1f ms per second\n", d * 1000 / hz / 10 }'
