"""The two conversion runners, run as the module runs them: a child process
with one JSON request on stdin and one JSON reply on stdout.

The gguf package is not installed here; tests/python/gguf_standin provides
the part of its interface the runners use, reading and writing real GGUF
files, and goes first on PYTHONPATH for the conversions.
"""

import importlib
import json
import os
import pathlib
import subprocess
import sys

import numpy as np
import onnx
import onnx.helper
import onnx.numpy_helper
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
PACKAGE = ROOT / "python" / "brindlecove"
STANDIN = pathlib.Path(__file__).resolve().parent / "gguf_standin"
TO_ONNX = PACKAGE / "gguf_to_onnx_runner.py"
TO_GGUF = PACKAGE / "onnx_to_gguf_runner.py"

sys.path.insert(0, str(STANDIN))
import gguf  # noqa: E402  (the stand-in)

VT = gguf.GGUFValueType
QT = gguf.GGMLQuantizationType


def run(script, stdin, pythonpath=(STANDIN,), cwd=None, env=None):
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(str(p) for p in pythonpath))
    environment.update(env or {})
    proc = subprocess.run(
        [sys.executable, str(script)], input=stdin, capture_output=True, cwd=cwd, env=environment
    )
    # Exactly one line on stdout, and it is the reply.
    lines = proc.stdout.decode("utf-8").splitlines()
    assert len(lines) == 1, proc.stdout
    return json.loads(lines[0]), proc


def convert(script, input_path, output_path, **kwargs):
    request = json.dumps({"input_path": str(input_path), "output_path": str(output_path)})
    reply, proc = run(script, request.encode("utf-8"), **kwargs)
    assert proc.returncode == (0 if "output_path" in reply else 1), proc.stderr
    return reply


def error_of(script, input_path, output_path, **kwargs):
    reply = convert(script, input_path, output_path, **kwargs)
    assert set(reply) == {"error"}, reply
    return reply["error"]


def leftovers(directory):
    return sorted(p.name for p in pathlib.Path(directory).iterdir() if ".partial" in p.name)


# --- fixtures ---------------------------------------------------------------


def q8_0_rows(scales, values):
    """Q8_0 bytes: per block of 32, a float16 scale and 32 int8 values."""
    rows = []
    for scale, row in zip(scales, values):
        block = np.zeros(34, dtype=np.uint8)
        block[:2] = np.array([scale], dtype=np.float16).view(np.uint8)
        block[2:] = np.asarray(row, dtype=np.int8).view(np.uint8)
        rows.append(block)
    return np.stack(rows)


METADATA = [
    ("general.name", VT.STRING, "tiny llama"),
    ("general.alignment", VT.UINT32, 64),
    ("tiny.u8", VT.UINT8, 255),
    ("tiny.i8", VT.INT8, -128),
    ("tiny.u16", VT.UINT16, 65535),
    ("tiny.i16", VT.INT16, -32768),
    ("tiny.context_length", VT.UINT32, 4096),
    ("tiny.i32", VT.INT32, -7),
    ("tiny.rope.freq_base", VT.FLOAT32, 10000.5),
    ("tiny.flag", VT.BOOL, True),
    ("tiny.u64", VT.UINT64, 2**64 - 1),
    ("tiny.i64", VT.INT64, -(2**63)),
    ("tiny.f64", VT.FLOAT64, 0.1),
    ("tiny.raw", VT.STRING, b"caf\xe9"),
    ("tokenizer.ggml.tokens", VT.ARRAY, (VT.STRING, ["<s>", "caf\u00e9", ""])),
    ("tokenizer.ggml.scores", VT.ARRAY, (VT.FLOAT32, [0.0, -1.5])),
    ("tokenizer.ggml.token_type", VT.ARRAY, (VT.INT32, [1, 2, 3])),
    ("tiny.big", VT.ARRAY, (VT.UINT64, [0, 2**64 - 1])),
    ("tiny.empty", VT.ARRAY, (VT.UINT32, [])),
]

