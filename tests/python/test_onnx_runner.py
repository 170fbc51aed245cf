"""The onnx_runner.py protocol, run as the adapter runs it: a child process
with one JSON request on stdin and one JSON reply on stdout.

onnxruntime is not installed here, so the measuring path is driven through a
small stand-in package put first on PYTHONPATH; it records what the runner
asked of it.
"""

import importlib.util
import json
import os
import pathlib
import subprocess
import sys
import textwrap

import pytest

RUNNER = pathlib.Path(__file__).resolve().parents[2] / "python" / "brindlecove" / "onnx_runner.py"

REQUEST = {
    "batch_size": 2,
    "execution_provider": "CPUExecutionProvider",
    "model_path": "",
    "prompt_tokens": 50,
    "threads": 3,
}

FAKE_ORT = textwrap.dedent(
    """
    import json, os, sys

    # Native code may print on fd 1; the runner must keep that off its reply.
    os.write(1, b"onnxruntime native banner\\n")

    PLAN = json.loads(os.environ.get("FAKE_ORT_PLAN", "{}"))
    LOG = os.environ.get("FAKE_ORT_LOG")

    def _log(event, **fields):
        if LOG:
            with open(LOG, "a") as f:
                f.write(json.dumps(dict(event=event, **fields)) + "\\n")

    def get_available_providers():
        return PLAN.get("available", ["CPUExecutionProvider"])

    class SessionOptions:
        intra_op_num_threads = 0

    class NodeArg:
        def __init__(self, name, type, shape):
            self.name, self.type, self.shape = name, type, shape

    class InferenceSession:
        def __init__(self, model, sess_options=None, providers=None):
            if PLAN.get("load_error"):
                raise RuntimeError(PLAN["load_error"])
            self.providers = list(providers or [])
            kept = PLAN.get("kept_providers")
            self.kept = self.providers if kept is None else kept
            threads = sess_options.intra_op_num_threads if sess_options else None
            _log("session", model=model if isinstance(model, str) else "<bytes>",
                 providers=self.providers, threads=threads)

        def get_providers(self):
            return self.kept

        def get_inputs(self):
            if PLAN.get("inputs_error"):
                raise TypeError(PLAN["inputs_error"])
            return [NodeArg(**i) for i in PLAN.get("inputs", [])]

        def run(self, outputs, feeds):
            if PLAN.get("run_error"):
                raise RuntimeError(PLAN["run_error"])
            _log("run", feeds={k: dict(shape=list(v.shape), dtype=str(v.dtype),
                                       values=v.ravel()[:60].tolist())
                               for k, v in feeds.items()})
            return [next(iter(feeds.values()))] if feeds else []
    """
)


def run_runner(args=(), stdin=b"", env_extra=None):
    env = dict(os.environ)
    env.pop("PYTHONPATH", None)
    env.pop("PYTEST_CURRENT_TEST", None)
    env.update(env_extra or {})
    return subprocess.run(
        [sys.executable, str(RUNNER), *args],
        input=stdin,
        capture_output=True,
        env=env,
        timeout=60,
    )


def one_reply(proc):
    """The whole of stdout must be one JSON object on one line."""
    assert proc.returncode == 0, proc.stderr
    lines = proc.stdout.decode("utf-8").splitlines()
    assert len(lines) == 1, proc.stdout
    reply = json.loads(lines[0])
    assert isinstance(reply, dict)
    return reply


@pytest.fixture
def fake_ort(tmp_path):
    pkg = tmp_path / "site" / "onnxruntime"
    pkg.mkdir(parents=True)
    (pkg / "__init__.py").write_text(FAKE_ORT)
    model = tmp_path / "model.onnx"
    model.write_bytes(b"onnx")
    log = tmp_path / "ort.log"

    def run(plan, request=None, args=()):
        req = dict(REQUEST, model_path=str(model))
        req.update(request or {})
        env = {
            "PYTHONPATH": str(tmp_path / "site"),
            "FAKE_ORT_PLAN": json.dumps(plan),
            "FAKE_ORT_LOG": str(log),
        }
        proc = run_runner(args, json.dumps(req).encode(), env)
        events = [json.loads(l) for l in log.read_text().splitlines()] if log.exists() else []
        return proc, events

    run.model = model
    return run


