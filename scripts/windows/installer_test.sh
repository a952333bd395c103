#!/usr/bin/env bash
# The Windows installer under Wine, silently, in a throw-away prefix of its own: installed,
# then installed again while the program runs (an upgrade in place, which must ask it to
# quit first); its files, Start-menu entry, Add/Remove Programs entry and clock service
# checked; the installed program run against the stand-in board on a COM port
# (tests/e2e/windows/board_test.sh); uninstalled while the program runs, and checked that
# nothing but the user's settings is left. Wine never has the right to set the clock.
# Usage: installer_test.sh BUILD_DIR   (after package.sh BUILD_DIR)
set -euo pipefail
here=$(dirname "$(realpath "$0")")
dir=$(realpath "$1")
setup=$(ls "$dir"/package/tiktaal-*-win64-setup.exe)
version=$(basename "$setup" | sed 's/^tiktaal-\(.*\)-win64-setup.exe$/\1/')
export TIKTAAL_WINEPREFIX=$dir/wine-prefix-install TIKTAAL_WINE_SCRIPTS=$here
wine_() { bash "$here/wine-run.sh" "$@"; }
bash "$here/wine-prefix.sh" fresh "$TIKTAAL_WINEPREFIX"
trap 'bash "$here/wine-prefix.sh" remove "$TIKTAAL_WINEPREFIX" >/dev/null 2>&1' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# One server for the whole test, which would otherwise write its object dumps to whichever
# output the wine command that started it had.
WINEPREFIX=$TIKTAAL_WINEPREFIX bash "$here/no-serial.sh" \
  setpriv --bounding-set=-sys_time --inh-caps=-sys_time wineserver -p >/dev/null 2>&1

installed="$TIKTAAL_WINEPREFIX/drive_c/Program Files/Tiktaal"
menu="$TIKTAAL_WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tiktaal"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tiktaal'

# The installed program running as a user's would, until asked to quit.
running=
start_program() {
  QT_QPA_PLATFORM=windows wine_ "$installed/tiktaal.exe" --time-server 127.0.0.1:9 \
    --no-set-clock >/dev/null 2>&1 &
  running=$!
  sleep 4
  kill -0 "$running" 2>/dev/null || fail "the installed program did not start"
}
expect_quit() {
  for _ in $(seq 100); do kill -0 "$running" 2>/dev/null || return 0; sleep 0.1; done
  kill "$running" 2>/dev/null
  fail "the running program was not asked to quit by the $1"
}

# Each install registers the clock service for real; it is registered again to record what it
# is asked instead of setting the clock (Wine has no right to set it either).
install() {
  wine_ "$setup" /S || fail "the $1 ended with status $?"
  if [ -f "$installed/tiktaal-set-clock.exe" ]; then
    wine_ "$installed/tiktaal-set-clock.exe" --install --record 'C:\clock-record.txt' >/dev/null 2>&1 ||
      fail "the clock service could not be made to record"
  fi
}
install install
start_program
install upgrade
expect_quit upgrade
for f in tiktaal.exe tiktaal-gsm.exe uninstall.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll \
         libstdc++-6.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
  [ -f "$installed/$f" ] || fail "$f was not installed"
done
[ ! -e "$installed/platforms/qoffscreen.dll" ] || fail "a plugin the program does not load was installed"
[ -f "$menu/Tiktaal.lnk" ] || fail "no Start-menu shortcut"
entry=$(wine_ reg query "$uninstall_key" 2>&1) || fail "no Add/Remove Programs entry: $entry"
grep -q "DisplayVersion.*$version" <<<"$entry" || fail "the entry lacks the version: $entry"
grep -q 'UninstallString.*uninstall.exe' <<<"$entry" || fail "the entry lacks the uninstaller: $entry"
service=0
if [ -f "$installed/tiktaal-set-clock.exe" ]; then
  service=1
  wine_ sc query TiktaalClock 2>&1 | grep -q RUNNING || fail "the clock service is not running"
fi
echo "installed: $(du -sk "$installed" | cut -f1) KiB in $(find "$installed" -type f | wc -l) files"

# The installed program, which has only the windows platform plugin, on Wine's own display.
run_log=$(mktemp)
TIKTAAL_TEST_QPA=windows bash "$here/../../tests/e2e/windows/board_test.sh" \
  "$installed/tiktaal.exe" "$dir/bin/sync_now.exe" "$dir/bin/run_detached.exe" \
  "$dir/host-tools/tools/tiktaal-board" "$dir/host-tools/tools/tiktaal-sntp-responder" \
  >"$run_log" 2>&1 || { cat "$run_log"; rm -f "$run_log"; fail "the installed program did not serve the board"; }
grep '^PASS' "$run_log"
rm -f "$run_log"

start_program
wine_ "$installed/uninstall.exe" /S || fail "the uninstaller ended with status $?"
# The uninstaller runs on from a copy of itself in the temporary folder.
for _ in $(seq 600); do [ -e "$installed" ] || break; sleep 0.1; done
expect_quit uninstaller
[ ! -e "$installed" ] || fail "left behind: $(find "$installed" | head -20)"
[ ! -e "$menu" ] || fail "the Start-menu folder was left behind"
! wine_ reg query "$uninstall_key" >/dev/null 2>&1 || fail "the Add/Remove Programs entry was left"
if [ $service = 1 ]; then
  ! wine_ sc query TiktaalClock 2>&1 | grep -q RUNNING || fail "the clock service was left running"
fi
wine_ reg query 'HKCU\Software\Tiktaal' >/dev/null 2>&1 || fail "the user's settings were removed"
echo "PASS: installed, upgraded and uninstalled while running, ran a board (clock service: $service)"
