"""optimize() end to end, with fake inference tools on a temporary PATH and
a private HOME for the result cache."""

import importlib.resources
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import brindlecove as bc

SAMPLE = str(importlib.resources.files("brindlecove") / "data" / "sample-1b.gguf")
CACHE_HIT = "[brindlecove] Cache hit \u2014 returning stored result (use --no-cache to force re-run)"
NO_QUANTIZE = (
    "[brindlecove] Warning: quantization failed: llama-quantize not found \u2014 "
    "install llama.cpp to enable model quantization"
)


def thread_candidates(cores):
    return sorted({min(max(v, 1), 64) for v in (cores // 2, cores, cores * 2)})


def stamp_tool(tools, name, log, body):
    """A fake tool that logs its argv and start/end stamps, then runs body."""
    return tools.add(
        name,
        f"""
        echo "start $(date +%s%N) $*" >> {log}
        sleep 0.05
        {body}
        status=$?
        echo "end $(date +%s%N)" >> {log}
        exit $status
        """,
    )


def max_overlap(log):
    events = []
    for line in pathlib.Path(log).read_text().splitlines():
        kind, stamp = line.split()[:2]
        events.append((int(stamp), 1 if kind == "start" else -1))
    active = peak = 0
    for _, delta in sorted(events, key=lambda e: (e[0], e[1])):
        active += delta
        peak = max(peak, active)
    return peak


@pytest.fixture
def sample(tmp_path):
    path = tmp_path / "models" / "sample.gguf"
    path.parent.mkdir()
    path.write_bytes(pathlib.Path(SAMPLE).read_bytes())
    return str(path)


def test_no_limit_returns_bayesian_best_and_caches_it(fake_tools, home, sample, capfd):
    # Available RAM enters the cache key, so a busy machine can change it
    # between two calls; a quiet moment is all this needs.
    for _ in range(10):
        first = bc.optimize(sample, "GGUF", gpu="cpu")
        capfd.readouterr()
        second = bc.optimize(sample, "gguf", gpu="cpu")
        err = capfd.readouterr().err
        if CACHE_HIT in err:
            break
    assert err.splitlines() == [CACHE_HIT, NO_QUANTIZE]
    assert second.to_json() == first.to_json()
    assert first.runtime in ("LlamaCpp", "Ollama") and first.gpu_layers == 0
    assert first.output_path is None
    data = json.loads(first.to_json())
    assert list(data) == ["config", "metrics"]
    assert data["config"]["batch_size"] in (128, 256, 512)
    assert repr(first) == f"OptimizationResult(runtime={first.runtime}, quant={first.quantization}, tps={first.tokens_per_sec:.1f})"

    entries = list((home / ".quarlent" / "cache").iterdir())
    assert entries and all(e.suffix == ".json" and len(e.stem) == 64 for e in entries)
    stored = json.loads(entries[0].read_text())
    assert list(stored) == ["result", "model_path", "created_at"]
    assert stored["model_path"] == sample


def test_use_cache_false_neither_reads_nor_writes(fake_tools, home, sample, capfd):
    bc.optimize(sample, "gguf", gpu="cpu", use_cache=False)
    assert not (home / ".quarlent").exists()
    assert "[Stage 1/4]" in capfd.readouterr().err


def test_limit_forces_real_measurements(fake_tools, home, sample, tmp_path, capfd):
    log = tmp_path / "runs.log"
    stamp_tool(fake_tools, "llama-cli", log, 'echo "some generated text"; echo "[ Prompt: 812.5 t/s | Generation: 500.0 t/s ]"')
    stamp_tool(
        fake_tools, "ollama", log,
        'printf "prompt eval rate:     300.00 tokens/s\\neval duration:        1.5s\\neval rate:            40.00 tokens/s\\n" >&2',
    )
    # No CPU-only estimate reaches 400 tok/s, so the limit always forces the fallback.
    result = bc.optimize(sample, "gguf", gpu="cpu", max_latency_ms=2.5)
    err = capfd.readouterr().err.splitlines()

    assert (result.runtime, result.tokens_per_sec, result.latency_ms) == ("LlamaCpp", 500.0, 2.0)
    assert result.quantization == "Q4_K_M"  # first of the grid among equals
    assert result.peak_memory_mb == 617  # 1,235,814,400 weights x 0.5 bytes / 1e6
    assert any(line.startswith("[Bayes final] Best config latency") and line.endswith("falling back to cartesian search") for line in err)

    starts = [line.split()[2:] for line in log.read_text().splitlines() if line.startswith("start")]
    runs = [argv for argv in starts if argv != ["--version"]]
    candidates_per_runtime = 4 * len(thread_candidates(bc.profile_hardware().cpu_cores))
    # llama-cli is probed once per candidate, then each candidate of both
    # runtimes gets a warm-up and a measured run.
    assert len(starts) - len(runs) == candidates_per_runtime
    assert len(runs) == 2 * 2 * candidates_per_runtime
    assert max_overlap(log) <= 3
    llama = next(argv for argv in runs if argv[0] == "-m")
    assert llama[:2] == ["-m", sample]
    assert "--threads" in llama and "--n-gpu-layers" in llama


def test_no_tools_uses_estimates_then_explains(fake_tools, home, sample, capfd):
    with pytest.raises(RuntimeError) as info:
        bc.optimize(sample, "gguf", gpu="cpu", max_latency_ms=1.0)
    err = capfd.readouterr().err.splitlines()
    assert "[brindlecove] llama-cli not found \u2014 using hardware-aware estimates for GGUF configs" in err
    assert err[-1] == "[brindlecove] ollama not found \u2014 skipping configs that require it"
    hint_llama = "required binary 'llama-cli' was not found in PATH \u2014 "
    message = str(info.value)
    assert message.startswith(
        "cartesian fallback also failed: no compatible runtimes found \u2014 required runtime binaries are "
        "missing: llama-cli, ollama\nInstall the missing programs and retry.\nAdditional failure reasons: " + hint_llama
    )
    assert message.endswith(
        ": no valid configuration found: no configuration meets the latency constraint of 1.0 ms. "
        "Try relaxing --latency or freeing RAM."
    )


def test_all_benchmarks_failing(fake_tools, home, sample):
    fake_tools.add("llama-cli", "echo 'llama broke' >&2; exit 1\n")
    fake_tools.add("ollama", "echo 'ollama broke' >&2; exit 2\n")
    with pytest.raises(RuntimeError) as info:
        bc.optimize(sample, "gguf", gpu="cpu", max_latency_ms=1.0)
    assert str(info.value).startswith(
        "cartesian fallback also failed: no compatible runtimes found \u2014 all benchmark attempts failed.\n"
        "Failure reasons: inference failed: llama-cli exited non-zero: llama broke; "
        "inference failed: ollama exited non-zero: ollama broke: no valid configuration found"
    )


def test_requantization(fake_tools, home, sample, tmp_path, capfd):
    log = tmp_path / "quantize.log"
    fake_tools.add("llama-quantize", f'echo "$@" > {log}\necho quantizing\n')
    result = bc.optimize(sample, "gguf", gpu="cpu", use_cache=False)
    expected = str(pathlib.Path(sample).with_name("sample-optimized.gguf"))
    assert result.output_path == expected
    assert log.read_text().split() == ["--allow-requantize", sample, expected, result.quantization.lower()]
    assert "quantizing" in capfd.readouterr().out  # the child inherits our streams

    out = str(tmp_path / "elsewhere.gguf")
    assert bc.optimize(sample, "gguf", gpu="cpu", output_path=out, use_cache=False).output_path == out

    fake_tools.add("llama-quantize", "exit 1\n")
    capfd.readouterr()
    assert bc.optimize(sample, "gguf", gpu="cpu", use_cache=False).output_path is None
    assert capfd.readouterr().err.splitlines()[-1] == (
        "[brindlecove] Warning: quantization failed: llama-quantize exited with code Some(1) "
        "(if the source model is already quantized, ensure llama.cpp >= b2606 is installed)"
    )


def test_output_path_naming_the_model_itself_is_refused(fake_tools, home, sample, tmp_path, capfd):
    log = tmp_path / "quantize.log"
    fake_tools.add("llama-quantize", f'echo started > {log}\n')
    before = pathlib.Path(sample).read_bytes()
    alias = str(pathlib.Path(sample).parent / "." / "sample.gguf")
    result = bc.optimize(sample, "gguf", gpu="cpu", output_path=alias, use_cache=False)
    assert result.output_path is None
    assert not log.exists()
    assert pathlib.Path(sample).read_bytes() == before
    last = capfd.readouterr().err.splitlines()[-1]
    assert last.startswith("[brindlecove] Warning: quantization failed: ") and "model file itself" in last


def test_onnx_model_and_argument_failures(fake_tools, home, tmp_path, capfd):
    onnx_fixtures = pytest.importorskip("onnx_fixtures")
    paths = onnx_fixtures.write_fixtures(str(tmp_path))
    model = os.path.join(tmp_path, "mlp.onnx")
    assert "mlp.onnx" in paths
    result = bc.optimize(model, "onnx", gpu="cpu")
    assert result.runtime == "OnnxRuntime"
    assert result.output_path is None
    assert NO_QUANTIZE in capfd.readouterr().err

    with pytest.raises(RuntimeError, match=r"^unknown model format 'ggml'; expected 'onnx' or 'gguf'$"):
        bc.optimize(model, "GGML")
    with pytest.raises(RuntimeError) as info:
        bc.optimize(model, "onnx", gpu="GeForce RTX-4090")
    assert str(info.value) == (
        "Unknown GPU model: 'geforcertx4090'. Try: 4090, 4080, 3090, 3080, 3070, 2080ti, a100, h100, or 'cpu'"
    )


def test_missing_model_file_still_plans(fake_tools, home, tmp_path):
    result = bc.optimize(str(tmp_path / "absent.gguf"), "gguf", gpu="4090", use_cache=False)
    assert result.runtime in ("LlamaCpp", "Ollama")


GOLDEN_DIR = pathlib.Path(__file__).parent / "golden"

TRACE_SCRIPT = """
import os, sys
# One usable CPU, decided before the module first counts cores.
os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})
import brindlecove as bc
try:
    bc.optimize(sys.argv[1], "gguf", gpu="cpu", max_latency_ms=50.0, use_cache=False)
except RuntimeError as e:
    print(e)
"""


def test_whole_run_trace(fake_tools, home, gguf, tmp_path):
    # The estimates scale with the SIMD level, so there is one trace per level.
    # A short context keeps the KV cache far below any machine's RAM, so the
    # available RAM (masked) changes nothing else.
    simd = json.loads(bc.profile_hardware().to_json())["cpu"]["simd_level"]
    model = gguf("trace.gguf", context=2048, params=1_235_814_400)
    proc = subprocess.run(
        [sys.executable, "-c", TRACE_SCRIPT, model], capture_output=True, text=True, cwd=tmp_path, env=dict(os.environ)
    )
    assert proc.returncode == 0, proc.stderr
    lines = [re.sub(r"RAM=\d+MB", "RAM=<available>MB", line) for line in proc.stderr.splitlines()]
    assert lines == (GOLDEN_DIR / f"optimize_one_core_no_tools_{simd}.txt").read_text().splitlines()
    assert proc.stdout.startswith("cartesian fallback also failed: no compatible runtimes found")