def ort_missing():
    return importlib.util.find_spec("onnxruntime") is None


@pytest.mark.skipif(not ort_missing(), reason="onnxruntime is installed")
def test_check_fails_cleanly_without_onnxruntime():
    proc = run_runner(["--check"])
    assert proc.returncode != 0
    assert proc.stdout == b""
    assert b"Traceback" not in proc.stderr
    assert b"onnxruntime" in proc.stderr


@pytest.mark.skipif(not ort_missing(), reason="onnxruntime is installed")
def test_measurement_without_onnxruntime_is_an_error_reply(tmp_path):
    model = tmp_path / "m.onnx"
    model.write_bytes(b"x")
    proc = run_runner(stdin=json.dumps(dict(REQUEST, model_path=str(model))).encode())
    reply = one_reply(proc)
    assert reply == {"error": "onnxruntime is not installed: No module named 'onnxruntime'"}


@pytest.mark.parametrize(
    "stdin, message",
    [
        (b"", "invalid request: Expecting value"),
        (b"{not json", "invalid request: Expecting property name"),
        (b"\xff\xfe\x00garbage", "invalid request:"),
        (b"[1, 2]", "invalid request: expected a JSON object"),
        (json.dumps({k: v for k, v in REQUEST.items() if k != "threads"}).encode(),
         "invalid request: missing field `threads`"),
        (json.dumps(dict(REQUEST, threads=True)).encode(),
         "invalid request: field `threads` must be int"),
        (json.dumps(dict(REQUEST, batch_size=2.0)).encode(),
         "invalid request: field `batch_size` must be int"),
        (json.dumps(dict(REQUEST, model_path=7)).encode(),
         "invalid request: field `model_path` must be str"),
        (json.dumps(dict(REQUEST, batch_size=0)).encode(),
         "invalid request: batch_size must be at least 1"),
        (json.dumps(dict(REQUEST, prompt_tokens=0)).encode(),
         "invalid request: prompt_tokens must be at least 1"),
        (json.dumps(dict(REQUEST, threads=-1)).encode(),
         "invalid request: threads must not be negative"),
        pytest.param(b'{"batch_size": 1' + b" " * 200000 + b"}",
                     "invalid request: missing field", id="oversized"),
    ],
)
def test_bad_requests_are_error_replies(stdin, message):
    reply = one_reply(run_runner(stdin=stdin))
    assert set(reply) == {"error"}
    assert reply["error"].startswith(message)


def test_measurement_builds_inputs_from_the_declared_ones(fake_ort):
    plan = {
        "inputs": [
            {"name": "input_ids", "type": "tensor(int64)", "shape": ["batch_size", "sequence_length"]},
            {"name": "attention_mask", "type": "tensor(int64)",
             "shape": ["batch_size", "past_sequence_length + sequence_length"]},
            {"name": "position_ids", "type": "tensor(int32)", "shape": [None, None]},
            {"name": "past_key_values.0.key", "type": "tensor(float16)",
             "shape": ["batch_size", 4, "past_sequence_length", 8]},
        ]
    }
    proc, events = fake_ort(plan)
    reply = one_reply(proc)
    assert set(reply) == {"tokens_per_sec", "latency_ms", "peak_memory_mb"}
    assert reply["tokens_per_sec"] > 0 and reply["latency_ms"] > 0
    assert isinstance(reply["peak_memory_mb"], int) and reply["peak_memory_mb"] > 0
    assert abs(reply["tokens_per_sec"] * reply["latency_ms"] / 1000 - 2 * 50) < 1e-6
    assert b"native banner" in proc.stderr

    session, runs = events[0], events[1:]
    assert session == {"event": "session", "model": str(fake_ort.model),
                       "providers": ["CPUExecutionProvider"], "threads": 3}
    assert len(runs) == 7  # two warm-up runs, five timed
    feeds = runs[-1]["feeds"]
    assert feeds["input_ids"]["shape"] == [2, 50]
    assert feeds["input_ids"]["dtype"] == "int64"
    assert feeds["input_ids"]["values"][:3] == [1, 2, 3]
    assert feeds["attention_mask"] == {"shape": [2, 50], "dtype": "int64", "values": [1] * 60}
    assert feeds["position_ids"]["shape"] == [2, 50]
    assert feeds["position_ids"]["dtype"] == "int32"
    assert feeds["position_ids"]["values"][:52] == list(range(50)) + [0, 1]
    assert feeds["past_key_values.0.key"]["shape"] == [2, 4, 0, 8]
    assert feeds["past_key_values.0.key"]["dtype"] == "float16"


