#!/usr/bin/env bash
# Quitting never waits for a name server: the real program in network and mount
# namespaces of its own, whose only name server (127.0.0.1:53, bound over /etc/resolv.conf
# there alone) swallows every query. Its time server's name can never be looked up; a
# SIGTERM while the worker is still waiting must end the program within a second. Prints
# the quit time. Exit 77 skips where namespaces cannot be made.
# Usage: silent_resolver_test.sh TIKTAAL
set -uo pipefail
tiktaal=$1
[ "$(id -u)" -eq 0 ] || { echo "SKIP: namespaces need root"; exit 77; }
command -v socat >/dev/null || { echo "SKIP: socat is not installed"; exit 77; }
unshare -mn true 2>/dev/null || { echo "SKIP: cannot make namespaces"; exit 77; }

work=$(mktemp -d /tmp/tiktaal-silent-dns.XXXXXX)
trap 'rm -rf "$work"' EXIT
printf 'nameserver 127.0.0.1\noptions timeout:5 attempts:2\n' >"$work/resolv.conf"

# Everything below runs in the namespaces; what it prints is the result.
unshare -mn bash -s "$tiktaal" "$work" <<'INSIDE'
set -uo pipefail
tiktaal=$1
work=$2
ip link set lo up
mount --bind "$work/resolv.conf" /etc/resolv.conf
socat -u UDP-RECV:53,bind=127.0.0.1 /dev/null &
swallower=$!
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
"$tiktaal" --time-server time.silent-resolver.test --no-set-clock >"$work/tiktaal.log" 2>&1 &
app=$!
sleep 2.5  # the start-up cycle began at 1 s: its worker is waiting for the name server
start=$(date +%s.%N)
kill -TERM "$app"
for _ in $(seq 400); do kill -0 "$app" 2>/dev/null || break; sleep 0.01; done
end=$(date +%s.%N)
alive=0
kill -0 "$app" 2>/dev/null && { alive=1; kill -KILL "$app"; }
wait "$app" 2>/dev/null
kill "$swallower"
echo "quit took $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }') s"
[ $alive -eq 0 ] && awk -v a="$start" -v b="$end" 'BEGIN { exit !(b - a < 1.0) }'
INSIDE
rc=$?
[ $rc -eq 0 ] || { echo "FAIL: quitting waited for the silent name server"; cat "$work/tiktaal.log"; exit 1; }
echo "PASS: quit within a second with a silent name server"