F32 = np.arange(12, dtype=np.float32).reshape(3, 4) / 8
F16 = np.array([[0.5, -2.0], [65504.0, 1e-4]], dtype=np.float16)
BF16_VALUES = np.array([1.0, -2.5, 3.140625, 0.0], dtype=np.float32)
Q8_SCALES = [0.5, 0.25]
Q8_VALUES = [list(range(-16, 16)), list(range(31, -1, -1))]
I32 = np.array([[1, -2, 3]], dtype=np.int32)


def write_gguf(path, metadata=METADATA, extra_tensors=()):
    w = gguf.GGUFWriter(str(path), "tiny")
    for key, vtype, value in metadata:
        if key == "general.alignment":
            w.add_custom_alignment(value)
        elif vtype == VT.ARRAY:
            w.add_key_value(key, value[1], VT.ARRAY, sub_type=value[0])
        else:
            w.add_key_value(key, value, vtype)
    w.add_tensor("blk.0.f32", F32)
    w.add_tensor("blk.0.f16", F16)
    bf16 = (BF16_VALUES.view(np.uint32) >> 16).astype(np.uint16).view(np.uint8).reshape(1, 8)
    w.add_tensor("blk.0.bf16", bf16, raw_dtype=QT.BF16)
    w.add_tensor("blk.0.q8", q8_0_rows(Q8_SCALES, Q8_VALUES), raw_dtype=QT.Q8_0)
    w.add_tensor("blk.0.i32", I32)
    for name, array, raw in extra_tensors:
        w.add_tensor(name, array, raw_dtype=raw)
    w.write_header_to_file()
    w.write_kv_data_to_file()
    w.write_ti_data_to_file()
    w.write_tensors_to_file()
    w.close()
    return path


def field_description(field):
    """(types, python value) of a stand-in reader field."""
    def scalar(kind, part):
        return bytes(part) if kind == VT.STRING else part[0].item()

    kind = VT(int(field.types[0]))
    if kind != VT.ARRAY:
        return kind, scalar(kind, field.parts[field.data[0]])
    item = VT(int(field.parts[3][0]))
    return (kind, item), [scalar(item, field.parts[i]) for i in field.data]


def gguf_contents(path):
    reader = gguf.GGUFReader(str(path))
    fields = {
        name: field_description(f) for name, f in reader.fields.items() if not name.startswith("GGUF.")
    }
    tensors = {t.name: (t.tensor_type, np.array(t.data)) for t in reader.tensors}
    return fields, tensors


def expected_field(vtype, value):
    if vtype == VT.ARRAY:
        item, values = value
        encoded = [v.encode("utf-8") if isinstance(v, str) else v for v in values]
        return (VT.ARRAY, item), encoded
    return vtype, value.encode("utf-8") if isinstance(value, str) else value


# --- protocol ---------------------------------------------------------------


@pytest.mark.parametrize("script", [TO_ONNX, TO_GGUF], ids=["to_onnx", "to_gguf"])
@pytest.mark.parametrize(
    "stdin, message",
    [
        (b"", "invalid request: Expecting value: line 1 column 1 (char 0)"),
        (b"not json", "invalid request: Expecting value: line 1 column 1 (char 0)"),
        (b"\xff{}", "invalid request: 'utf-8' codec can't decode byte 0xff in position 0: invalid start byte"),
        (b"[]", "invalid request: expected a JSON object"),
        (b'{"output_path": "o"}', "invalid request: `input_path` must be a non-empty string"),
        (b'{"input_path": "i", "output_path": 5}', "invalid request: `output_path` must be a non-empty string"),
        (b'{"input_path": "", "output_path": "o"}', "invalid request: `input_path` must be a non-empty string"),
    ],
)
def test_bad_requests_get_an_error_reply(script, stdin, message):
    reply, proc = run(script, stdin)
    assert reply == {"error": message}
    assert proc.returncode == 1
    assert b"Traceback" not in proc.stderr


