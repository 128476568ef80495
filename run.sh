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

# The desktop program starts from a demo folder whose settings name the simulated light
# curtain (SIM:TG5, reached in-process; its interface does not echo), so it starts without
# asking for a port.
DEMO_DIR="$BUILD_DIR/demo"
mkdir -p "$DEMO_DIR"
if [ ! -f "$DEMO_DIR/lumokonf.ini" ]; then
  printf '[CommSettings]\r\nDefaultPortName=SIM:TG5\r\nEcho=0\r\n[Misc]\r\nPropertiesOnStart=0\r\n' \
    > "$DEMO_DIR/lumokonf.ini"
fi

# The self-test rules (Limits.txt) and the manual lie beside the built program, so the demo
# shows every button and menu of the light curtain.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Demo folder (settings, saved files): $DEMO_DIR"
  echo "Also try: ./run.sh -exp (expert mode), $BUILD_DIR/cli/lumokonf-cli --help"
  cd "$DEMO_DIR"
  exec "$BUILD_DIR/gui/lumokonf" "$@"
fi
echo "No display found: reading the simulated light curtain through lumokonf-cli."
exec "$BUILD_DIR/cli/lumokonf-cli" read --port SIM:TG5 "$@"
