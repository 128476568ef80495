#!/usr/bin/env bash
# Builds Lumo-Konf and runs every test suite.
#   LUMO_SANITIZE=address,undefined ./test.sh   the same tests with sanitizers (own build folder)
#   LUMO_SANITIZE=thread ./test.sh
#   ./test.sh --sanitizers   the plain run, then both sanitizer runs (each in its own build folder)
#   LUMO_CI_SANITIZERS=1 ./test.sh   (what CI runs) the plain run, then the core and command line
#                        tests with AddressSanitizer and UndefinedBehaviorSanitizer (desktop
#                        program off, build-ci-asan/)
#   LUMO_WERROR=ON ./test.sh   every warning stops the build (CI sets it)
set -euo pipefail
if [ "${1:-}" = "--sanitizers" ]; then
  shift
  "$0" "$@"
  LUMO_SANITIZE=address,undefined "$0" "$@"
  LUMO_SANITIZE=thread "$0" "$@"
  exit 0
fi
if [ "${LUMO_CI_SANITIZERS:-}" = 1 ]; then
  LUMO_CI_SANITIZERS= "$0" "$@"
  # The plain run gates the warnings: under the sanitizers GCC's -Wmaybe-uninitialized misfires
  # inside the standard library (std::regex), so that stage does not stop on warnings.
  LUMO_CI_SANITIZERS= LUMO_SANITIZE=address,undefined LUMO_GUI=OFF LUMO_WERROR=OFF "$0" "$@"
  exit 0
fi
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
SANITIZE="${LUMO_SANITIZE:-}"
BUILD_DIR="$ROOT/build"
CMAKE_ARGS=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DLUMO_WERROR=${LUMO_WERROR:-OFF}")
if [ -n "$SANITIZE" ]; then
  BUILD_DIR="$ROOT/build-${SANITIZE//,/-}"
  CMAKE_ARGS+=("-DLUMO_SANITIZE=$SANITIZE")
fi
if [ "${LUMO_GUI:-ON}" = OFF ]; then
  BUILD_DIR="$BUILD_DIR-core"
  CMAKE_ARGS+=(-DLUMO_BUILD_GUI=OFF)
fi
TARGETS=()
source "$ROOT/scripts/common.sh"

lumo_install_packages
lumo_build

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$BUILD_DIR" -j "$(nproc)" --output-on-failure "$@"
