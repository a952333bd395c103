#!/usr/bin/env bash
# `cmake --install` into a temporary prefix puts every file where the desktop looks for it,
# and the desktop's own validators accept the entry and the AppStream file.
# Usage: check_install.sh BUILD-DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/tiktaal-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null 2>&1
for f in bin/tiktaal share/applications/Tiktaal.desktop share/man/man1/tiktaal.1.gz \
  share/doc/tiktaal/copyright share/icons/hicolor/16x16/apps/tiktaal.png \
  share/icons/hicolor/256x256/apps/tiktaal.png; do
  [ -s "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
ls "$prefix"/share/metainfo/*.metainfo.xml >/dev/null
[ -e "$build/src/tiktaal-set-clock/tiktaal-set-clock" ] && {
  [ -x "$prefix/libexec/tiktaal/tiktaal-set-clock" ] || { echo "missing the clock helper"; exit 1; }
  [ -s "$prefix/share/man/man8/tiktaal-set-clock.8.gz" ] || { echo "missing its man page"; exit 1; }
}
# The installed program answers without a display.
"$prefix/bin/tiktaal" --help | grep -q -- --time-server
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/Tiktaal.desktop"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >/dev/null
fi
echo "PASS: installed files in place"
