#!/usr/bin/env bash
# The model-reader benchmarks: builds them in build/bench, makes the inputs
# under build/bench/data when missing (a sparse GGUF shaped like an 8B model,
# about 4.5 GB but almost no disk; a 1 GB ONNX model written by python3-onnx),
# runs them and prints one table.
#
# Targets: GGUF inspection under 10 ms with a warm page cache and under twice
# the time of reading the metadata bytes; ONNX inspection within twice the
# time of reading the file once, with a peak memory that does not grow with
# the file (well under 100 MB above the process's baseline).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
data="$build/data"
python=/usr/bin/python3
runs="${BENCH_RUNS:-3}"

cmake -S "$root" -B "$build" -DBRINDLECOVE_BENCH=ON -DCMAKE_BUILD_TYPE=Release \
  -DPython3_EXECUTABLE="$python" >/dev/null
cmake --build "$build" --target gguf_analyze_bench onnx_analyze_bench -j2 >/dev/null

mkdir -p "$data"
export BRINDLECOVE_BENCH_DATA="$data"
onnx="$data/model-1gb.onnx"
if [[ ! -f "$onnx" ]]; then
  echo "making $onnx (about 1 GB) ..." >&2
  "$python" "$root/bench/make_onnx_model.py" "$onnx.tmp" >&2
  mv "$onnx.tmp" "$onnx"
fi

bin="$build/bench"
# Warm the page cache, then let Google Benchmark repeat each case.
cat "$onnx" >/dev/null
"$bin/gguf_analyze_bench" --benchmark_format=json --benchmark_out="$build/gguf.json" \
  --benchmark_out_format=json >/dev/null 2>"$build/gguf.log"
"$bin/onnx_analyze_bench" --benchmark_format=json --benchmark_out="$build/onnx.json" \
  --benchmark_out_format=json >/dev/null 2>"$build/onnx.log"

: >"$build/onnx_peak.jsonl"
for _ in $(seq "$runs"); do
  "$bin/onnx_analyze_bench" --peak-rss "$onnx" >>"$build/onnx_peak.jsonl"
done
"$python" "$root/bench/onnx_load_bench.py" "$onnx" "$runs" >"$build/onnx_python.json"

"$python" - "$build" "$data/llama-8b-like.gguf" "$onnx" <<'PY'
import json, os, statistics, sys

build, gguf, onnx = sys.argv[1:4]

def times(name):
    with open(os.path.join(build, name)) as f:
        doc = json.load(f)
    out = {}
    for b in doc["benchmarks"]:
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        out[b["name"]] = b["real_time"] * scale
    return out

g = times("gguf.json")
o = times("onnx.json")
peaks = [json.loads(line) for line in open(os.path.join(build, "onnx_peak.jsonl"))]
py = json.load(open(os.path.join(build, "onnx_python.json")))
mib = lambda kb: kb / 1024

print(f"GGUF input: {gguf} ({os.path.getsize(gguf) / 1e9:.2f} GB apparent, "
      f"{os.stat(gguf).st_blocks * 512 / 1e6:.1f} MB on disk)")
print(f"ONNX input: {onnx} ({os.path.getsize(onnx) / 1e9:.2f} GB)")
print()
rows = [
    ("GGUF inspect_model (analyze_model path)", f"{g['BM_InspectGguf']:.3f} ms", "< 10 ms"),
    ("GGUF read metadata bytes, 8 KiB steps", f"{g['BM_ReadMetadataBytes8K']:.3f} ms", ""),
    ("GGUF read metadata bytes, one pread", f"{g['BM_ReadMetadataBytesOneRead']:.3f} ms", ""),
    ("GGUF parse only, from memory", f"{g['BM_ParseGgufFromMemory']:.3f} ms", ""),
    ("  inspect / read (8 KiB steps)",
     f"{g['BM_InspectGguf'] / g['BM_ReadMetadataBytes8K']:.2f}x", "< 2x"),
    ("  inspect / read (one pread)",
     f"{g['BM_InspectGguf'] / g['BM_ReadMetadataBytesOneRead']:.2f}x", "< 2x"),
    ("ONNX inspect_model", f"{o['BM_InspectOnnx']:.3f} ms", ""),
    ("ONNX read the file once", f"{o['BM_ReadOnnxFileOnce']:.1f} ms", ""),
    ("  inspect / read", f"{o['BM_InspectOnnx'] / o['BM_ReadOnnxFileOnce']:.4f}x", "<= 2x"),
    ("ONNX inspect peak memory (VmHWM growth)",
     f"{mib(max(p['peak_delta_kb'] for p in peaks)):.1f} MiB", "<< 100 MiB"),
    ("ONNX inspect, fresh process, one call",
     f"{statistics.median(p['elapsed_ms'] for p in peaks):.3f} ms", ""),
    ("python3-onnx onnx.load time (median)", f"{py['median_ms']:.1f} ms", ""),
    ("python3-onnx onnx.load peak (VmHWM growth)", f"{mib(py['peak_delta_kb']):.1f} MiB", ""),
]
width = max(len(r[0]) for r in rows)
print(f"{'measure':<{width}}  {'result':>12}  target")
for name, value, target in rows:
    print(f"{name:<{width}}  {value:>12}  {target}")
PY
