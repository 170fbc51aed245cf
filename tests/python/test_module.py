"""The module surface: what exists, in which order, and how calls fail."""

import inspect
import json
import os
import pathlib
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
