#!/usr/bin/env bash
# The whole job end to end: the real program on the offscreen platform, a local chrony as
# its only time source, a socat pseudo-terminal pair with a stand-in board. The board must
# receive a line in the user's formats whose time is within a second of chrony's (which
# serves this machine's clock), once after the start and again after "synchronise now".
# The PC clock is left alone (--no-set-clock). Exit 77 skips when a peer is missing.
# Usage: whole_job_test.sh TIKTAAL BOARD
set -uo pipefail
tiktaal=$1
board=$2
. "$(dirname "$0")/../../scripts/lib/peers.sh"
command -v chronyd >/dev/null || { echo "SKIP: chronyd is not installed"; exit 77; }
command -v socat >/dev/null || { echo "SKIP: socat is not installed"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "SKIP: chronyd needs root"; exit 77; }

tiktaal_begin_test tiktaal-e2e
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; echo "--- board";
         cat "$work/board.log"; echo "--- chrony"; cat "$work/chrony.log"; exit 1; }

port=$((20000 + RANDOM % 20000))
tiktaal_start_chrony "$work" 127.0.0.5 "$port"
pids+=($CHRONY_PID)
tiktaal_start_serial_pair "$work" || fail "socat made no pair"
pids+=($SOCAT_PID)
"$board" "$work/ttyB" --epoch >"$work/board.log" &
pids+=($!)

export XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen
export TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
tiktaal_write_config "$XDG_CONFIG_HOME" "$work/ttyA"
"$tiktaal" --time-server "127.0.0.5:$port" --no-set-clock >"$work/tiktaal.log" 2>&1 &
app=$!
pids+=($app)

lines() { tiktaal_board_lines "$work/board.log"; }
wait_lines() { tiktaal_wait_board_lines "$work/board.log" "$1"; }
# The n-th line: its receipt stamp against the date and time it carries.
check_line() {
  local entry stamp text when
  entry=$(grep 'board received:' "$work/board.log" | sed -n "${1}p")
  stamp=${entry%% *}
  text=${entry#*board received: }
  [[ $text =~ ^AT\+CZAS=([0-9]{4}-[0-9]{2}-[0-9]{2}),([0-9]{2}:[0-9]{2}:[0-9]{2})$ ]] ||
    fail "line $1 is not prefix, date, comma, time: '$text'"
  when=$(date -d "${BASH_REMATCH[1]} ${BASH_REMATCH[2]}" +%s) || fail "unreadable time '$text'"
  # The line carries whole seconds: it lies within the second before its receipt, plus the
  # time on its way (a line composed at :19.99 may arrive after :20 on a busy machine).
  awk -v s="$stamp" -v w="$when" 'BEGIN { d = s - w; exit !(d >= -1 && d <= 1.5) }' ||
    fail "line $1 '$text' received at $stamp is more than a second off"
}

wait_lines 1 || fail "no line reached the board after the start"
check_line 1
grep -q "time from 127.0.0.5:$port" "$work/tiktaal.log" || fail "the time did not come from chrony"
sleep 1.5  # the connection's own synchronisation may still be on its way
before=$(lines)
kill -USR1 "$app"
wait_lines $((before + 1)) || fail "no line after synchronise now"
check_line $((before + 1))
kill -TERM "$app"
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app" 2>/dev/null && fail "the program did not end on SIGTERM"
grep -q 'link up on' "$work/tiktaal.log" || fail "no link line on standard error"
# Every line on standard error is the program's own; Qt has nothing to warn about.
! grep -v 'tiktaal: ' "$work/tiktaal.log" || fail "lines on standard error that are not Tiktaal's"
echo "PASS: $(lines) lines reached the board"
