#!/usr/bin/env bash
# Takes a picture of the window under Xvfb: scripts/screenshot.sh [build-dir] [out.png]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-docs/window.png}
command -v Xvfb >/dev/null && command -v import >/dev/null || {
  echo "needs Xvfb and ImageMagick (apt-get install xvfb imagemagick)" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
display=:$((90 + RANDOM % 9))
config=$(mktemp -d)
Xvfb "$display" -screen 0 259x370x24 -nolisten tcp &
xvfb=$!
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$config"' EXIT
sleep 1
DISPLAY=$display XDG_CONFIG_HOME=$config TIKTAAL_DATE_FORMAT=yyyy-MM-dd \
  TIKTAAL_TIME_FORMAT=HH:mm:ss "$build/src/app/tiktaal" &
app=$!
sleep 2
DISPLAY=$display import -window root "$out"
echo "saved $out"