@pytest.mark.parametrize("script", [TO_ONNX, TO_GGUF], ids=["to_onnx", "to_gguf"])
def test_missing_packages_are_named(script, tmp_path):
    # Packages that fail to import the way an absent one does, so that the
    # result does not depend on what this machine has installed.
    shadow = tmp_path / "shadow"
    for name in ("gguf", "onnx"):
        (shadow / name).mkdir(parents=True)
        (shadow / name / "__init__.py").write_text(f"raise ModuleNotFoundError(\"No module named '{name}'\")\n")
    assert error_of(script, tmp_path / "in", tmp_path / "out", pythonpath=[shadow]) == (
        "required Python packages not installed: gguf, onnx (pip install gguf onnx)"
    )
    (shadow / "onnx" / "__init__.py").unlink()
    (shadow / "onnx").rmdir()
    assert error_of(script, tmp_path / "missing", tmp_path / "out", pythonpath=[shadow]) == (
        "required Python package not installed: gguf (pip install gguf)"
    )


def test_output_on_file_descriptor_1_stays_off_the_reply(tmp_path):
    source = write_gguf(tmp_path / "m.gguf")
    reply, proc = run(
        TO_ONNX,
        json.dumps({"input_path": str(source), "output_path": str(tmp_path / "m.onnx")}).encode(),
        env={"GGUF_STANDIN_BANNER": "1"},
    )
    assert reply == {"output_path": str(tmp_path / "m.onnx")}
    assert b"gguf stand-in banner" in proc.stderr


# --- GGUF -> ONNX -> GGUF ---------------------------------------------------


def test_round_trip_keeps_weights_and_typed_metadata(tmp_path):
    source = write_gguf(tmp_path / "tiny.gguf")
    assert convert(TO_ONNX, source, tmp_path / "tiny.onnx") == {"output_path": str(tmp_path / "tiny.onnx")}

    model = onnx.load(str(tmp_path / "tiny.onnx"))
    onnx.checker.check_model(model)
    assert model.graph.name == "tiny llama"
    weights = {t.name: onnx.numpy_helper.to_array(t) for t in model.graph.initializer}
    assert list(weights) == ["blk.0.f32", "blk.0.f16", "blk.0.bf16", "blk.0.q8", "blk.0.i32"]
    np.testing.assert_array_equal(weights["blk.0.f32"], F32)
    assert weights["blk.0.f16"].dtype == np.float16
    np.testing.assert_array_equal(weights["blk.0.f16"], F16)
    assert weights["blk.0.bf16"].dtype == np.float32 and weights["blk.0.bf16"].shape == (1, 4)
    np.testing.assert_array_equal(weights["blk.0.bf16"][0], BF16_VALUES)
    expected_q8 = np.array(Q8_VALUES, dtype=np.float32) * np.array(Q8_SCALES, dtype=np.float32)[:, None]
    np.testing.assert_array_equal(weights["blk.0.q8"], expected_q8)
    np.testing.assert_array_equal(weights["blk.0.i32"], I32)
    props = {p.key: json.loads(p.value) for p in model.metadata_props}
    assert props["gguf.general.architecture"] == {"type": "string", "value": "tiny"}
    assert props["gguf.tiny.u64"] == {"type": "uint64", "value": 2**64 - 1}
    assert props["gguf.tiny.empty"] == {"type": "array", "item_type": "uint32", "value": []}
    assert "gguf.GGUF.version" not in props

    assert convert(TO_GGUF, tmp_path / "tiny.onnx", tmp_path / "back.gguf") == {
        "output_path": str(tmp_path / "back.gguf")
    }
    fields, tensors = gguf_contents(tmp_path / "back.gguf")
    assert fields == {
        "general.architecture": (VT.STRING, b"tiny"),
        **{key: expected_field(vtype, value) for key, vtype, value in METADATA},
    }
    assert list(fields)[:2] == ["general.architecture", "general.name"]
    assert {name: kind for name, (kind, _) in tensors.items()} == {
        "blk.0.f32": QT.F32,
        "blk.0.f16": QT.F16,
        "blk.0.bf16": QT.F32,
        "blk.0.q8": QT.F32,
        "blk.0.i32": QT.I32,
    }
    for name, array in weights.items():
        np.testing.assert_array_equal(tensors[name][1], array)
    assert leftovers(tmp_path) == []