def test_requested_provider_and_default_threads(fake_ort):
    plan = {"available": ["CUDAExecutionProvider", "CPUExecutionProvider"],
            "inputs": [{"name": "input_ids", "type": "tensor(int64)", "shape": [1, 16]}]}
    proc, events = fake_ort(plan, {"execution_provider": "CUDAExecutionProvider", "threads": 0,
                                   "prompt_tokens": 8})
    reply = one_reply(proc)
    assert events[0]["providers"] == ["CUDAExecutionProvider"]
    assert events[0]["threads"] == 0
    # Fixed dimensions are kept as the model declares them.
    assert events[-1]["feeds"]["input_ids"]["shape"] == [1, 16]
    # ... and the rate counts the tokens actually fed.
    assert abs(reply["tokens_per_sec"] * reply["latency_ms"] / 1000 - 16) < 1e-6


@pytest.mark.parametrize(
    "plan, request_update, message",
    [
        ({}, {"execution_provider": "CUDAExecutionProvider"},
         "execution provider CUDAExecutionProvider is not available (available: CPUExecutionProvider)"),
        ({"available": ["CUDAExecutionProvider", "CPUExecutionProvider"],
          "kept_providers": ["CPUExecutionProvider"]},
         {"execution_provider": "CUDAExecutionProvider"},
         "execution provider CUDAExecutionProvider could not be initialised"),
        ({"load_error": "Invalid model"}, {}, "could not load model: Invalid model"),
        ({"run_error": "shape mismatch", "inputs": []}, {}, "inference failed: shape mismatch"),
        ({"inputs": [{"name": "x", "type": "tensor(string)", "shape": [1]}]}, {},
         "input `x` has unsupported type tensor(string)"),
        ({"inputs_error": "boom"}, {}, "TypeError: boom"),
        ({}, {"model_path": "/nonexistent/model.onnx"},
         "model file not found: /nonexistent/model.onnx"),
    ],
)
def test_measurement_failures_are_error_replies(fake_ort, plan, request_update, message):
    proc, _ = fake_ort(plan, request_update)
    assert one_reply(proc) == {"error": message}
    assert b"Traceback" not in proc.stdout


def test_check_with_a_working_onnxruntime(fake_ort, tmp_path):
    proc, events = fake_ort({}, args=["--check"])
    assert proc.returncode == 0, proc.stderr
    assert events[0]["model"] == "<bytes>"
    proc, _ = fake_ort({"load_error": "no session"}, args=["--check"])
    assert proc.returncode == 1
    assert b"no session" in proc.stderr


def test_check_model_is_a_valid_onnx_model():
    onnx = pytest.importorskip("onnx")
    sys.path.insert(0, str(RUNNER.parent))
    try:
        import onnx_runner
    finally:
        sys.path.pop(0)
    model = onnx.load_from_string(onnx_runner.identity_model_bytes())
    onnx.checker.check_model(model, full_check=True)
    assert [n.op_type for n in model.graph.node] == ["Identity"]


@pytest.mark.parametrize(
    "shape, expected",
    [
        (["batch", "sequence"], [2, 50]),
        ([None, None], [2, 50]),
        ([1, "seq_len"], [1, 50]),
        (["past_sequence_length"], [0]),
        (["total_sequence_length"], [50]),
        (["sequence_length", "batch_size"], [50, 2]),
        ([None, 4, "past_sequence_length + 1", 64], [2, 4, 50, 64]),
        ([], []),
        (None, []),
    ],
)
def test_resolve_shape(shape, expected):
    sys.path.insert(0, str(RUNNER.parent))
    try:
        import onnx_runner
    finally:
        sys.path.pop(0)
    assert onnx_runner.resolve_shape(shape, 2, 50) == expected
