#!/usr/bin/env bash
# Starts a local chrony (never touching the clock; also serving NTS with a certificate from
# a throw-away authority) and php -S with the time script, then prints the client figures
# beside ntpdig and curl against the same peers, and NTS beside plain SNTP.
# Usage: bench/timesync/run_bench.sh BUILD_DIR [COUNT]
set -eu
build=${1:?build directory}
count=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../scripts/lib/peers.sh"
fixtures="$here/../../tests/fixtures/http"
work=$(mktemp -d /tmp/tiktaal-bench.XXXXXX)
addr=127.0.0.3
port=8123

cleanup() {
    [ -n "${CHRONY_PID:-}" ] && kill "$CHRONY_PID" 2>/dev/null || true
    [ -n "${php_pid:-}" ] && kill "$php_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

keport=14460
tiktaal_make_test_ca "$work/ca" "$addr"
tiktaal_start_chrony_nts "$work/chrony" "$addr" 123 "$keport" "$work/ca"
php -S 127.0.0.1:$port -t "$fixtures" >/dev/null 2>&1 &
php_pid=$!
sleep 1

"$build/bench/timesync/sntp_bench" "$addr" "$count"
"$build/bench/timesync/sntp_bench" "$addr" "$count" 25
"$build/bench/timesync/nts_bench" "$addr" "$keport" "$work/ca/ca.pem" "$count"

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
