#!/usr/bin/env bash
# Every test: C++ units through CTest, then the Python surface through pytest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/setup_env.sh"
setup_all
cd "$ROOT"
ctest --test-dir "$BUILD_DIR" --output-on-failure -j "$(nproc)"
# Exit code 5 (no tests collected) is a failure here, as every other non-zero.
python3 -m pytest -q tests/python "$@"
