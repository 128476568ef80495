#!/usr/bin/env bash
# Builds and starts Lumo-Konf: the desktop program where there is a display, otherwise a
# headless demonstration through the command line tool.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
BUILD_DIR="$ROOT/build"
CMAKE_ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
TARGETS=()
source "$ROOT/scripts/common.sh"

lumo_install_packages
lumo_build

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD_DIR/app/gui/lumokonf" "$@"
fi
echo "No display found: reading the simulated light curtain through lumokonf-cli."
exec "$BUILD_DIR/cli/lumokonf-cli" read --port SIM:TG5 "$@"
