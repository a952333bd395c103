#!/usr/bin/env bash
# Builds Tiktaal for 64-bit Windows on Debian 12 (MinGW-w64 g++ 12, Qt 6.4.2 for MinGW,
# GoogleTest built with the same compiler) and runs its tests under Wine.
# Usage: scripts/windows.sh [BUILD_DIR] [--no-tests] [--package]   (BUILD_DIR: build-windows)
# --package builds the installer (tiktaal-<version>-win64-setup.exe) and the portable .zip
# into BUILD_DIR/package/ and, unless --no-tests, installs, runs and uninstalls it under Wine.
# Every program lies in BUILD_DIR with the DLLs and plugins it loads beside it, so that
# `wine BUILD_DIR/src/app/tiktaal.exe` runs as it is.
# Qt comes from $TIKTAAL_WINDOWS_CACHE (default ~/.cache/tiktaal-windows): unpacked there
# from ../shared/windows/qt6-mingw-6.4.2.tar.xz when that is beside the tree, otherwise built
# there by scripts/windows/build-qt.sh (about 45 minutes on 2 cores, once).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build-windows
tests=1
package=0
for arg in "$@"; do
  case $arg in
    --no-tests) tests=0 ;;
    --package) package=1 ;;
    -*) echo "usage: $0 [BUILD_DIR] [--no-tests] [--package]" >&2; exit 2 ;;
    *) dir=$arg ;;
  esac
done
bash scripts/setup.sh windows
cache=${TIKTAAL_WINDOWS_CACHE:-$HOME/.cache/tiktaal-windows}
mkdir -p "$cache"
cache=$(realpath "$cache")

qt=$cache/qt6-mingw
if [ ! -x "$qt/bin/qt-cmake" ]; then
  ready=../shared/windows/qt6-mingw-6.4.2.tar.xz
  if [ -f "$ready" ]; then
    rm -rf "$qt"
    tar xf "$ready" -C "$cache"
  else
    bash scripts/windows/build-qt.sh "$qt.new" "$cache/qt-work"
    rm -rf "$qt" "$cache/qt-work"
    mv "$qt.new" "$qt"
    # the install prefix is recorded in a few files; Qt's CMake files find it relatively
  fi
fi
toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake

gtest=$cache/gtest-mingw
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
  rm -rf "$cache/gtest-build"
  cmake -S /usr/src/googletest -B "$cache/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=ON >/dev/null
  cmake --build "$cache/gtest-build" -j"$(nproc)" >/dev/null
  cmake --install "$cache/gtest-build" >/dev/null
  rm -rf "$cache/gtest-build"
fi

start=$SECONDS
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# This machine's programs the Windows build uses: the icon maker, and the stand-ins the
# Windows programs meet through Wine (a board, an SNTP responder, a modem).
host=$(realpath -m "$dir/host-tools")
cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTIKTAAL_TESTS=OFF -DCMAKE_CXX_FLAGS=-Wno-restrict \
  -DTIKTAAL_SUBSYSTEMS= "${launcher[@]}" >/dev/null
cmake --build "$host" -j"$(nproc)" \
  --target tiktaal-icons tiktaal-board tiktaal-sntp-responder tiktaal-modem
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  -DGTest_DIR="$gtest/lib/cmake/GTest" -DTIKTAAL_HOST_TOOLS="$host/tools" "${launcher[@]}"
cmake --build "$dir" -j"$(nproc)"
echo "Windows build: $((SECONDS - start)) s"

if [ $tests = 1 ]; then
  start=$SECONDS
  ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 300
  echo "Windows tests under Wine: $((SECONDS - start)) s"
fi

if [ $package = 1 ]; then
  start=$SECONDS
  bash scripts/windows/package.sh "$dir"
  echo "Windows packages: $((SECONDS - start)) s"
  if [ $tests = 1 ]; then
    start=$SECONDS
    bash scripts/windows/installer_test.sh "$dir"
    echo "Windows installer under Wine: $((SECONDS - start)) s"
  fi
fi
