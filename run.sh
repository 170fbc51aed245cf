#!/usr/bin/env bash
# The main job: set up (if needed) and optimize the bundled sample model.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/scripts/setup_env.sh"
setup_all
cd "$ROOT"
exec python3 -m brindlecove "$@"
