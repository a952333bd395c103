#!/bin/sh
# Starts a local chrony (never touching the clock; also serving NTS with a certificate from
# a throw-away authority) and php -S with the time script, then prints the client figures
# beside ntpdig and curl against the same peers, and NTS beside plain SNTP.
# Usage: bench/timesync/run_bench.sh BUILD_DIR [COUNT]
set -eu
build=${1:?build directory}
count=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
fixtures="$here/../../tests/fixtures/http"
work=$(mktemp -d /tmp/tiktaal-bench.XXXXXX)
addr=127.0.0.3
port=8123

cleanup() {
    [ -f "$work/chronyd.pid" ] && kill "$(cat "$work/chronyd.pid")" 2>/dev/null || true
    [ -n "${php_pid:-}" ] && kill "$php_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

keport=14460
# chronyd reads its key after dropping root for its own user.
chmod 755 "$work"
(cd "$work" &&
 openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key \
   -out ca.pem -days 2 -subj "/CN=bench CA" &&
 openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key \
   -out server.csr -subj "/CN=localhost" &&
 printf 'subjectAltName=IP:%s\n' "$addr" >ext.cnf &&
 openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
   -days 2 -extfile ext.cnf && chmod 644 ./*) >/dev/null 2>&1
cat > "$work/chrony.conf" <<CONF
port 123
bindaddress $addr
allow 127.0.0.0/8
local stratum 8
cmdport 0
pidfile $work/chronyd.pid
driftfile $work/drift
ntsserverkey $work/server.key
ntsservercert $work/server.pem
ntsport $keport
ntsdumpdir $work
CONF
chronyd -x -f "$work/chrony.conf"
php -S 127.0.0.1:$port -t "$fixtures" >/dev/null 2>&1 &
php_pid=$!
sleep 1

"$build/bench/timesync/sntp_bench" "$addr" "$count"
"$build/bench/timesync/sntp_bench" "$addr" "$count" 25
"$build/bench/timesync/nts_bench" "$addr" "$keport" "$work/ca.pem" "$count"

command -v ntpdig >/dev/null || echo "ntpdig is not installed (apt-get install ntpsec-ntpdig): no comparison"
command -v ntpdig >/dev/null && python3 - "$addr" "$count" <<'PY'
import re, statistics, subprocess, sys, time
addr, count = sys.argv[1], int(sys.argv[2])
walls, offsets = [], []
for _ in range(count):
    t0 = time.monotonic()
    out = subprocess.run(["ntpdig", addr], capture_output=True, text=True).stdout
    walls.append((time.monotonic() - t0) * 1000)
    m = re.search(r"\(\+\d+\)\s+([-+]?\d+\.\d+)", out)
    if m:
        offsets.append(abs(float(m.group(1))) * 1000)
walls.sort()
print("ntpdig %s x%d: median %.3f ms, p99 %.3f ms (whole process); |offset| median %.3f ms"
      % (addr, count, statistics.median(walls), walls[int(0.99 * (len(walls) - 1) + 0.5)],
         statistics.median(offsets) if offsets else float("nan")))
PY

url="http://127.0.0.1:$port/time.php"
"$build/bench/timesync/http_bench" "$url" "$count"
python3 - "$url" "$count" <<'PY'
import statistics, subprocess, sys
url, count = sys.argv[1], int(sys.argv[2])
times = []
for _ in range(count):
    out = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total}", url],
                         capture_output=True, text=True).stdout
    times.append(float(out) * 1000)
print("curl GET %s x%d: median %.3f ms (time_total, without process start)"
      % (url, count, statistics.median(times)))
PY
