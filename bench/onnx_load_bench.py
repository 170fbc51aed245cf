#!/usr/bin/python3
"""python3-onnx's onnx.load on a model file: time and peak memory, each
measurement in a fresh process so that one cannot inherit another's peak.

    /usr/bin/python3 bench/onnx_load_bench.py MODEL.onnx [RUNS]

Prints one JSON object: the runs, and the median time and largest peak.
Peak memory is the growth of VmHWM (the process's peak resident set) over
the load, after `import onnx`.
"""

import json
import statistics
import subprocess
import sys
import time


def vm_hwm_kb():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return -1


def measure_once(path):
    import onnx

    before = vm_hwm_kb()
    start = time.perf_counter()
    model = onnx.load(path)
    elapsed = time.perf_counter() - start
    after = vm_hwm_kb()
    return {
        "elapsed_ms": elapsed * 1000,
        "hwm_before_kb": before,
        "hwm_after_kb": after,
        "peak_delta_kb": after - before,
        "nodes": len(model.graph.node),
    }


def main():
    if sys.argv[1] == "--one":
        print(json.dumps(measure_once(sys.argv[2])))
        return
    path = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    results = []
    for _ in range(runs):
        out = subprocess.run(
            [sys.executable, __file__, "--one", path], check=True, capture_output=True, text=True
        ).stdout
        results.append(json.loads(out))
    print(
        json.dumps(
            {
                "runs": results,
                "median_ms": statistics.median(r["elapsed_ms"] for r in results),
                "peak_delta_kb": max(r["peak_delta_kb"] for r in results),
            }
        )
    )


if __name__ == "__main__":
    main()
