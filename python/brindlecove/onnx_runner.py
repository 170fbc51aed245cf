"""Measure an ONNX model with ONNX Runtime for brindlecove.

Usage:
  python3 onnx_runner.py --check   exit 0 when onnxruntime imports and can
                                   create a session, non-zero otherwise
  python3 onnx_runner.py           read one JSON request on stdin, print one
                                   JSON reply on stdout

Request: {"batch_size": int, "execution_provider": str, "model_path": str,
          "prompt_tokens": int, "threads": int}
Reply:   {"tokens_per_sec": float, "latency_ms": float, "peak_memory_mb": int}
         or {"error": str}

Every failure of a measurement is an "error" reply with exit status 0;
diagnostics go to stderr. Native libraries may print on file descriptor 1,
so it points at stderr until the reply is written.
"""

import json
import os
import resource
import sys
import time
import traceback

WARMUP_RUNS = 2
TIMED_RUNS = 5

# Inputs whose values carry meaning; every other input is filled with zeros.
TOKEN_ID_NAMES = ("input_ids", "input", "tokens", "token_ids", "ids")
ATTENTION_MASK = "attention_mask"
POSITION_IDS = "position_ids"

# First token id used; small ids stay inside any vocabulary worth measuring.
FIRST_TOKEN_ID = 1
TOKEN_ID_SPAN = 100

REQUEST_FIELDS = {
    "batch_size": int,
    "execution_provider": str,
    "model_path": str,
    "prompt_tokens": int,
    "threads": int,
}


class RunnerError(Exception):
    """A failure reported to the caller as the reply's "error" text."""


# --- a tiny model for --check ------------------------------------------------
# Building it by hand keeps the check free of the onnx package: a graph with
# one Identity node from float input "x" [1] to output "y" [1].


def _varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def _field_varint(number, value):
    return _varint(number << 3) + _varint(value)


def _field_bytes(number, payload):
    if isinstance(payload, str):
        payload = payload.encode("utf-8")
    return _varint((number << 3) | 2) + _varint(len(payload)) + payload


def _value_info(name):
    dim = _field_varint(1, 1)  # Dimension.dim_value
    shape = _field_bytes(1, dim)  # TensorShapeProto.dim
    tensor = _field_varint(1, 1) + _field_bytes(2, shape)  # elem_type FLOAT, shape
    type_proto = _field_bytes(1, tensor)  # TypeProto.tensor_type
    return _field_bytes(1, name) + _field_bytes(2, type_proto)


def identity_model_bytes():
    node = _field_bytes(1, "x") + _field_bytes(2, "y") + _field_bytes(4, "Identity")
    graph = (
        _field_bytes(1, node)
        + _field_bytes(2, "brindlecove_check")
        + _field_bytes(11, _value_info("x"))
        + _field_bytes(12, _value_info("y"))
    )
    opset = _field_bytes(1, "") + _field_varint(2, 13)
    return (
        _field_varint(1, 7)  # ir_version
        + _field_bytes(2, "brindlecove")  # producer_name
        + _field_bytes(7, graph)
        + _field_bytes(8, opset)
    )


def check():
    try:
        import numpy as np
        import onnxruntime as ort

        session = ort.InferenceSession(
            identity_model_bytes(), providers=["CPUExecutionProvider"]
        )
        out = session.run(None, {"x": np.ones([1], dtype=np.float32)})
        if len(out) != 1:
            raise RuntimeError("check model returned %d outputs" % len(out))
    except Exception as e:  # noqa: BLE001 - any failure means "not usable"
        print("onnxruntime is not usable: %s: %s" % (type(e).__name__, e), file=sys.stderr)
        return 1
    return 0


# --- the request -------------------------------------------------------------


def parse_request(data):
    try:
        request = json.loads(data)
    except ValueError as e:
        raise RunnerError("invalid request: %s" % e) from None
    if not isinstance(request, dict):
        raise RunnerError("invalid request: expected a JSON object")
    for key, kind in REQUEST_FIELDS.items():
        if key not in request:
            raise RunnerError("invalid request: missing field `%s`" % key)
        value = request[key]
        # bool is an int in Python, but true is no thread count.
        if not isinstance(value, kind) or isinstance(value, bool):
            raise RunnerError("invalid request: field `%s` must be %s" % (key, kind.__name__))
    if request["batch_size"] < 1:
        raise RunnerError("invalid request: batch_size must be at least 1")
    if request["prompt_tokens"] < 1:
        raise RunnerError("invalid request: prompt_tokens must be at least 1")
    if request["threads"] < 0:
        raise RunnerError("invalid request: threads must not be negative")
    return request


# --- inputs ------------------------------------------------------------------

_NUMPY_TYPES = {
    "tensor(float)": "float32",
    "tensor(float16)": "float16",
    "tensor(double)": "float64",
    "tensor(int64)": "int64",
    "tensor(int32)": "int32",
    "tensor(int16)": "int16",
    "tensor(int8)": "int8",
    "tensor(uint64)": "uint64",
    "tensor(uint32)": "uint32",
    "tensor(uint16)": "uint16",
    "tensor(uint8)": "uint8",
    "tensor(bool)": "bool",
}


def input_role(name):
    lowered = name.lower()
    if lowered == ATTENTION_MASK or lowered.endswith("." + ATTENTION_MASK):
        return "mask"
    if lowered == POSITION_IDS or lowered.endswith("." + POSITION_IDS):
        return "positions"
    if lowered in TOKEN_ID_NAMES or lowered.endswith("input_ids"):
        return "tokens"
    return "other"