def test_large_models_keep_their_tensors_beside_the_model(tmp_path, monkeypatch):
    monkeypatch.syspath_prepend(str(PACKAGE))
    monkeypatch.chdir(tmp_path)
    runner = importlib.import_module("gguf_to_onnx_runner")
    source = write_gguf(tmp_path / "tiny.gguf")
    (tmp_path / "out").mkdir()
    # A data file left from an earlier run must not be appended to.
    (tmp_path / "out" / "big.onnx.data").write_bytes(b"stale" * 1000)
    written = runner.convert("tiny.gguf", "out/big.onnx", embedded_limit=0)
    assert written == str(tmp_path / "out" / "big.onnx")
    assert sorted(os.listdir(tmp_path / "out")) == ["big.onnx", "big.onnx.data"]

    lazy = onnx.load(written, load_external_data=False)
    assert all(t.data_location == onnx.TensorProto.EXTERNAL for t in lazy.graph.initializer)
    model = onnx.load(written)
    weights = {t.name: onnx.numpy_helper.to_array(t) for t in model.graph.initializer}
    np.testing.assert_array_equal(weights["blk.0.f32"], F32)
    np.testing.assert_array_equal(weights["blk.0.i32"], I32)
    sizes = sum(a.nbytes for a in weights.values())
    assert os.path.getsize(tmp_path / "out" / "big.onnx.data") == sizes

    # The other runner reads external data back.
    convert(TO_GGUF, written, tmp_path / "back.gguf")
    _, tensors = gguf_contents(tmp_path / "back.gguf")
    np.testing.assert_array_equal(tensors["blk.0.f16"][1], F16)


def test_metadata_only_gguf_round_trips(tmp_path):
    path = tmp_path / "vocab.gguf"
    w = gguf.GGUFWriter(str(path), "llama")
    w.add_key_value("tokenizer.ggml.tokens", ["a", "b"], VT.ARRAY, sub_type=VT.STRING)
    w.write_header_to_file()
    w.write_kv_data_to_file()
    w.write_ti_data_to_file()
    w.close()
    convert(TO_ONNX, path, tmp_path / "vocab.onnx")
    convert(TO_GGUF, tmp_path / "vocab.onnx", tmp_path / "back.gguf")
    fields, tensors = gguf_contents(tmp_path / "back.gguf")
    assert fields["tokenizer.ggml.tokens"] == ((VT.ARRAY, VT.STRING), [b"a", b"b"])
    assert fields["general.name"] == (VT.STRING, b"vocab")
    assert tensors == {}


def test_unsupported_quantization_fails_and_keeps_the_old_output(tmp_path):
    q4k = np.zeros((1, 144), dtype=np.uint8)
    source = write_gguf(tmp_path / "k.gguf", extra_tensors=[("blk.0.q4k", q4k, QT.Q4_K)])
    target = tmp_path / "k.onnx"
    target.write_bytes(b"previous output")
    assert error_of(TO_ONNX, source, target) == (
        "tensor `blk.0.q4k` is Q4_K, which the installed gguf package cannot dequantize"
    )
    assert target.read_bytes() == b"previous output"
    assert leftovers(tmp_path) == []


# --- ONNX from elsewhere ----------------------------------------------------


