#!/usr/bin/env bash
# Setting the clock through the real program, with a fake clock helper that records the
# offset it is asked to step by (the PC clock is never touched): a time from the only
# source is taken even two hours off; of two sources two hours off only one that agrees
# with another moves the clock; a time script that answers at once and then holds the
# connection open is aged by its arrival; a source that cannot be asked is refused at
# start with status 2.
# Usage: set_clock_test.sh TIKTAAL SNTP-RESPONDER
set -uo pipefail
tiktaal=$1
responder=$2
. "$(dirname "$0")/../../scripts/lib/peers.sh"

tiktaal_begin_test tiktaal-setclock-e2e
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; echo "--- asked";
         cat "$work/asked" 2>/dev/null; exit 1; }

printf '#!/bin/sh\necho "$1" >>%s/asked\n' "$work" >"$work/helper"
chmod +x "$work/helper"
export TIKTAAL_SET_CLOCK_HELPER=$work/helper QT_QPA_PLATFORM=offscreen TZ=UTC
export TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
tiktaal_write_config "$work/config" "$work/no-such-tty"
rm -f "$work/config/autostart/Tiktaal.desktop"  # no link needed: the start-up cycle is enough

base=$((20000 + RANDOM % 20000))
responder_at() {  # PORT OFFSET
  "$responder" --address 127.0.0.1 --port "$1" --offset "$2" >/dev/null &
  pids+=($!)
}
responder_at $base 7200
responder_at $((base + 1)) 7200.8

# run SOURCES...: the program until the helper was asked once (or 15 s on a slow, busy
# machine), then stopped.
run() {
  rm -f "$work/asked"
  "$tiktaal" --set-clock=always "$@" >"$work/tiktaal.log" 2>&1 &
  local app=$!
  for _ in $(seq 300); do [ -s "$work/asked" ] && break; sleep 0.05; done
  kill -TERM "$app"
  wait "$app" 2>/dev/null
}
asked_near() {  # WANT TOLERANCE
  awk -v a="$(head -1 "$work/asked")" -v w="$1" -v t="$2" \
    'BEGIN { d = a - w; exit !(a != "" && d > -t && d < t) }'
}

run --time-server "127.0.0.1:$base"
asked_near 7200 0.01 || fail "the only source, two hours off, was not stepped to"
grep -q 'only source' "$work/tiktaal.log" || fail "no line saying the only source was taken"

run --time-server "127.0.0.1:$base" --time-server "127.0.0.1:$((base + 1))"
asked_near 7200.4 0.5 || fail "two agreeing far sources did not move the clock"
[ "$(grep -c 'refused: +7[12]' "$work/tiktaal.log")" -eq 1 ] ||
  fail "not exactly one refusal before the second source agreed"

# A script that answers in the middle of a second (what a whole-second time stands for) and
# holds the connection for 3 s.
php -r '
$server = stream_socket_server("tcp://127.0.0.1:0");
file_put_contents($argv[1], explode(":", stream_socket_get_name($server, false))[1]);
while ($c = stream_socket_accept($server, -1)) {
    fread($c, 4096);
    usleep((int)((1.5 - fmod(microtime(true), 1)) * 1e6));
    fwrite($c, "HTTP/1.0 200 OK\r\n\r\nsync_time: " . gmdate("Y-m-d H:i:s") . "\r\n");
    sleep(3);
    fclose($c);
}' "$work/script.port" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/script.port" ] && break; sleep 0.05; done
run --time-script "http://127.0.0.1:$(cat "$work/script.port")/t.php" --time-server 127.0.0.1:9
grep -q 'time from http' "$work/tiktaal.log" || fail "the script's time was not taken"
asked_near 0 0.3 || fail "the script's time was not aged by its arrival"

"$tiktaal" --time-server 127.0.0.1:70000 >"$work/tiktaal.log" 2>&1
[ $? -eq 2 ] || fail "a port beyond 65535 did not end the program with status 2"
echo "PASS: the clock helper was asked for the right offsets"
