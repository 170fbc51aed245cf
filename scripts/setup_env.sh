# Sourced by run.sh, test.sh and bench/run.sh: installs what is missing
# (Debian packages), makes .venv from Debian's python3 and installs the
# package into it. Idempotent; quick when nothing changed.

set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV="$ROOT/.venv"
BUILD_DIR="$ROOT/build/cmake"

PACKAGES=(cmake g++ make pkg-config nlohmann-json3-dev libssl-dev libgtest-dev libgmock-dev
  libbenchmark-dev python3-dev python3-venv python3-pip python3-setuptools python3-pytest
  python3-numpy python3-onnx)

ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "[setup] installing: ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2; then
    $sudo apt-get update -q >&2
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}" >&2
  fi
}

ensure_venv() {
  if [ ! -x "$VENV/bin/python3" ]; then
    echo "[setup] creating .venv from /usr/bin/python3" >&2
    /usr/bin/python3 -m venv --system-site-packages "$VENV"
  fi
  export PATH="$VENV/bin:$PATH"
}

# Configure and build everything (module and C++ tests) in one tree.
build_all() {
  mkdir -p "$BUILD_DIR"
  local log="$BUILD_DIR/last-build.log"
  if ! { cmake -S "$ROOT" -B "$BUILD_DIR" -DPython3_EXECUTABLE="$VENV/bin/python3" &&
      cmake --build "$BUILD_DIR" -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "[setup] build failed (log: $log)" >&2
    return 1
  fi
  if grep -q "warning:" "$log"; then grep -B2 -A6 "warning:" "$log" >&2; fi
}

# Reinstall only when a source file is newer than the last install.
install_package() {
  local stamp="$VENV/.brindlecove-installed"
  if [ -f "$stamp" ] && [ -z "$(find "$ROOT/src" "$ROOT/python" "$ROOT/setup.py" "$ROOT/pyproject.toml" \
      "$ROOT/CMakeLists.txt" -newer "$stamp" -not -name '__pycache__' -not -path '*/__pycache__/*' -print -quit)" ]; then
    return 0
  fi
  echo "[setup] installing brindlecove into .venv" >&2
  BRINDLECOVE_CMAKE_BUILD_DIR="$BUILD_DIR" "$VENV/bin/python3" -m pip install -q \
    --no-build-isolation --no-deps --disable-pip-version-check "$ROOT" >&2
  touch "$stamp"
}

setup_all() {
  ensure_packages
  ensure_venv
  build_all
  install_package
}
