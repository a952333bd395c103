#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tiktaal and starts it (on Qt's offscreen
# platform when there is no display). Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIKTAAL_TESTS=OFF >/dev/null
cmake --build build-run -j"$(nproc)" --target tiktaal
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then export QT_QPA_PLATFORM=offscreen; fi
exec build-run/src/app/tiktaal "$@"
