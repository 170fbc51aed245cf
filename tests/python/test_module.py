"""The module surface: what exists, in which order, and how calls fail."""

import inspect
import json
import os
import pathlib
import struct
import subprocess
import sys

import pytest

import brindlecove
from brindlecove import _brindlecove as bc

EXPECTED_ALL = [
    "HardwareProfile",
    "OptimizationResult",
    "profile_hardware",
    "optimize",
    "export_ollama",
    "analyze_model",
    "convert_gguf_to_onnx",
    "convert_onnx_to_gguf",
]


def test_module_contents_and_order():
    assert bc.__all__ == EXPECTED_ALL
    public = sorted(n for n in vars(bc) if not n.startswith("_"))
    assert public == sorted(EXPECTED_ALL)
    assert brindlecove.__all__ == EXPECTED_ALL
    assert brindlecove.optimize is bc.optimize
    paragraphs = bc.__doc__.split("\n\n")
    assert len(paragraphs) == 2
    assert "from brindlecove._brindlecove import" in bc.__doc__


@pytest.mark.parametrize(
    "func, params",
    [
        (bc.profile_hardware, []),
        (bc.optimize, ["model_path", "format", "gpu=None", "max_latency_ms=None", "output_path=None", "use_cache=True"]),
        (bc.export_ollama, ["result", "output_dir"]),
        (bc.analyze_model, ["model_path"]),
        (bc.convert_gguf_to_onnx, ["input_path", "output_path"]),
        (bc.convert_onnx_to_gguf, ["input_path", "output_path"]),
        (bc.HardwareProfile.detect, []),
    ],
)
def test_text_signatures(func, params):
    assert [str(p) for p in inspect.signature(func).parameters.values()] == params


def test_method_signatures_and_docs():
    assert str(inspect.signature(bc.HardwareProfile.to_json)) == "(self, /)"
    assert str(inspect.signature(bc.OptimizationResult.to_json)) == "(self, /)"
    assert bc.HardwareProfile.__doc__ == (
        "Python-facing wrapper around [`HardwareProfile`].\n\n"
        "Obtained via `PyHardwareProfile.detect()` or `profile_hardware()`."
    )
    assert bc.HardwareProfile.cpu_cores.__doc__ == "Number of logical CPU cores detected."
    assert bc.profile_hardware.__doc__.endswith(
        "Detect and return the current machine's hardware profile.\n\nEquivalent to `HardwareProfile.detect()`."
    )
    assert "Parameters\n----------" in bc.optimize.__doc__
    assert bc.analyze_model.__text_signature__ == "(model_path)"
    assert bc.analyze_model.__doc__.startswith("Inspect a model file and return its IR metadata as a Python dictionary.")


def test_hardware_profile_object():
    p = bc.profile_hardware()
    q = bc.HardwareProfile.detect()
    assert p is not q
    assert isinstance(p.cpu_cores, int) and p.cpu_cores >= 1
    assert isinstance(p.ram_total_mb, int) and p.ram_total_mb > 0
    data = json.loads(p.to_json())
    assert list(data) == ["cpu", "gpu", "ram"]
    assert list(data["cpu"]) == ["core_count", "brand", "simd_level"]
    assert data["cpu"]["core_count"] == p.cpu_cores
    assert data["ram"]["total_mb"] == p.ram_total_mb
    if data["gpu"] is None:
        assert p.gpu_model is None and p.gpu_vram_mb is None
        assert repr(p) == f"HardwareProfile(cpu_cores={p.cpu_cores}, gpu=None)"
        assert '"gpu":null' in p.to_json()
    assert " " not in p.to_json().replace(data["cpu"]["brand"], "")


