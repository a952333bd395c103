#!/usr/bin/env bash
# Runs a Windows test program under Wine with a COM port whose far end it reaches over
# loopback TCP. socat makes a pseudo-terminal, links it as the prefix's COM port, and hands
# the terminal's other side to the first connection on 127.0.0.1:PORT; when either side
# closes, socat ends (the device is unplugged) and a fresh one takes its place.
# The program learns the port and the far end from TIKTAAL_TEST_COM and TIKTAAL_TEST_FAR.
# Usage: with_com_peer.sh COM_NUMBER PROGRAM.exe [ARGS...]
set -euo pipefail
number=$1
shift
: "${TIKTAAL_WINEPREFIX:?the Wine prefix to run in}"
: "${TIKTAAL_WINE_SCRIPTS:?the folder of wine-run.sh}"
bash "$TIKTAAL_WINE_SCRIPTS/wine-prefix.sh" ensure "$TIKTAAL_WINEPREFIX"

dir=$(mktemp -d /tmp/tiktaal-com-XXXXXX)
loop=
cleanup() {
  touch "$dir/stop"
  if [ -n "$loop" ]; then
    pkill -P "$loop" 2>/dev/null || true
    kill "$loop" 2>/dev/null || true
    wait "$loop" 2>/dev/null || true
  fi
  rm -f "$TIKTAAL_WINEPREFIX/dosdevices/com$number"
  rm -rf "$dir"
}
trap cleanup EXIT

# A port nobody listens on, from the range the system does not hand out on its own.
port=$((20000 + (RANDOM * 7 + $$) % 12000))
serve() {
  while [ ! -e "$dir/stop" ]; do
    socat "pty,raw,echo=0,link=$dir/tty" "tcp-listen:$port,bind=127.0.0.1,reuseaddr" \
      2>/dev/null || sleep 0.05
  done
}
serve &
loop=$!
for _ in $(seq 100); do [ -e "$dir/tty" ] && break; sleep 0.05; done
ln -sfn "$dir/tty" "$TIKTAAL_WINEPREFIX/dosdevices/com$number"

export TIKTAAL_TEST_COM=COM$number TIKTAAL_TEST_FAR=$port
bash "$TIKTAAL_WINE_SCRIPTS/wine-run.sh" "$@"
