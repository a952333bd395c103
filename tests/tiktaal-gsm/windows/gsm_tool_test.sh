#!/usr/bin/env bash
# tiktaal-gsm.exe under Wine on COM6, whose far side is this machine's modem simulator on a
# pseudo-terminal: identify, a message sent in parts, listen --json printing a stored message
# once and deleting it, and a port that does not exist refused with the system's reason.
# Usage: gsm_tool_test.sh TIKTAAL-GSM.EXE MODEM
set -uo pipefail
tool=$1
modem=$2
. "$(dirname "$0")/../../../scripts/lib/peers.sh"
tiktaal_begin_wine_test tiktaal-gsm-wine 6
fail() { echo "FAIL: $*"; echo "--- out"; cat "$work/out"; echo "--- err"; cat "$work/err"; exit 1; }
# The state file of message references goes to the prefix's local application data.
run() { wine_ "$tool" --port COM6 "$@" >"$work/out" 2>"$work/err"; }

# "Hello" from +48123456789, stored unread on the SIM.
hello=00040B918421436587F900005210022143658005C8329BFD06
"$modem" --link "$work/modem" --store "$hello" >"$work/modem.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -e "$work/modem" ] && break; sleep 0.05; done
ln -sfn "$work/modem" "$com"

run identify || fail "identify ended $?"
expected=$'model: TIKTAAL/TMS-900\nimei: 356938035643809\nfirmware: Revision:TMS900R01\nsim storage: 30\nphone storage: 100'
[ "$(tr -d '\r' <"$work/out")" = "$expected" ] || fail "identify printed something else"

long=$(printf 'Tiktaal %.0s' $(seq 30))
run send "+48 600-100-200" "$long" || fail "send ended $?"
[ "$(tr -d '\r' <"$work/out" | grep -c '^part [12]/2: reference [0-9]*$')" = 2 ] ||
  fail "send did not report two parts"

run listen --json --seconds 4 || fail "listen ended $?"
want='{"event":"sms","from":"+48123456789","timestamp":"2025-01-20 12:34:56","text":"Hello"}'
[ "$(tr -d '\r' <"$work/out" | grep -cF "$want")" = 1 ] || fail "the stored message was not printed once"
run listen --json --seconds 2 || fail "the second listen ended $?"
! grep -q '"event":"sms"' "$work/out" || fail "the message was not deleted once printed"

wine_ "$tool" --port COM9 identify >"$work/out" 2>"$work/err" && fail "a missing port was accepted"
grep -q 'COM9' "$work/err" || fail "the missing port's error does not name it"
echo "PASS: identify, send in two parts, listen --json and a missing port on Windows COM ports"
