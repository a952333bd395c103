#!/usr/bin/env bash
# Installs what building and testing Tiktaal needs on Debian 12 (apt-get, as root or via sudo).
# Usage: scripts/setup.sh [build|test|package|windows]   build: to compile and run; test: also
# the test peers; package: what builds and checks the Debian package; windows: what cross-builds
# the Windows programs and runs them under Wine.
set -euo pipefail
what=${1:-test}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo

# libxcb1-dev: the window tells an X11 taskbar whether to show its button.
build_packages=(g++ cmake ninja-build qt6-base-dev libgl-dev libssl-dev libxcb1-dev
                fonts-dejavu-core socat)
# chrony is only ever run by hand (chronyd -x) on loopback by the tests; installing it here
# replaces systemd-timesyncd, which is why the demo never installs it.
# netbase gives /etc/services, which the service-name lookups are tested against; openssl
# makes the throw-away certificate authority of the NTS and https tests.
# openbox, tint2, x11-utils, xdotool and wmctrl: a desktop with a taskbar and a tray under
# Xvfb, and the tools that read what its panel sees.
test_packages=(libgtest-dev php-cli chrony clang libclang-rt-14-dev xvfb xauth tzdata netbase
               openssl openbox tint2 x11-utils xdotool wmctrl)

# Building and checking the Debian package, and installing it into a fresh root.
package_packages=(dpkg-dev file lintian desktop-file-utils appstream debootstrap)

# The Windows build: MinGW-w64 with posix threads, GoogleTest's source, Wine to run the tests,
# NSIS for the installer (and the host Qt's moc, rcc and uic, from the build packages).
windows_packages=(g++-mingw-w64-x86-64-posix googletest wine wine64 xz-utils util-linux nsis)

packages=("${build_packages[@]}")
[ "$what" = test ] && packages+=("${test_packages[@]}")
[ "$what" = package ] && packages+=("${package_packages[@]}")
[ "$what" = windows ] && packages+=("${test_packages[@]}" "${windows_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $sudo apt-get update -q
  # No service is started on the machine by the install (chrony's, for one).
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
    $sudo chmod +x /usr/sbin/policy-rc.d
    trap '$sudo rm -f /usr/sbin/policy-rc.d' EXIT
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
