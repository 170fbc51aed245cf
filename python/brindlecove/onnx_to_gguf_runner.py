"""Convert an ONNX model file to GGUF for brindlecove.

Usage:
  python3 onnx_to_gguf_runner.py   read one JSON request on stdin, print one
                                   JSON reply on stdout

Request: {"input_path": str, "output_path": str}
Reply:   {"output_path": str}  the absolute path of the written file
         or {"error": str}

The GGUF file written here holds the graph's initializers (its weights) as
tensors. GGUF's integer tensor types are all signed, so unsigned tensors are
widened to the next larger signed type (UINT64 values must fit INT64) and
booleans become I8; BF16 and the float8 types become F32. Tensors
GGUF cannot hold (strings, complex numbers, more than four dimensions, names
of 64 bytes or more, sparse initializers) fail the conversion rather than
being dropped, and so does a graph with nodes but no initializers.

Metadata written by gguf_to_onnx_runner.py (model properties "gguf.<key>")
is restored with its GGUF types, so a GGUF -> ONNX -> GGUF round trip keeps
the metadata; other model properties become string entries
"onnx.metadata.<key>". A model without an architecture entry gets the
architecture "onnx".

External tensor data is read only from files inside the model's directory.
The output appears whole or not at all (see _conversion_protocol.publish).

Needs the Python packages gguf, numpy and onnx.
"""

import importlib
import inspect
import json
import os
import sys

from _conversion_protocol import ConversionError, check_paths, import_packages, publish, serve

REQUIRED_PACKAGES = ("gguf", "numpy", "onnx")

PROPERTY_PREFIX = "gguf."
FOREIGN_PROPERTY_PREFIX = "onnx.metadata."
DEFAULT_ARCHITECTURE = "onnx"

# llama.cpp's limits for a tensor: GGML_MAX_NAME includes the terminating NUL.
MAX_NAME_BYTES = 63
MAX_DIMS = 4

SCALAR_TYPES = (
    "uint8", "int8", "uint16", "int16", "uint32", "int32",
    "float32", "bool", "string", "uint64", "int64", "float64",
)


# --- tensors ------------------------------------------------------------------


def gguf_dtypes(onnx, np):
    """ONNX element type -> the numpy type written to GGUF."""
    t = onnx.TensorProto
    table = {
        t.FLOAT: np.float32,
        t.FLOAT16: np.float16,
        t.DOUBLE: np.float64,
        t.BFLOAT16: np.float32,
        t.INT8: np.int8,
        t.INT16: np.int16,
        t.INT32: np.int32,
        t.INT64: np.int64,
        t.UINT8: np.int16,
        t.UINT16: np.int32,
        t.UINT32: np.int64,
        t.UINT64: np.int64,
        t.BOOL: np.int8,
    }
    for name in ("FLOAT8E4M3FN", "FLOAT8E4M3FNUZ", "FLOAT8E5M2", "FLOAT8E5M2FNUZ"):
        if hasattr(t, name):
            table[getattr(t, name)] = np.float32
    return {key: np.dtype(value) for key, value in table.items()}


def type_name(onnx, data_type):
    try:
        return onnx.TensorProto.DataType.Name(data_type)
    except ValueError:
        return str(data_type)


def check_external_location(tensor, base_dir):
    """Refuses external data that points outside the model's directory."""
    for entry in tensor.external_data:
        if entry.key != "location":
            continue
        location = entry.value
        base = os.path.realpath(base_dir)
        target = os.path.realpath(os.path.join(base, location))
        if os.path.isabs(location) or os.path.commonpath([base, target]) != base:
            raise ConversionError(
                "tensor `%s` keeps its data outside the model's directory: %s"
                % (tensor.name, location)
            )


def plan_tensors(onnx, np, graph):
    """(name, numpy shape, output dtype) for every initializer, after checking
    that GGUF can hold it."""
    if len(graph.sparse_initializer):
        raise ConversionError("sparse initializers are not supported")
    dtypes = gguf_dtypes(onnx, np)
    plans, seen = [], set()
    for tensor in graph.initializer:
        name = tensor.name
        if name in seen:
            raise ConversionError("tensor name `%s` appears twice" % name)
        seen.add(name)
        if len(name.encode("utf-8")) > MAX_NAME_BYTES:
            raise ConversionError(
                "tensor name `%s` is longer than GGUF allows (%d bytes)" % (name, MAX_NAME_BYTES)
            )
        if tensor.data_type not in dtypes:
            raise ConversionError(
                "tensor `%s` has type %s, which GGUF cannot hold"
                % (name, type_name(onnx, tensor.data_type))
            )
        shape = tuple(int(d) for d in tensor.dims)
        if len(shape) > MAX_DIMS:
            raise ConversionError(
                "tensor `%s` has %d dimensions; GGUF holds at most %d"
                % (name, len(shape), MAX_DIMS)
            )
        plans.append((tensor, shape or (1,), dtypes[tensor.data_type]))
    # A graph that computes something but keeps no initializers has its
    # weights elsewhere (Constant nodes, subgraphs); an empty GGUF would
    # silently lose them. A graph with neither is a metadata-only model.
    if not plans and len(graph.node):
        raise ConversionError("the ONNX graph keeps no initializers (weights) to convert")
    return plans