def test_classes_cannot_be_constructed_or_changed():
    for cls in (bc.HardwareProfile, bc.OptimizationResult):
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    p = bc.profile_hardware()
    with pytest.raises(AttributeError):
        p.cpu_cores = 1
    with pytest.raises(AttributeError):
        p.anything = 1
    with pytest.raises(TypeError):
        bc.HardwareProfile.to_json(42)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: bc.profile_hardware(1), "profile_hardware() takes 0 positional arguments but 1 was given"),
        (lambda: bc.profile_hardware(x=1), "profile_hardware() got an unexpected keyword argument 'x'"),
        (lambda: bc.HardwareProfile.detect(1), "detect() takes 0 positional arguments but 1 was given"),
        (lambda: bc.profile_hardware().to_json(1), "to_json() takes 0 positional arguments but 1 was given"),
        (lambda: bc.analyze_model(), "analyze_model() missing 1 required positional argument: 'model_path'"),
        (lambda: bc.analyze_model("a", "b"), "analyze_model() takes 1 positional argument but 2 were given"),
        (lambda: bc.analyze_model("a", model_path="b"), "analyze_model() got multiple values for argument 'model_path'"),
        (lambda: bc.analyze_model(path="a"), "analyze_model() got an unexpected keyword argument 'path'"),
        (lambda: bc.optimize(), "optimize() missing 2 required positional arguments: 'model_path' and 'format'"),
        (lambda: bc.optimize("m", "gguf", None, None, None, True, 7), "optimize() takes from 2 to 6 positional arguments but 7 were given"),
        (lambda: bc.optimize(format="gguf"), "optimize() missing 1 required positional argument: 'model_path'"),
        # Keywords are checked before surplus positionals are counted.
        (lambda: bc.optimize("m", "gguf", None, None, None, True, 7, foo=1), "optimize() got an unexpected keyword argument 'foo'"),
        (lambda: bc.optimize("m", "gguf", None, None, None, True, 7, use_cache=True), "optimize() got multiple values for argument 'use_cache'"),
        (lambda: bc.export_ollama(), "export_ollama() missing 2 required positional arguments: 'result' and 'output_dir'"),
        (lambda: bc.analyze_model(pathlib.Path("m.gguf")), "argument 'model_path': must be str, not PosixPath"),
        (lambda: bc.analyze_model(b"m.gguf"), "argument 'model_path': must be str, not bytes"),
        (lambda: bc.optimize("m", 1), "argument 'format': must be str, not int"),
        (lambda: bc.optimize(1, 1), "argument 'model_path': must be str, not int"),
        (lambda: bc.optimize("m", "gguf", gpu=4090), "argument 'gpu': must be str or None, not int"),
        (lambda: bc.optimize("m", "gguf", max_latency_ms="10"), "argument 'max_latency_ms': must be real number or None, not str"),
        (lambda: bc.optimize("m", "gguf", output_path=pathlib.Path("x")), "argument 'output_path': must be str or None, not PosixPath"),
        (lambda: bc.optimize("m", "gguf", use_cache=None), "argument 'use_cache': must be bool, not NoneType"),
        (lambda: bc.optimize("m", "gguf", use_cache=1), "argument 'use_cache': must be bool, not int"),
        (lambda: bc.export_ollama("r", "d"), "argument 'result': must be OptimizationResult, not str"),
        (lambda: bc.convert_gguf_to_onnx("a", None), "argument 'output_path': must be str, not NoneType"),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_import_is_silent_and_starts_nothing(tmp_path):
    marker = tmp_path / "started"
    bindir = tmp_path / "bin"
    bindir.mkdir()
    for tool in ("nvidia-smi", "rocm-smi", "amd-smi", "llama-cli", "ollama"):
        script = bindir / tool
        script.write_text(f"#!/bin/sh\necho {tool} >> {marker}\n")
        script.chmod(0o755)
    env = dict(os.environ, PATH=f"{bindir}:{os.environ['PATH']}")
    proc = subprocess.run(
        [sys.executable, "-c", "import brindlecove, brindlecove._brindlecove"],
        capture_output=True, env=env, cwd=tmp_path,
    )
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == b"" and proc.stderr == b""
    assert not marker.exists()


ANALYZE_KEYS = [
    "format", "param_count", "architecture", "context_length", "layer_count", "hidden_size",
    "attention_head_count", "attention_head_count_kv", "feed_forward_length", "kv_cache_size_mb",
    "memory_footprint_mb", "flops_per_token",
]


def test_analyze_model_gguf(gguf, tmp_path):
    path = gguf("upper.GGUF")
    info = bc.analyze_model(path)
    assert list(info) == ANALYZE_KEYS
    assert info["format"] == "gguf" and info["architecture"] == "llama"
    assert (info["context_length"], info["layer_count"], info["hidden_size"]) == (131072, 16, 2048)
    assert isinstance(info["param_count"], int) and isinstance(info["flops_per_token"], float)
    assert bc.analyze_model(path) == info

    bare = bc.analyze_model(gguf("bare.gguf", kvs=[]))
    assert list(bare) == ANALYZE_KEYS
    assert bare["format"] == "gguf" and bare["architecture"] is None

    (tmp_path / "model.bin").write_bytes(b"GGUF")
    for bad in (str(tmp_path / "model.bin"), str(tmp_path / "absent.gguf")):
        with pytest.raises(RuntimeError):
            bc.analyze_model(bad)


def test_error_text_survives_nul_bytes(tmp_path):
    # The key is quoted in the reader's message; the NUL must not end it.
    path = tmp_path / "odd.gguf"
    path.write_bytes(b"GGUF" + struct.pack("<IQQ", 3, 0, 1) + struct.pack("<Q", 3) + b"a\x00b" + struct.pack("<I", 99))
    with pytest.raises(RuntimeError) as info:
        bc.analyze_model(str(path))
    assert "for key 'a\x00b'" in str(info.value)