def make_onnx(path, initializers, nodes=(), props=None, name="net"):
    graph = onnx.helper.make_graph(list(nodes), name, [], [], initializer=initializers)
    model = onnx.helper.make_model(graph, producer_name="test")
    for key, value in (props or {}).items():
        entry = model.metadata_props.add()
        entry.key, entry.value = key, value
    onnx.save_model(model, str(path))
    return path


def test_foreign_onnx_types_are_widened_not_lost(tmp_path):
    arrays = {
        "u8": np.array([0, 255], dtype=np.uint8),
        "u16": np.array([65535], dtype=np.uint16),
        "u32": np.array([[2**32 - 1]], dtype=np.uint32),
        "u64": np.array([2**63 - 1], dtype=np.uint64),
        "flags": np.array([True, False]),
        "scalar": np.array(7, dtype=np.int64),
        "half": np.array([1.5], dtype=np.float16),
        "double": np.array([0.1], dtype=np.float64),
        "conv": np.ones((2, 3, 4, 5), dtype=np.float32),
    }
    tensors = [onnx.numpy_helper.from_array(a, n) for n, a in arrays.items()]
    tensors.append(onnx.helper.make_tensor("bf", onnx.TensorProto.BFLOAT16, [2], [1.5, -0.25]))
    props = {"author": "someone", "gguf.bad": "not json", "gguf.tiny.n": '{"type":"uint16","value":9}'}
    source = make_onnx(tmp_path / "net.onnx", tensors, props=props)
    convert(TO_GGUF, source, tmp_path / "net.gguf")
    fields, got = gguf_contents(tmp_path / "net.gguf")
    assert fields == {
        "general.architecture": (VT.STRING, b"onnx"),
        "general.name": (VT.STRING, b"net"),
        "onnx.metadata.author": (VT.STRING, b"someone"),
        "onnx.metadata.gguf.bad": (VT.STRING, b"not json"),
        "tiny.n": (VT.UINT16, 9),
    }
    kinds = {name: kind for name, (kind, _) in got.items()}
    assert kinds == {
        "u8": QT.I16, "u16": QT.I32, "u32": QT.I64, "u64": QT.I64, "flags": QT.I8,
        "scalar": QT.I64, "half": QT.F16, "double": QT.F64, "conv": QT.F32, "bf": QT.F32,
    }
    for name, array in arrays.items():
        np.testing.assert_array_equal(got[name][1], array.reshape(array.shape or (1,)))
    np.testing.assert_array_equal(got["bf"][1], [1.5, -0.25])


def onnx_refusals():
    ok = onnx.numpy_helper.from_array(np.ones(2, dtype=np.float32), "w")
    outside = onnx.numpy_helper.from_array(np.ones(2, dtype=np.float32), "leak")
    outside.ClearField("raw_data")
    outside.data_location = onnx.TensorProto.EXTERNAL
    entry = outside.external_data.add()
    entry.key, entry.value = "location", "../secret.bin"
    sparse = onnx.helper.make_sparse_tensor(
        onnx.numpy_helper.from_array(np.ones(1, dtype=np.float32), "v"),
        onnx.numpy_helper.from_array(np.zeros(1, dtype=np.int64), "i"),
        [4],
    )
    long_name = "n" * 64
    relu = onnx.helper.make_node("Relu", ["x"], ["y"])
    return [
        ([onnx.numpy_helper.from_array(np.ones(2, dtype=np.float32), long_name)], (), None,
         "tensor name `%s` is longer than GGUF allows (63 bytes)" % long_name),
        ([onnx.numpy_helper.from_array(np.ones((1, 1, 1, 1, 2), dtype=np.float32), "five")], (), None,
         "tensor `five` has 5 dimensions; GGUF holds at most 4"),
        ([onnx.helper.make_tensor("s", onnx.TensorProto.STRING, [1], [b"x"])], (), None,
         "tensor `s` has type STRING, which GGUF cannot hold"),
        ([ok, ok], (), None, "tensor name `w` appears twice"),
        ([ok, outside], (), None, "tensor `leak` keeps its data outside the model's directory: ../secret.bin"),
        ([ok], (), sparse, "sparse initializers are not supported"),
        ([], (relu,), None, "the ONNX graph keeps no initializers (weights) to convert"),
        # Found while the tensors are written: nothing is left behind either.
        ([ok, onnx.numpy_helper.from_array(np.array([2**64 - 1], dtype=np.uint64), "big")], (), None,
         "tensor `big` holds UINT64 values beyond INT64"),
    ]


