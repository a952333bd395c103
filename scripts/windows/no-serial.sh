#!/usr/bin/env bash
# Runs a command (Wine) that must not reach this machine's own serial devices: in a mount
# namespace of its own with each /dev/ttyS*, ttyUSB* and ttyACM* covered by /dev/null when
# the namespace can be had (as root), and with $WINEPREFIX's COM links to such devices removed.
# Usage: no-serial.sh COMMAND [ARGS...]
set -euo pipefail
unlink_machine_ports() {
  local link
  for link in "${WINEPREFIX:-}"/dosdevices/com*; do
    [ -L "$link" ] || continue
    case $(readlink "$link") in
      /dev/ttyS* | /dev/ttyUSB* | /dev/ttyACM* | /dev/ttyAMA*) rm -f "$link" ;;
    esac
  done
}
[ -n "${WINEPREFIX:-}" ] && unlink_machine_ports
if [ -z "${TIKTAAL_NO_SERIAL_INSIDE:-}" ] && [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  export TIKTAAL_NO_SERIAL_INSIDE=1
  exec unshare -m bash -c '
    for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA*; do
      [ -e "$dev" ] && mount --bind /dev/null "$dev"
    done
    exec "$@"' no-serial "$@"
fi
exec "$@"
