#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless. Prints CTest's summary.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${VELMORA_BUILD_DIR:-$root/build}
export QT_QPA_PLATFORM=offscreen
cd "$build"
ctest --output-on-failure -j "$(nproc)" --timeout 300
