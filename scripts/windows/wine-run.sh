#!/usr/bin/env bash
# Runs a Windows program under Wine: ctest's emulator for the Windows build, and the way the
# Windows scripts start a program. The prefix is $TIKTAAL_WINEPREFIX (the build's own
# throw-away one when ctest runs it), made on first use.
# Wine never gets the right to set this machine's clock: under Wine as root, Windows' clock
# setters would set the real one. And this machine's serial devices stay out of reach: Wine
# links COM ports to them whenever its server starts, so those links are removed, and where
# a mount namespace can be had the devices themselves are covered by /dev/null.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
: "${TIKTAAL_WINEPREFIX:?the Wine prefix to run in}"
bash "$here/wine-prefix.sh" ensure "$TIKTAAL_WINEPREFIX"
export WINEPREFIX=$TIKTAAL_WINEPREFIX WINEDEBUG=-all
exec bash "$here/no-serial.sh" setpriv --bounding-set=-sys_time --inh-caps=-sys_time wine "$@"