def beyond_int64(np, array):
    return bool(array.size) and int(array.max()) > np.iinfo(np.int64).max


def tensor_data(onnx, np, tensor, shape, dtype, base_dir):
    check_external_location(tensor, base_dir)
    try:
        array = onnx.numpy_helper.to_array(tensor, base_dir)
    except Exception as e:  # noqa: BLE001 - onnx raises many kinds
        raise ConversionError("cannot read tensor `%s`: %s" % (tensor.name, e)) from None
    if tensor.data_type == onnx.TensorProto.UINT64 and beyond_int64(np, array):
        raise ConversionError("tensor `%s` holds UINT64 values beyond INT64" % tensor.name)
    return np.ascontiguousarray(array.astype(dtype, copy=False).reshape(shape))


# --- metadata -----------------------------------------------------------------


def decode_property(text):
    """The typed GGUF value a "gguf.<key>" property holds, or None."""
    try:
        value = json.loads(text)
    except ValueError:
        return None
    if not isinstance(value, dict) or "value" not in value:
        return None
    kind = value.get("type")
    if kind in SCALAR_TYPES:
        return value
    if kind == "array" and value.get("item_type") in SCALAR_TYPES:
        return value if isinstance(value["value"], list) else None
    return None


def wire_string(text):
    # Text that came from bytes that were not UTF-8 goes back as those bytes.
    try:
        text.encode("utf-8")
        return text
    except UnicodeEncodeError:
        return text.encode("utf-8", "surrogateescape")


def metadata_entries(model, input_path):
    """(architecture, [(key, description)]) for the GGUF file."""
    entries, architecture, name = [], None, None
    for prop in model.metadata_props:
        typed = decode_property(prop.value) if prop.key.startswith(PROPERTY_PREFIX) else None
        if typed is None:
            foreign = {"type": "string", "value": prop.value}
            entries.append((FOREIGN_PROPERTY_PREFIX + prop.key, foreign))
            continue
        key = prop.key[len(PROPERTY_PREFIX):]
        if key == "general.architecture" and typed["type"] == "string":
            architecture = typed["value"]
            continue
        if key == "general.name":
            name = typed
        entries.append((key, typed))
    if name is None:
        fallback = model.graph.name or os.path.splitext(os.path.basename(input_path))[0] or "model"
        entries.insert(0, ("general.name", {"type": "string", "value": fallback}))
    return architecture or DEFAULT_ARCHITECTURE, entries


def accepts_sub_type(writer):
    add_key_value = getattr(writer, "add_key_value", None)
    if add_key_value is None:
        return False
    try:
        return "sub_type" in inspect.signature(add_key_value).parameters
    except (TypeError, ValueError):
        return False


def add_metadata(gguf, writer, key, typed):
    kind, value = typed["type"], typed["value"]
    if key == "general.alignment" and kind == "uint32":
        # The writer must align the tensor data to it, not just record it.
        writer.add_custom_alignment(value)
        return
    if kind == "array":
        items = [wire_string(v) if isinstance(v, str) else v for v in value]
        item_type = gguf.GGUFValueType[typed["item_type"].upper()]
        if accepts_sub_type(writer):
            writer.add_key_value(key, items, gguf.GGUFValueType.ARRAY, sub_type=item_type)
        else:
            # Older writers pick the item type themselves.
            writer.add_array(key, items)
        return
    if kind == "string":
        value = wire_string(value)
    getattr(writer, "add_" + kind)(key, value)


# --- the conversion -----------------------------------------------------------


def load_model(onnx, input_path):
    try:
        model = onnx.load_model(input_path, load_external_data=False)
    except Exception as e:  # noqa: BLE001 - protobuf raises its own errors
        raise ConversionError("not a valid ONNX file: %s: %s" % (input_path, e)) from None
    # Protobuf reads many byte strings as some message: a real model has a
    # version and a graph.
    if model.ir_version < 1 or not model.HasField("graph"):
        raise ConversionError("not a valid ONNX file: %s: no model graph" % input_path)
    return model


def convert(input_path, output_path):
    packages = import_packages(REQUIRED_PACKAGES)
    gguf, np, onnx = packages["gguf"], packages["numpy"], packages["onnx"]
    # A submodule the package does not import by itself.
    importlib.import_module("onnx.numpy_helper")
    check_paths(input_path, output_path)
    model = load_model(onnx, input_path)
    plans = plan_tensors(onnx, np, model.graph)
    architecture, entries = metadata_entries(model, input_path)
    base_dir = os.path.dirname(os.path.abspath(input_path))

    def write(staging_path):
        writer = gguf.GGUFWriter(staging_path, architecture)
        try:
            for key, typed in entries:
                add_metadata(gguf, writer, key, typed)
            for tensor, shape, dtype in plans:
                count = 1
                for d in shape:
                    count *= d
                writer.add_tensor_info(tensor.name, shape, dtype, count * dtype.itemsize)
            writer.write_header_to_file()
            writer.write_kv_data_to_file()
            writer.write_ti_data_to_file()
            # One tensor in memory at a time.
            for tensor, shape, dtype in plans:
                writer.write_tensor_data(tensor_data(onnx, np, tensor, shape, dtype, base_dir))
        finally:
            writer.close()

    return publish(output_path, write)


def main():
    return serve(convert)


if __name__ == "__main__":
    sys.exit(main())
