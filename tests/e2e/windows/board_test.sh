#!/usr/bin/env bash
# The Windows program end to end under Wine: tiktaal.exe on the offscreen platform, a loopback
# SNTP responder as its only time source, and the stand-in board on a pseudo-terminal that the
# prefix links as COM5. The port comes from the registry as a user's would. The board must get
# a line in the given formats after the start and after "synchronise now" (the session's
# named event); the end of the session (wineboot --end-session) must end the program, which
# stores its settings in the registry on the way out: read back with `reg query`. The clock
# is never set (--no-set-clock, and Wine runs without the right to set it). Started as the
# Run key or the Start menu starts it (no console, no standard handles), its event lines go
# to its log file; a wrong option is told on standard error when that is redirected.
# Usage: board_test.sh TIKTAAL.EXE SYNC-NOW.EXE RUN-DETACHED.EXE BOARD SNTP-RESPONDER
set -uo pipefail
tiktaal=$1
sync_now=$2
run_detached=$3
board=$4
responder=$5
. "$(dirname "$0")/../../../scripts/lib/peers.sh"
tiktaal_begin_wine_test tiktaal-wine-e2e 5
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; echo "--- board";
         cat "$work/board.log"; exit 1; }

port=$((20000 + RANDOM % 20000))
"$responder" --address 127.0.0.1 --port "$port" >/dev/null &
pids+=($!)
"$board" --pty "$work/tty" --epoch >"$work/board.log" &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/tty" ] && break; sleep 0.05; done
ln -sfn "$work/tty" "$com"

# The port as the user chose it, and the autostart entry that makes the program connect on
# its own at the start.
key='HKCU\Software\Tiktaal'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
wine_ reg delete "$key" /f >/dev/null 2>&1
wine_ reg add "$key" /v "Port komunikacyjny" /d COM5 /f >/dev/null || fail "reg add refused"
wine_ reg add "$run_key" /v Tiktaal /d '"C:\tiktaal.exe"' /f >/dev/null || fail "reg add refused"

log=$TIKTAAL_WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Tiktaal/tiktaal.log
rm -f "$log"
ln -sfn "$log" "$work/tiktaal.log"  # for fail()
# Offscreen, unless told otherwise (an installed copy has only the windows plugin).
export QT_QPA_PLATFORM=${TIKTAAL_TEST_QPA:-offscreen} TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
exe=$(wine_ winepath -w "$tiktaal" 2>/dev/null)
wine_ "$run_detached" "$exe" --time-server "127.0.0.1:$port" --no-set-clock >/dev/null 2>&1 &
app=$!
pids+=($app)

check_line() {
  local text
  text=$(grep 'board received:' "$work/board.log" | sed -n "${1}p")
  text=${text#*board received: }
  [[ $text =~ ^AT\+CZAS=[0-9]{4}-[0-9]{2}-[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] ||
    fail "line $1 is not prefix, date, comma, time: '$text'"
}
tiktaal_wait_board_lines "$work/board.log" 1 600 || fail "no line reached the board on COM5"
check_line 1
grep -q "time from 127.0.0.1:$port" "$log" || fail "the time did not come from the responder"
sleep 1.5  # the connection's own synchronisation may still be on its way
before=$(tiktaal_board_lines "$work/board.log")
wine_ "$sync_now" || fail "the sync-now event could not be set"
tiktaal_wait_board_lines "$work/board.log" $((before + 1)) 200 || fail "no line after synchronise now"
check_line $((before + 1))

wine_ wineboot --end-session >/dev/null 2>&1
for _ in $(seq 200); do kill -0 "$app" 2>/dev/null || break; sleep 0.05; done
kill -0 "$app" 2>/dev/null && fail "the program did not end with the session"
grep -q 'link up on COM5' "$log" || fail "no link line for COM5 in the log file"
stored=$(wine_ reg query "$key" 2>&1)
grep -q 'Port komunikacyjny.*REG_SZ.*COM5' <<<"$stored" || fail "the port is not in the registry: $stored"
grep -q 'ATString.*REG_SZ.*AT+CZAS=' <<<"$stored" || fail "the prefix was not stored: $stored"
wine_ reg delete "$run_key" /v Tiktaal /f >/dev/null 2>&1

wine_ "$tiktaal" --bogus >/dev/null 2>"$work/err"
[ $? = 2 ] || fail "a wrong option did not end with status 2"
grep -q "unknown option '--bogus'" "$work/err" || fail "the wrong option was not told on standard error"
echo "PASS: $(tiktaal_board_lines "$work/board.log") lines reached the board on COM5"
