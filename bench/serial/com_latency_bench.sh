#!/usr/bin/env bash
# The line latency of the serial link on Linux and, under Wine, on a Windows COM port, with
# the same far end: socat links a pseudo-terminal as the port and hands its other side to a
# loopback TCP connection, which the benchmark reads.
# Usage: bench/serial/com_latency_bench.sh [LINUX_BUILD=build] [WINDOWS_BUILD=build-windows] [lines]
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
linux_build=${1:-build}
windows_build=${2:-build-windows}
lines=${3:-1000}
dir=$(mktemp -d /tmp/tiktaal-latency-XXXXXX)
pid=
stop() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  pid=
}
trap 'stop; [ -n "${prefix:-}" ] && bash "$root/scripts/windows/wine-prefix.sh" remove "$prefix" >/dev/null 2>&1; rm -rf "$dir"' EXIT

far_side() {  # PORT: one socat for one run
  rm -f "$dir/tty"
  socat "pty,raw,echo=0,link=$dir/tty" "tcp-listen:$1,bind=127.0.0.1,reuseaddr" 2>/dev/null &
  pid=$!
  for _ in $(seq 100); do [ -e "$dir/tty" ] && return 0; sleep 0.05; done
  echo "socat did not start" >&2
  return 1
}

port=$((20000 + (RANDOM * 7 + $$) % 12000))
if [ -x "$linux_build/bench/serial/com_latency_bench" ]; then
  far_side $port
  printf 'Linux:   '
  "$linux_build/bench/serial/com_latency_bench" "$dir/tty" $port "$lines"
  stop
fi
exe=$windows_build/bin/com_latency_bench.exe
if [ -f "$exe" ]; then
  prefix=$dir/wine
  bash "$root/scripts/windows/wine-prefix.sh" fresh "$prefix"
  port=$((port + 1))
  far_side $port
  ln -sfn "$dir/tty" "$prefix/dosdevices/com7"
  printf 'Windows (Wine): '
  TIKTAAL_WINEPREFIX=$prefix bash "$root/scripts/windows/wine-run.sh" "$exe" COM7 $port "$lines"
  stop
fi
