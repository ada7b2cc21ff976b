#!/usr/bin/env bash
# Installs what is missing, builds, and starts Velmora.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build=${VELMORA_BUILD_DIR:-$root/build}
exec "$build/ui/velmora" "$@"
