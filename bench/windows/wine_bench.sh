#!/usr/bin/env bash
# The Windows program under Wine (after scripts/windows.sh [--package]): launch to first paint
# (the windows platform on Xvfb when it is there, else offscreen), and "synchronise now" to
# the line's arrival at the stand-in board on COM5 (the named event set, an SNTP query to a
# loopback responder, the line written to the COM port); medians of RUNS, and the sizes of
# the installer and of what it installs.
# Usage: bench/windows/wine_bench.sh [BUILD_DIR [RUNS]]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
dir=$(realpath "${1:-build-windows}")
runs=${2:-10}
scripts=$here/../../scripts/windows
work=$(mktemp -d)
export TIKTAAL_WINEPREFIX=$work/prefix TIKTAAL_WINE_SCRIPTS=$scripts
wine_() { bash "$scripts/wine-run.sh" "$@"; }
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  bash "$scripts/wine-prefix.sh" remove "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
platform=offscreen
if command -v Xvfb >/dev/null; then
  export DISPLAY=:$((70 + RANDOM % 9))
  Xvfb "$DISPLAY" -screen 0 640x480x24 -nolisten tcp 2>/dev/null &
  pids+=($!)
  sleep 1
  platform=windows
fi
bash "$scripts/wine-prefix.sh" fresh "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1
WINEPREFIX=$TIKTAAL_WINEPREFIX bash "$scripts/no-serial.sh" \
  setpriv --bounding-set=-sys_time --inh-caps=-sys_time wineserver -p >/dev/null 2>&1
export QT_QPA_PLATFORM=$platform TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
p99() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {i=int(NR*0.99+0.999); print a[i<1?1:i]}'; }
end_session() {
  wine_ wineboot --end-session >/dev/null 2>&1 || true
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
  kill "$1" 2>/dev/null || true
}

paints=()
for _ in $(seq "$runs"); do
  start=$(date +%s%3N)
  TIKTAAL_REPORT_FIRST_PAINT=1 wine_ "$dir/bin/tiktaal.exe" --time-server 127.0.0.1:9 \
    --no-set-clock 2>"$work/err" &
  app=$!
  for _ in $(seq 200); do grep -q 'first paint at' "$work/err" && break; sleep 0.05; done
  painted=$(sed -n 's/^first paint at \([0-9]*\) ms.*$/\1/p' "$work/err" | head -1)
  end_session "$app"
  [ -n "$painted" ] && paints+=($((painted - start)))
done

port=$((20000 + RANDOM % 20000))
"$dir/host-tools/tools/tiktaal-sntp-responder" --address 127.0.0.1 --port "$port" >/dev/null &
pids+=($!)
"$dir/host-tools/tools/tiktaal-board" --pty "$work/tty" --epoch >"$work/board.log" &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.05; done
ln -sfn "$work/tty" "$TIKTAAL_WINEPREFIX/dosdevices/com5"
wine_ reg add 'HKCU\Software\Tiktaal' /v "Port komunikacyjny" /d COM5 /f >/dev/null
wine_ reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Tiktaal /d x /f >/dev/null
wine_ "$dir/bin/tiktaal.exe" --time-server "127.0.0.1:$port" --no-set-clock 2>/dev/null &
app=$!
lines() { grep -c 'board received:' "$work/board.log" || true; }
for _ in $(seq 400); do [ "$(lines)" -ge 1 ] && break; sleep 0.05; done
sleep 2
syncs=()
for _ in $(seq "$runs"); do
  before=$(lines)
  set_at=$(wine_ "$dir/bin/sync_now.exe" | tr -d '\r')
  for _ in $(seq 200); do [ "$(lines)" -gt "$before" ] && break; sleep 0.02; done
  stamp=$(grep 'board received:' "$work/board.log" | sed -n "$((before + 1))p" | awk '{print $1}')
  [ -n "$stamp" ] && syncs+=("$(awk -v s="$stamp" -v t="$set_at" 'BEGIN { printf "%d", s * 1000 - t }')")
  sleep 1.2  # the next request comes in another second, as a user's would
done
end_session "$app"

echo "platform: $platform under Wine $(wine --version 2>/dev/null), runs: $runs"
echo "launch to first paint: median $(median "${paints[@]}") ms (all: ${paints[*]})"
echo "synchronise now to the line at the board on COM5: median $(median "${syncs[@]}") ms," \
     "p99 $(p99 "${syncs[@]}") ms (all: ${syncs[*]})"
echo "tiktaal.exe: $(stat -c %s "$dir/bin/tiktaal.exe") bytes, tiktaal-gsm.exe: $(stat -c %s "$dir/bin/tiktaal-gsm.exe") bytes"
if ls "$dir"/package/*-setup.exe >/dev/null 2>&1; then
  setup=$(ls "$dir"/package/*-setup.exe)
  stage=$work/stage
  cmake --install "$dir" --prefix "$stage" >/dev/null
  echo "installer: $(stat -c %s "$setup") bytes; installed: $(du -sk "$stage" | cut -f1) KiB in $(find "$stage" -type f | wc -l) files"
fi
