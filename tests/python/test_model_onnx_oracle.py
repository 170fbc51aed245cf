"""analyze_model on ONNX files written by python3-onnx, against what that
library reports about the same files."""

import os
import shutil
import sys

import pytest

try:
    import brindlecove  # noqa: F401
except ImportError:
    sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "python"))

pytest.importorskip("onnx")
import onnx_fixtures  # noqa: E402

_brindlecove = pytest.importorskip("brindlecove._brindlecove")
if not hasattr(_brindlecove, "analyze_model"):
    pytest.skip("analyze_model is not bound yet", allow_module_level=True)
analyze_model = _brindlecove.analyze_model

KEYS = [
    "format",
    "param_count",
    "architecture",
    "context_length",
    "layer_count",
    "hidden_size",
    "attention_head_count",
    "attention_head_count_kv",
    "feed_forward_length",
    "kv_cache_size_mb",
    "memory_footprint_mb",
    "flops_per_token",
]


@pytest.fixture(scope="module")
def fixtures(tmp_path_factory):
    out = tmp_path_factory.mktemp("onnx")
    return out, onnx_fixtures.write_fixtures(str(out))


def expected_dict(summary):
    total = summary["parameter_total"] if summary["has_graph"] else 0
    nodes = summary["graph_node_count"] if summary["has_graph"] else 0
    d = dict.fromkeys(KEYS)
    d["format"] = "onnx"
    if total:
        d["param_count"] = total
        d["memory_footprint_mb"] = float(total) * 2 / 2**20
        d["flops_per_token"] = float(total) * 2
    if nodes:
        d["layer_count"] = nodes & 0xFFFFFFFF
    return d


def test_every_fixture_matches_the_library(fixtures):
    out, expected = fixtures
    for name, summary in expected.items():
        got = analyze_model(str(out / name))
        assert list(got) == KEYS, name
        assert got == expected_dict(summary), name


def test_known_figures(fixtures):
    out, _ = fixtures
    assert analyze_model(str(out / "chain1200.onnx"))["layer_count"] == 1200
    sparse = analyze_model(str(out / "sparse_only.onnx"))
    assert sparse["param_count"] is None and sparse["memory_footprint_mb"] is None
    assert analyze_model(str(out / "no_graph.onnx")) == dict.fromkeys(KEYS) | {"format": "onnx"}
    assert analyze_model(str(out / "overflow.onnx"))["param_count"] == 2**64 - 1


def test_upper_case_extension_and_truncated_file(fixtures, tmp_path):
    out, expected = fixtures
    upper = tmp_path / "MLP.ONNX"
    shutil.copy(out / "mlp.onnx", upper)
    assert analyze_model(str(upper)) == expected_dict(expected["mlp.onnx"])

    data = (out / "mlp.onnx").read_bytes()
    cut = tmp_path / "cut.onnx"
    cut.write_bytes(data[: len(data) // 2])
    with pytest.raises(RuntimeError, match=r"^decode ONNX protobuf: "):
        analyze_model(str(cut))
