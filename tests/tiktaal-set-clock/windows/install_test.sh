#!/usr/bin/env bash
# The clock service installed for real under Wine's service control manager, recording
# offsets instead of setting the clock: --install registers and starts it as LOCAL SERVICE
# with its privilege, the window's setter reaches it, --uninstall stops and removes it.
# Usage: install_test.sh BIN_DIR      (ctest runs it with TIKTAAL_WINEPREFIX set)
set -uo pipefail
bin=$1
run() { bash "$TIKTAAL_WINE_SCRIPTS/wine-run.sh" "$@"; }
work=$(mktemp -d)
record=$work/record.txt
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
cleanup() {
  run "$bin/tiktaal-set-clock.exe" --uninstall >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

run "$bin/tiktaal-set-clock.exe" --install 'WINE\someone' --record "Z:${record//\//\\}" \
  >"$work/install.log" 2>&1
status=$?
# Wine keeps no local groups, so adding a member may be refused: that is said, not fatal.
[ "$status" -le 1 ] || fail "--install ended with $status: $(cat "$work/install.log")"
run sc query TiktaalClock >"$work/query.txt" 2>&1
grep -q RUNNING "$work/query.txt" || fail "the service is not running: $(cat "$work/query.txt")"

key='HKLM\System\CurrentControlSet\Services\TiktaalClock'
run reg query "$key" >"$work/reg.txt" 2>&1
for want in 'LocalService' '--service --record' 'Start.*0x2'; do
  grep -q -- "$want" "$work/reg.txt" || fail "the registration lacks $want: $(cat "$work/reg.txt")"
done
# The privilege as the service's one required privilege; Wine does not keep that setting,
# and --install says so.
grep -q SeSystemtimePrivilege "$work/reg.txt" || grep -q "usual privileges" "$work/install.log" ||
  fail "neither the required privilege nor the warning: $(cat "$work/install.log")"

TIKTAAL_INSTALLED_SERVICE_RECORD="Z:${record//\//\\}" \
  run "$bin/clock_service_tests.exe" --gtest_filter=InstalledService.* >"$work/seam.log" 2>&1 ||
  fail "the setter did not reach the installed service: $(cat "$work/seam.log")"

# Installed twice: an upgrade in place, still running.
run "$bin/tiktaal-set-clock.exe" --install --record "Z:${record//\//\\}" >"$work/again.log" 2>&1 ||
  fail "a second --install failed: $(cat "$work/again.log")"
run sc query TiktaalClock 2>&1 | grep -q RUNNING || fail "not running after the second --install"

run "$bin/tiktaal-set-clock.exe" --uninstall >"$work/uninstall.log" 2>&1 ||
  fail "--uninstall failed: $(cat "$work/uninstall.log")"
run sc query TiktaalClock >"$work/gone.txt" 2>&1
grep -q RUNNING "$work/gone.txt" && fail "still running after --uninstall"
run reg query "$key" >/dev/null 2>&1 && fail "still registered after --uninstall"
# What was recorded is the one offset the setter sent: the clock was never asked.
[ "$(cat "$record" 2>/dev/null)" = "+12.500000000" ] || fail "recorded: $(cat "$record" 2>/dev/null)"

[ "$failures" -eq 0 ] || exit 1
echo "PASS: installed, reached, upgraded in place and uninstalled"
