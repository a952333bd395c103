#!/usr/bin/env bash
# Authenticated time through the real program, the PC clock never touched (--set-clock=never,
# and no right to set it): chrony serving NTS on loopback with a certificate from a
# throw-away authority is synchronised against; a reply changed on the path by a relay is
# refused; a certificate from another authority is refused and said so; an https time
# script (openssl s_server) is read.
# Usage: authenticated_time_test.sh TIKTAAL
set -uo pipefail
tiktaal=$1
. "$(dirname "$0")/../../scripts/lib/peers.sh"
command -v chronyd >/dev/null && command -v openssl >/dev/null && command -v php >/dev/null ||
  { echo "SKIP: chronyd, openssl or php missing"; exit 77; }

tiktaal_begin_test tiktaal-nts-e2e
fail() { echo "FAIL: $*"; echo "--- tiktaal"; cat "$work/tiktaal.log"; exit 1; }

export QT_QPA_PLATFORM=offscreen TZ=UTC TIKTAAL_DATE_FORMAT=yyyy-MM-dd TIKTAAL_TIME_FORMAT=HH:mm:ss
tiktaal_write_config "$work/config" "$work/no-such-tty"
rm -f "$work/config/autostart/Tiktaal.desktop"

tiktaal_make_test_ca "$work/ca" "127.0.0.1,127.0.0.3" || fail "no test authority"
base=$((20000 + RANDOM % 20000))
ke=$base ntp=$((base + 1)) relayed_ke=$((base + 2)) relayed_ntp=$((base + 3)) https=$((base + 4))
tiktaal_start_chrony_nts "$work/plain" 127.0.0.1 "$ntp" "$ke" "$work/ca"
pids+=("$CHRONY_PID")
# The same server's key exchange sends clients to 127.0.0.3, where the relay flips one bit.
tiktaal_start_chrony_nts "$work/relayed" 127.0.0.1 "$relayed_ntp" "$relayed_ke" "$work/ca" 127.0.0.3
pids+=("$CHRONY_PID")
php -r '
$front = stream_socket_server("udp://127.0.0.3:" . $argv[1], $e, $s, STREAM_SERVER_BIND);
$back = stream_socket_client("udp://127.0.0.1:" . $argv[1]);
$client = null; $replies = 0;
for (;;) {
    $r = [$front, $back]; $w = null; $x = null;
    if (!stream_select($r, $w, $x, 1)) continue;
    foreach ($r as $sock) {
        if ($sock === $front) {
            $d = stream_socket_recvfrom($front, 2048, 0, $client);
            fwrite($back, $d);
        } else {
            $d = fread($back, 2048);
            $d[34] = chr(ord($d[34]) ^ 1);
            stream_socket_sendto($front, $d, 0, $client);
            file_put_contents($argv[2], ++$replies);
        }
    }
}' "$relayed_ntp" "$work/relayed.count" &
pids+=($!)
tiktaal_wait_port "$ke" && tiktaal_wait_port "$relayed_ke" || fail "chrony's key exchange did not start"

# run WAIT-FOR ARGS...: the program until its log has WAIT-FOR (or 12 s), then stopped.
run() {
  local want=$1; shift
  setpriv --bounding-set=-sys_time --inh-caps=-sys_time \
    "$tiktaal" --set-clock=never "$@" >"$work/tiktaal.log" 2>&1 &
  local app=$! _
  for _ in $(seq 240); do grep -q "$want" "$work/tiktaal.log" && break; sleep 0.05; done
  kill -TERM "$app"
  wait "$app" 2>/dev/null
}

run 'time from' --time-ca "$work/ca/ca.pem" --time-server "nts://127.0.0.1:$ke"
grep -q "time from nts://127.0.0.1:$ke (authenticated)" "$work/tiktaal.log" ||
  fail "no authenticated time from chrony's NTS server"

run 'no authentic answer' --time-ca "$work/ca/ca.pem" --time-server "nts://127.0.0.1:$relayed_ke"
grep -q 'time from' "$work/tiktaal.log" && fail "a reply altered on the path was taken"
grep -q 'no authentic answer from NTS server 127.0.0.3' "$work/tiktaal.log" ||
  fail "the altered reply's refusal was not told"
[ -s "$work/relayed.count" ] || fail "the relay passed no reply: the refusal proves nothing"

run 'certificate' --time-ca "$work/ca/other.pem" --time-server "nts://127.0.0.1:$ke"
grep -q 'time from' "$work/tiktaal.log" && fail "a server with an untrusted certificate was taken"
grep -q 'certificate is not trusted' "$work/tiktaal.log" || fail "the untrusted certificate was not told"

# The time setting is read from user.reg when the command line names none.
printf '"TimeCA"="%s"\n' "$work/ca/ca.pem" >>"$work/config/Tiktaal/user.reg"
mkdir -p "$work/www"
(cd "$work/www" && exec openssl s_server -quiet -WWW -accept "127.0.0.1:$https" \
   -cert "$work/ca/server.pem" -key "$work/ca/server.key" >/dev/null 2>&1) &
pids+=($!)
tiktaal_wait_port "$https" || fail "the https server did not start"
printf 'sync_time: %s\r\n' "$(date -u '+%Y-%m-%d %H:%M:%S')" >"$work/www/time.php"
run 'time from' --time-script "https://127.0.0.1:$https/time.php" --time-server 127.0.0.1:9
grep -q "time from https://127.0.0.1:$https/time.php" "$work/tiktaal.log" ||
  fail "the https script's time was not taken"
echo "PASS: NTS against chrony, a changed reply refused, https script read"
