#!/usr/bin/env bash
# Makes or removes a throw-away Wine prefix. "fresh" removes any old one and makes it anew,
# "ensure" makes it only when missing (several programs may ask at once: a lock decides),
# "remove" stops its Wine server and deletes it. A new prefix links COM ports to this
# machine's own serial devices: those links go before anything can open them.
# Usage: wine-prefix.sh fresh|ensure|remove PREFIX
set -euo pipefail
here=$(dirname "$(realpath "$0")")
what=$1
prefix=$(realpath -m "$2")
export WINEPREFIX=$prefix WINEDEBUG=-all
wine_() { bash "$here/no-serial.sh" setpriv --bounding-set=-sys_time --inh-caps=-sys_time "$@"; }

remove() {
  if [ -d "$prefix" ]; then
    wine_ wineserver -k 2>/dev/null || true
    wine_ wineserver -w 2>/dev/null || true
    rm -rf "$prefix"
  fi
}

make_prefix() {
  mkdir -p "$prefix"
  wine_ wineboot -i >/dev/null 2>&1
  # Without a display, windows (the instance guard's, Qt's offscreen ones) live on Wine's
  # null graphics driver; with one, on X as usual.
  if [ -z "${DISPLAY:-}" ]; then
    wine_ wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  fi
  wine_ wineserver -w
  bash "$here/no-serial.sh" true
  touch "$prefix/.tiktaal-ready"
}

case $what in
  fresh)
    remove
    make_prefix
    ;;
  ensure)
    [ -e "$prefix/.tiktaal-ready" ] && exit 0
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    [ -e "$prefix/.tiktaal-ready" ] || { rm -rf "$prefix"; make_prefix; }
    ;;
  remove)
    remove
    rm -f "$prefix.lock"
    ;;
  *)
    echo "usage: $0 fresh|ensure|remove PREFIX" >&2
    exit 2
    ;;
esac
