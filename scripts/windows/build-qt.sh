#!/usr/bin/env bash
# Builds Qt 6.4.2 for 64-bit Windows (MinGW-w64 g++ 12, posix threads) from Debian 12's own
# qt6-base source: Core, Gui, Widgets, the windows, offscreen and minimal platform plugins and
# the windows styles, as shared DLLs (Release), installed into PREFIX. The host tools (moc,
# rcc, uic) are Debian's own Qt 6.4.2, which must be installed wherever PREFIX is used.
# About 45 minutes on 2 cores.
# Usage: scripts/windows/build-qt.sh PREFIX [WORKDIR]
#   Needs apt-get as root (or sudo) and Debian's source archive (added when missing).
set -euo pipefail
prefix=$(realpath -m "$1")
work=$(realpath -m "${2:-$(mktemp -d)}")
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q --no-install-recommends g++-mingw-w64-x86-64-posix mingw-w64-tools \
  qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev xz-utils >/dev/null
if ! apt-get source --print-uris qt6-base >/dev/null 2>&1; then
  # Debian's source archive, from the mirror the binary packages come from.
  $sudo tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  $sudo apt-get update -q >/dev/null
fi
mkdir -p "$work"
cd "$work"
src=qtbase-everywhere-src-6.4.2
if [ ! -d $src ]; then
  apt-get source --download-only qt6-base=6.4.2+dfsg-10 >/dev/null 2>&1 ||
    apt-get source --download-only qt6-base >/dev/null
  tar xf qt6-base_6.4.2+dfsg.orig.tar.xz
  # 6.4.2's windows platform plugin reaches for the dynamic-GL context even with OpenGL off.
  sed -i 's/^#if QT_CONFIG(dynamicgl)$/#if QT_CONFIG(dynamicgl) \&\& QT_CONFIG(opengl)/' \
    $src/src/plugins/platforms/windows/qwindowswindow.cpp
fi
cat >mingw.cmake <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC
# Tablet input is off: Debian's source archive leaves out the header the windows plugin
# would include for it. The system's copies of the third-party libraries are Linux ones, so
# Qt's bundled copies are built instead.
cmake -S $src -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF -DFEATURE_network=OFF -DFEATURE_testlib=OFF \
  -DFEATURE_vulkan=OFF -DFEATURE_tabletevent=OFF -DFEATURE_system_zlib=OFF \
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_doubleconversion=OFF >configure.log
cmake --build build --parallel "$(nproc)" >build.log
cmake --install build >install.log
# The cross toolchain travels with Qt, so that its qt.toolchain.cmake works wherever the
# prefix is unpacked.
cp mingw.cmake "$prefix/lib/cmake/Qt6/mingw-w64.cmake"
sed -i "s|set(__qt_initially_configured_toolchain_file \"$work/mingw.cmake\")|set(__qt_initially_configured_toolchain_file \"\${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake\")|" \
  "$prefix/lib/cmake/Qt6/qt.toolchain.cmake"
rm -rf "$prefix/doc"
echo "$prefix"
