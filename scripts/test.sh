#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds Tiktaal and runs every test.
# Usage: scripts/test.sh [build-dir [extra cmake options...]]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@"
cmake --build "$dir" -j"$(nproc)"
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 300
