# Shared by run.sh and test.sh: install what is missing, then configure and build.
# Sourced, not run. Uses: BUILD_DIR, CMAKE_ARGS (array), TARGETS (array, empty = all).

PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev qt6-translations-l10n libcli11-dev
          nlohmann-json3-dev libgtest-dev libgmock-dev xvfb xauth libsqlite3-dev libpq-dev
          postgresql)

lumo_install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing Debian packages: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo=(sudo)
    else
      echo "Not running as root and sudo is not available. Ask an administrator to run:" >&2
      echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
      exit 1
    fi
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
}

lumo_build() {
  # Compiled objects are cached by ccache, shared by every checkout of the repository on this
  # machine (paths are taken relative to the checkout's folder).
  export CCACHE_BASEDIR="$ROOT"
  # Configured every time: a folder made with other settings (LUMO_WERROR, the build type)
  # takes the ones asked for now.
  cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    "${CMAKE_ARGS[@]}" >/dev/null
  cmake --build "$BUILD_DIR" ${TARGETS:+--target "${TARGETS[@]}"}
}
