#!/usr/bin/env bash
# Start-up of the window: time from launch to the first frame, and resident memory once
# it has settled, median of RUNS starts (under Xvfb when it is there, else offscreen).
# Usage: bench/app/startup_bench.sh BUILD-DIR [RUNS]
set -euo pipefail
build=${1:?build dir}
runs=${2:-10}
app="$build/src/app/tiktaal"
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
xvfb=""
if command -v Xvfb >/dev/null; then
  export DISPLAY=:$((80 + RANDOM % 9))
  Xvfb "$DISPLAY" -screen 0 640x480x24 -nolisten tcp 2>/dev/null &
  xvfb=$!
  sleep 1
  platform="xcb (Xvfb)"
else
  export QT_QPA_PLATFORM=offscreen
  platform=offscreen
fi
export XDG_CONFIG_HOME="$work/config" TIKTAAL_REPORT_FIRST_PAINT=1
paints=() rss=()
for _ in $(seq "$runs"); do
  rm -rf "$XDG_CONFIG_HOME"
  rm -f "$work/err"
  start=$(date +%s%3N)
  "$app" --time-server 127.0.0.1:9 --no-set-clock 2>"$work/err" &
  pid=$!
  for _ in $(seq 100); do grep -q 'first paint at' "$work/err" && break; sleep 0.05; done
  painted=$(sed -n 's/^first paint at \([0-9]*\) ms$/\1/p' "$work/err" | head -1)
  sleep 2
  rss+=("$(awk '/VmRSS/ {print $2}' /proc/$pid/status)")
  kill -TERM $pid; wait $pid 2>/dev/null || true
  [ -n "$painted" ] && paints+=($((painted - start)))
done
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "platform: $platform, runs: $runs"
echo "launch to first paint: median $(median "${paints[@]}") ms (all: ${paints[*]})"
echo "resident memory after 2 s: median $(median "${rss[@]}") KiB"