@pytest.mark.parametrize("case", range(len(onnx_refusals())))
def test_onnx_that_gguf_cannot_hold_is_refused(tmp_path, case):
    initializers, nodes, sparse, message = onnx_refusals()[case]
    (tmp_path / "secret.bin").write_bytes(b"\0" * 8)
    (tmp_path / "models").mkdir()
    source = make_onnx(tmp_path / "models" / "m.onnx", initializers, nodes)
    if sparse is not None:
        model = onnx.load(str(source))
        model.graph.sparse_initializer.append(sparse)
        onnx.save_model(model, str(source))
    assert error_of(TO_GGUF, source, tmp_path / "m.gguf") == message
    assert not (tmp_path / "m.gguf").exists()
    assert leftovers(tmp_path) == []


# --- bad files and paths ----------------------------------------------------


def test_bad_inputs_and_outputs(tmp_path):
    gguf_file = write_gguf(tmp_path / "ok.gguf")
    onnx_file = make_onnx(tmp_path / "ok.onnx", [onnx.numpy_helper.from_array(np.ones(1, np.float32), "w")])
    text = tmp_path / "notes.txt"
    text.write_text("hello world this is text\n")
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    truncated = tmp_path / "cut.gguf"
    truncated.write_bytes(gguf_file.read_bytes()[:40])

    for source in (onnx_file, text, empty, truncated):
        assert error_of(TO_ONNX, source, tmp_path / "o.onnx").startswith(f"not a valid GGUF file: {source}: ")
    for source in (gguf_file, text):
        assert error_of(TO_GGUF, source, tmp_path / "o.gguf").startswith(f"not a valid ONNX file: {source}: ")
    # Protobuf reads no bytes as an empty message.
    assert error_of(TO_GGUF, empty, tmp_path / "o.gguf") == f"not a valid ONNX file: {empty}: no model graph"

    missing = tmp_path / "missing.gguf"
    assert error_of(TO_ONNX, missing, tmp_path / "o.onnx") == f"input file not found: {missing}"
    assert error_of(TO_ONNX, tmp_path, tmp_path / "o.onnx") == f"input is not a regular file: {tmp_path}"
    assert error_of(TO_GGUF, onnx_file, tmp_path) == f"output path is a directory: {tmp_path}"
    assert error_of(TO_GGUF, onnx_file, tmp_path / "no" / "o.gguf") == (
        f"output directory does not exist: {tmp_path / 'no'}"
    )
    assert sorted(p.name for p in tmp_path.iterdir()) == ["cut.gguf", "empty", "notes.txt", "ok.gguf", "ok.onnx"]


def test_reply_names_the_written_file_absolutely(tmp_path):
    (tmp_path / "real").mkdir()
    (tmp_path / "link").symlink_to(tmp_path / "real")
    source = write_gguf(tmp_path / "m.gguf")
    reply = convert(TO_ONNX, "../m.gguf", "../link/./out.onnx", cwd=tmp_path / "real")
    assert reply == {"output_path": str(tmp_path / "real" / "out.onnx")}
    assert (tmp_path / "real" / "out.onnx").is_file()
    # Writing over the input is safe: the input is read before it is replaced.
    assert convert(TO_ONNX, source, source) == {"output_path": str(source)}
    assert onnx.load(str(source)).graph.name == "tiny llama"
