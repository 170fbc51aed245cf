#!/usr/bin/env bash
# Every benchmark, one table each: model readers, Bayesian search, the
# measured fallback's scheduling, and a whole optimize() call.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/setup_env.sh"
setup_all
cd "$ROOT"

build="$ROOT/build/bench"
cmake -S "$ROOT" -B "$build" -DBRINDLECOVE_BENCH=ON -DCMAKE_BUILD_TYPE=Release \
  -DPython3_EXECUTABLE="$VENV/bin/python3" -DBRINDLECOVE_MODULE_DIR="$build/module" >/dev/null
cmake --build "$build" --target bayes_bench fallback_bench -j "$(nproc)" >/dev/null

echo "== Model readers =="
"$ROOT/bench/run_model_bench.sh"
echo
echo "== Bayesian search (target: well under 1 ms) =="
"$build/bench/bayes_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
echo
echo "== Fallback scheduling: 10 candidates x 1 s, 3 at a time (ideal 4 s, target within 5%) =="
"$build/bench/fallback_bench"
echo
echo "== optimize() =="
python3 "$ROOT/bench/optimize_bench.py"