def resolve_shape(shape, batch_size, prompt_tokens):
    """Concrete dimensions for a declared shape.

    Fixed sizes are kept. A named or unknown dimension is the batch when it
    is named like one or is the first dimension; a past length alone
    ("past_sequence_length") is an empty cache, so that the prompt is the
    whole sequence; anything else ("sequence_length", "past_sequence_length
    + sequence_length", "total_sequence_length") is the prompt length.
    """
    dims = []
    for index, dim in enumerate(shape or []):
        if isinstance(dim, int) and dim >= 0:
            dims.append(dim)
            continue
        label = str(dim).lower() if dim is not None else ""
        if "batch" in label:
            dims.append(batch_size)
        elif "past" in label and "+" not in label:
            dims.append(0)
        elif index == 0 and ("seq" not in label and "len" not in label):
            dims.append(batch_size)
        else:
            dims.append(prompt_tokens)
    return dims


def build_inputs(np, declared, batch_size, prompt_tokens):
    feeds = {}
    for item in declared:
        dtype = _NUMPY_TYPES.get(item.type)
        if dtype is None:
            raise RunnerError("input `%s` has unsupported type %s" % (item.name, item.type))
        dims = resolve_shape(item.shape, batch_size, prompt_tokens)
        role = input_role(item.name)
        if role == "tokens":
            row = FIRST_TOKEN_ID + np.arange(dims[-1] if dims else 1) % TOKEN_ID_SPAN
            value = np.broadcast_to(row, dims).astype(dtype) if dims else row[0].astype(dtype)
        elif role == "mask":
            value = np.ones(dims, dtype=dtype)
        elif role == "positions":
            row = np.arange(dims[-1] if dims else 1)
            value = np.broadcast_to(row, dims).astype(dtype) if dims else row[0].astype(dtype)
        else:
            value = np.zeros(dims, dtype=dtype)
        feeds[item.name] = np.ascontiguousarray(value)
    return feeds


def processed_tokens(declared, feeds, requested):
    """Tokens one run processes: the size of the token-id input, which a
    model with fixed dimensions may set apart from the request."""
    for item in declared:
        if input_role(item.name) == "tokens":
            return int(feeds[item.name].size)
    return requested


# --- the measurement ---------------------------------------------------------


def peak_memory_mb():
    # ru_maxrss is in KiB on Linux.
    return int(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss) // 1024


def measure(request):
    try:
        import numpy as np
    except ImportError as e:
        raise RunnerError("numpy is not installed: %s" % e) from None
    try:
        import onnxruntime as ort
    except ImportError as e:
        raise RunnerError("onnxruntime is not installed: %s" % e) from None

    provider = request["execution_provider"]
    available = list(ort.get_available_providers())
    if provider not in available:
        raise RunnerError(
            "execution provider %s is not available (available: %s)"
            % (provider, ", ".join(sorted(set(available))))
        )
    model_path = request["model_path"]
    if not os.path.exists(model_path):
        raise RunnerError("model file not found: %s" % model_path)

    options = ort.SessionOptions()
    if request["threads"] > 0:
        options.intra_op_num_threads = request["threads"]
    try:
        session = ort.InferenceSession(model_path, sess_options=options, providers=[provider])
    except Exception as e:  # noqa: BLE001 - ONNX Runtime raises its own types
        raise RunnerError("could not load model: %s" % e) from None
    # ONNX Runtime falls back to the CPU when a provider fails to initialise;
    # a CPU figure must not pass for a GPU one.
    if provider not in session.get_providers():
        raise RunnerError("execution provider %s could not be initialised" % provider)

    batch_size = request["batch_size"]
    prompt_tokens = request["prompt_tokens"]
    feeds = build_inputs(np, session.get_inputs(), batch_size, prompt_tokens)

    try:
        for _ in range(WARMUP_RUNS):
            session.run(None, feeds)
        elapsed = []
        for _ in range(TIMED_RUNS):
            start = time.perf_counter()
            session.run(None, feeds)
            elapsed.append(time.perf_counter() - start)
    except Exception as e:  # noqa: BLE001
        raise RunnerError("inference failed: %s" % e) from None

    mean_s = sum(elapsed) / len(elapsed)
    if not mean_s > 0:
        raise RunnerError("timer resolution too coarse to measure a run")
    return {
        "tokens_per_sec": processed_tokens(session.get_inputs(), feeds, batch_size * prompt_tokens)
        / mean_s,
        "latency_ms": mean_s * 1000.0,
        "peak_memory_mb": peak_memory_mb(),
    }


def reply_text(read_request):
    try:
        return json.dumps(measure(parse_request(read_request())), allow_nan=False)
    except RunnerError as e:
        return json.dumps({"error": str(e)})
    except BaseException as e:  # noqa: BLE001 - the caller reads only stdout
        traceback.print_exc(file=sys.stderr)
        return json.dumps({"error": "%s: %s" % (type(e).__name__, e)})


def write_all(fd, data):
    while data:
        data = data[os.write(fd, data):]


def serve(stdin_bytes, reply_fd):
    write_all(reply_fd, (reply_text(stdin_bytes.read) + "\n").encode("utf-8"))
    return 0


def main(argv):
    if argv and argv[-1] == "--check":
        return check()
    sys.stdout.flush()
    reply_fd = os.dup(1)
    os.dup2(2, 1)
    try:
        return serve(sys.stdin.buffer, reply_fd)
    finally:
        os.close(reply_fd)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
