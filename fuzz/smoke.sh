#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz and runs each one for
# a short while (FUZZ_SECONDS, default 20) from a small seed corpus.
#
# Compiler: libstdc++ 12's <expected> needs conditionally trivial special
# member functions, which clang implements from version 16 on; clang 16 to 18
# still announce the older concepts level, so the macro is raised for them.
# Set CXX to choose a compiler yourself.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-20}"
python=/usr/bin/python3

clang_major() { "$1" --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -n1; }

cxx="${CXX:-}"
if [[ -z "$cxx" ]] && ! command -v clang++-16 >/dev/null 2>&1; then
  sudo=""; [[ "$(id -u)" -ne 0 ]] && sudo="sudo"
  echo "fuzz/smoke.sh: installing clang-16 and its fuzzer runtime" >&2
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang-16 libclang-rt-16-dev >&2 || true
fi
if [[ -z "$cxx" ]]; then
  for candidate in clang++-19 clang++-18 clang++-17 clang++-16 clang++; do
    if command -v "$candidate" >/dev/null 2>&1; then
      major=$(clang_major "$candidate")
      if [[ -n "$major" && "$major" -ge 16 ]]; then cxx="$candidate"; break; fi
    fi
  done
fi
major=$([[ -n "$cxx" ]] && clang_major "$cxx" || true)
if [[ -z "$cxx" || -z "$major" || "$major" -lt 16 ]]; then
  found=$(clang_major "${cxx:-clang++}" || true)
  echo "fuzz/smoke.sh: NOT RUN: no usable clang found (${cxx:-clang++} is ${found:+clang }${found:-not clang, or missing})." >&2
  echo "  clang 14 and 15 cannot compile std::expected from libstdc++ 12 (it needs" >&2
  echo "  conditionally trivial special members, P0848, implemented in clang 16)." >&2
  echo "  Install one: apt-get install clang-16 libclang-rt-16-dev" >&2
  exit 2
fi
cc="${cxx/clang++/clang}"
echo "fuzz/smoke.sh: using $cxx (clang $major)"

cmake -S "$root" -B "$build" -DBRINDLECOVE_FUZZ=ON \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="-Wno-builtin-macro-redefined -U__cpp_concepts -D__cpp_concepts=202002L" \
  -DPython3_EXECUTABLE="$python" >/dev/null
cmake --build "$build" --target gguf_reader_fuzz onnx_reader_fuzz -j2

# Seeds: a small realistic GGUF file, and ONNX files written by python3-onnx.
seeds="$build/seeds"
mkdir -p "$seeds/gguf" "$seeds/onnx" "$build/corpus/gguf" "$build/corpus/onnx"
"$python" - "$seeds/gguf" <<'PY'
import struct, sys
def s(t): b = t.encode(); return struct.pack("<Q", len(b)) + b
def kv(key, typ, val): return s(key) + struct.pack("<I", typ) + val
pairs = [
    kv("general.architecture", 8, s("llama")),
    kv("general.parameter_count", 10, struct.pack("<Q", 8030261248)),
    kv("llama.block_count", 4, struct.pack("<I", 32)),
    kv("llama.context_length", 4, struct.pack("<I", 8192)),
    kv("llama.embedding_length", 4, struct.pack("<I", 4096)),
    kv("llama.attention.head_count", 5, struct.pack("<i", 32)),
    kv("llama.attention.head_count_kv", 2, struct.pack("<H", 8)),
    kv("llama.feed_forward_length", 11, struct.pack("<q", 14336)),
    kv("llama.rope.freq_base", 6, struct.pack("<f", 5e5)),
    kv("tokenizer.ggml.tokens", 9, struct.pack("<IQ", 8, 3) + s("<s>") + s("a") + s("")),
    kv("tokenizer.ggml.scores", 9, struct.pack("<IQ", 6, 2) + struct.pack("<ff", 0, -1)),
    kv("x.nested", 9, struct.pack("<IQ", 9, 1) + struct.pack("<IQ", 0, 2) + b"\x01\x02"),
    kv("x.flags", 7, b"\x01"),
    kv("x.f64", 12, struct.pack("<d", 1.5)),
]
body = struct.pack("<IQQ", 3, 1, len(pairs)) + b"".join(pairs)
open(sys.argv[1] + "/llama.gguf", "wb").write(b"GGUF" + body)
open(sys.argv[1] + "/v1.gguf", "wb").write(b"GGUF" + struct.pack("<IQQ", 1, 0, 1) + pairs[2])
PY
if ! "$python" "$root/tests/python/onnx_fixtures.py" "$seeds/onnx" >/dev/null; then
  echo "fuzz/smoke.sh: python3-onnx unavailable; the ONNX target starts without seeds" >&2
fi
rm -f "$seeds/onnx"/*.data

status=0
for target in gguf_reader_fuzz:gguf onnx_reader_fuzz:onnx; do
  program="$build/fuzz/${target%%:*}"
  kind="${target##*:}"
  echo "== ${target%%:*}: ${seconds}s"
  if ! "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      "$build/corpus/$kind" "$seeds/$kind" 2>"$build/${kind}.log"; then
    status=1
    echo "FAILED: see $build/${kind}.log" >&2
    tail -n 40 "$build/${kind}.log" >&2
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/${kind}.log" || true
  fi
done
exit "$status"
