#!/usr/bin/env bash
# Whom the real program trusts, end to end, with a fake clock helper (the PC clock is never
# touched) and a stand-in board: a far server named twice, and again through another name
# for the same address, cannot vouch for itself; a step the helper refuses is one
# "sync error" with its reason and no line for the board; a numeric "SetClock" setting is
# said; unclosed or trailing brackets are refused at start.
# Usage: time_trust_test.sh TIKTAAL SNTP-RESPONDER BOARD
set -uo pipefail
tiktaal=$1
responder=$2
board=$3
. "$(dirname "$0")/../../scripts/lib/peers.sh"
command -v socat >/dev/null || { echo "SKIP: socat is not installed"; exit 77; }

tiktaal_begin_test tiktaal-trust-e2e
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; echo "--- asked";
         cat "$work/asked" 2>/dev/null; echo "--- board"; cat "$work/board.log"; exit 1; }

export QT_QPA_PLATFORM=offscreen TZ=UTC
export TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
tiktaal_start_serial_pair "$work" || fail "socat made no pair"
pids+=($SOCAT_PID)
"$board" "$work/ttyB" >"$work/board.log" &
pids+=($!)
tiktaal_write_config "$work/config" "$work/ttyA"

# helper STATUS [MESSAGE]: a clock helper that records its offset and exits with STATUS.
helper() {
  printf '#!/bin/sh\necho "$1" >>%s/asked\necho "%s" >&2\nexit %s\n' "$work" "${2:-}" "$1" \
    >"$work/helper"
  chmod +x "$work/helper"
}
export TIKTAAL_SET_CLOCK_HELPER=$work/helper

base=$((20000 + RANDOM % 20000))
"$responder" --address 127.0.0.1 --port $base --offset 2300000000 >/dev/null &  # 2100
pids+=($!)
"$responder" --address 127.0.0.1 --port $((base + 1)) --silent >/dev/null &
pids+=($!)

# run SECONDS ARGS...: the program for that long, then stopped.
run() {
  local seconds=$1
  shift
  rm -f "$work/asked"
  "$tiktaal" --set-clock=always "$@" >"$work/tiktaal.log" 2>&1 &
  local app=$!
  sleep "$seconds"
  kill -TERM "$app"
  wait "$app" 2>/dev/null
}

helper 0
rm -f "$work/asked"
"$tiktaal" --set-clock=always --time-server "127.0.0.1:$base" --time-server "127.0.0.1:$base" \
  --time-server "localhost:$base" --time-server "127.0.0.1:$((base + 1))" >"$work/tiktaal.log" 2>&1 &
app=$!
# Every cycle asks the entry written twice once, as often as the other name for it. A cycle
# may be half logged when looked at: the counts are taken once those of two cycles (the start
# and the link's coming up) agree, within 8 s; asked twice, the one entry would count double.
for _ in $(seq 80); do
  sleep 0.1
  twice=$(grep -c "time from 127.0.0.1:$base refused: +2300000" "$work/tiktaal.log")
  other=$(grep -c "time from localhost:$base refused: +2300000" "$work/tiktaal.log")
  [ "$twice" -ge 2 ] && [ "$twice" -eq "$other" ] && break
done
kill -TERM "$app"
wait "$app" 2>/dev/null
[ "$twice" -ge 2 ] && [ "$twice" -eq "$other" ] ||
  fail "the far server was not asked once per distinct entry and cycle ($twice, $other)"
[ -e "$work/asked" ] && fail "a far server vouched for itself and the clock was stepped"

# The helper refuses: a sync error with its reason, once, and nothing for the board.
"$responder" --address 127.0.0.1 --port $((base + 2)) --offset 0.5 >/dev/null &
pids+=($!)
helper 2 "tiktaal-set-clock: the clock would land before 2000 or after 2200"
run 4 --time-server "127.0.0.1:$((base + 2))"
[ -s "$work/asked" ] || fail "the helper was never asked"
grep -q 'link up on' "$work/tiktaal.log" || fail "the link to the board never came up"
# Each cycle (at start, and when the link came up) tries one step and says one sync error.
[ "$(grep -c 'sync error' "$work/tiktaal.log")" -eq "$(wc -l <"$work/asked")" ] ||
  fail "not exactly one sync error per refused step"
grep -q 'sync error: .*exit status 2): the clock would land before 2000 or after 2200' \
  "$work/tiktaal.log" || fail "the sync error does not carry the helper's reason"
[ "$(tiktaal_board_lines "$work/board.log")" -eq 0 ] || fail "the board got a line for a refused step"

# A numeric SetClock is said, and read as auto.
printf '"SetClock"=dword:00000001\n' >>"$work/config/Tiktaal/user.reg"
helper 0
"$tiktaal" --time-server 127.0.0.1:$((base + 1)) >"$work/tiktaal.log" 2>&1 &
app=$!
sleep 1
kill -TERM "$app"
wait "$app" 2>/dev/null
grep -q 'SetClock is a number' "$work/tiktaal.log" || fail "a numeric SetClock was not said"

for bad in '[::1' '[::1]x' '[::1]:' '[host]:123'; do
  "$tiktaal" --time-server "$bad" >"$work/tiktaal.log" 2>&1
  [ $? -eq 2 ] || fail "time server '$bad' was not refused at start with status 2"
done
echo "PASS: no source vouched for itself, a refused step was a sync error"
