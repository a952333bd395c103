#!/usr/bin/env bash
# Builds the Debian package in build-package/ (Release, Debian's hardening flags) and checks
# it: lintian, and the installed desktop entry and AppStream file with their validators.
# Usage: scripts/package.sh [build-dir]   Prints the path of the .deb last.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-package}
bash scripts/setup.sh package >&2
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIKTAAL_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr >&2
# What the package holds (the programs, with their man pages, and the icons) and the
# demo's stand-ins; the benchmarks and other tools are not needed here.
cmake --build "$dir" -j"$(nproc)" --target tiktaal-desktop-files tiktaal-sntp-responder \
  tiktaal-board >&2
rm -f "$dir"/tiktaal_*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/tiktaal_*.deb)

# The files where the desktop looks for them, valid by their own tools.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
dpkg-deb -x "$deb" "$stage"
desktop-file-validate "$stage/usr/share/applications/Tiktaal.desktop" >&2
appstreamcli validate --no-net "$stage"/usr/share/metainfo/*.metainfo.xml >&2
for size in 16 22 24 32 48 64 128 256; do
  test -s "$stage/usr/share/icons/hicolor/${size}x${size}/apps/tiktaal.png"
done
# The tags that remain, and why, are in packaging/lintian-notes.md.
lintian --fail-on error,warning --suppress-tags-from-file packaging/lintian-suppressed "$deb" >&2
echo "$deb"
