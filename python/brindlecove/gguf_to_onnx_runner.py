"""Convert a GGUF model file to ONNX for brindlecove.

Usage:
  python3 gguf_to_onnx_runner.py   read one JSON request on stdin, print one
                                   JSON reply on stdout

Request: {"input_path": str, "output_path": str}
Reply:   {"output_path": str}  the absolute path of the written file
         or {"error": str}

A GGUF file holds weights and metadata; the computation graph lives in the
inference engine, not in the file. The ONNX model written here therefore
carries every tensor as a graph initializer (quantized tensors expanded to
float32, BF16 to float32, the rest in their own type) and every metadata
entry as a model property "gguf.<key>" whose value is the JSON text
{"type": <GGUF type name>, "value": <value>} (arrays add "item_type"), so
that onnx_to_gguf_runner.py can restore the GGUF file's metadata with its
types. Models too large for one protobuf keep their tensors in
"<output file name>.data" beside the output.

The output appears whole or not at all: it is written in a temporary
directory beside the destination and then renamed into place.

Needs the Python packages gguf, numpy and onnx. The protocol itself is in
_conversion_protocol.py.
"""

import importlib
import json
import os
import sys

from _conversion_protocol import ConversionError, check_paths, import_packages, publish, serve

REQUIRED_PACKAGES = ("gguf", "numpy", "onnx")

# Protobuf messages cannot exceed 2 GiB; beyond this many tensor bytes the
# tensors go to an external data file.
EMBEDDED_LIMIT = 1 << 30

# GGUF types kept as they are; BF16 and the block-quantized types become
# float32.
PLAIN_TENSOR_TYPES = ("F32", "F16", "F64", "I8", "I16", "I32", "I64")

PROPERTY_PREFIX = "gguf."

# The reader reports the header's own counts as fields of these names.
HEADER_FIELD_PREFIX = "GGUF."


# --- reading GGUF -------------------------------------------------------------


def field_value(gguf, field):
    """The field's value and its JSON description."""
    value_type = gguf.GGUFValueType

    def scalar(kind, part):
        if kind == value_type.STRING:
            # Text that is not UTF-8 survives the trip through JSON as
            # escaped surrogates.
            return bytes(part).decode("utf-8", "surrogateescape")
        return part[0].item()

    kind = value_type(int(field.types[0]))
    if kind != value_type.ARRAY:
        return {"type": kind.name.lower(), "value": scalar(kind, field.parts[field.data[0]])}
    # The item type comes right after the value type; `types` lists it only
    # when the array has items.
    item_kind = value_type(int(field.parts[3][0]))
    if item_kind == value_type.ARRAY:
        raise ConversionError(
            "metadata `%s` is a nested array, which is not supported" % field.name
        )
    return {
        "type": "array",
        "item_type": item_kind.name.lower(),
        "value": [scalar(item_kind, field.parts[index]) for index in field.data],
    }


def metadata_properties(gguf, reader):
    props = []
    for name, field in reader.fields.items():
        if name.startswith(HEADER_FIELD_PREFIX):
            continue
        text = json.dumps(field_value(gguf, field), separators=(",", ":"))
        props.append((PROPERTY_PREFIX + name, text))
    return props


def tensor_array(gguf, np, tensor):
    """The tensor as a native-order numpy array in numpy's dimension order
    (GGUF lists the fastest-varying dimension first)."""
    shape = tuple(int(d) for d in reversed(list(tensor.shape)))
    kind = gguf.GGMLQuantizationType(int(tensor.tensor_type))
    data = np.asarray(tensor.data)
    if kind.name in PLAIN_TENSOR_TYPES:
        array = data.reshape(shape)
    elif kind.name == "BF16":
        # bfloat16 is the upper half of a float32.
        halves = np.ascontiguousarray(data).view(np.dtype("<u2")).astype(np.uint32)
        array = (halves << 16).view(np.float32).reshape(shape)
    else:
        # Older gguf packages have no dequantize; newer ones lack it for some
        # types.
        dequantize = getattr(getattr(gguf, "quants", None), "dequantize", None)
        try:
            if dequantize is None:
                raise NotImplementedError
            array = np.asarray(dequantize(data, kind), dtype=np.float32).reshape(shape)
        except NotImplementedError:
            raise ConversionError(
                "tensor `%s` is %s, which the installed gguf package cannot dequantize"
                % (tensor.name, kind.name)
            ) from None
    return np.ascontiguousarray(array, dtype=array.dtype.newbyteorder("="))


def output_itemsize(gguf, tensor):
    kind = gguf.GGMLQuantizationType(int(tensor.tensor_type))
    if kind.name in PLAIN_TENSOR_TYPES:
        return {"F16": 2, "I8": 1, "I16": 2, "F64": 8, "I64": 8}.get(kind.name, 4)
    return 4


# --- writing ONNX -------------------------------------------------------------


def onnx_type(onnx, np, dtype):
    types = {
        np.dtype(np.float32): onnx.TensorProto.FLOAT,
        np.dtype(np.float16): onnx.TensorProto.FLOAT16,
        np.dtype(np.float64): onnx.TensorProto.DOUBLE,
        np.dtype(np.int8): onnx.TensorProto.INT8,
        np.dtype(np.int16): onnx.TensorProto.INT16,
        np.dtype(np.int32): onnx.TensorProto.INT32,
        np.dtype(np.int64): onnx.TensorProto.INT64,
    }
    return types[np.dtype(dtype)]


def external_tensor(onnx, np, name, array, data_file, location):
    proto = onnx.TensorProto()
    proto.name = name
    proto.dims.extend(array.shape)
    proto.data_type = onnx_type(onnx, np, array.dtype)
    proto.data_location = onnx.TensorProto.EXTERNAL
    offset = data_file.tell()
    data_file.write(array.astype(array.dtype.newbyteorder("<"), copy=False).tobytes())
    for key, value in (("location", location), ("offset", offset), ("length", array.nbytes)):
        entry = proto.external_data.add()
        entry.key = key
        entry.value = str(value)
    return proto


def graph_name(reader, input_path):
    field = reader.fields.get("general.name")
    if field is not None and len(field.types) == 1:
        try:
            return bytes(field.parts[field.data[0]]).decode("utf-8")
        except (UnicodeDecodeError, TypeError):
            pass
    return os.path.splitext(os.path.basename(input_path))[0] or "model"


def convert(input_path, output_path, embedded_limit=EMBEDDED_LIMIT):
    packages = import_packages(REQUIRED_PACKAGES)
    gguf, np, onnx = packages["gguf"], packages["numpy"], packages["onnx"]
    # Submodules the package does not import by itself.
    importlib.import_module("onnx.helper")
    importlib.import_module("onnx.numpy_helper")
    check_paths(input_path, output_path)
    try:
        reader = gguf.GGUFReader(input_path)
    except Exception as e:  # noqa: BLE001 - the reader raises what it meets
        raise ConversionError("not a valid GGUF file: %s: %s" % (input_path, e)) from None

    props = metadata_properties(gguf, reader)
    tensors = list(reader.tensors)
    total = sum(int(t.n_elements) * output_itemsize(gguf, t) for t in tensors)
    name = graph_name(reader, input_path)

    def write(staging_path):
        location = os.path.basename(staging_path) + ".data"
        initializers = []
        if total <= embedded_limit:
            for t in tensors:
                initializers.append(onnx.numpy_helper.from_array(tensor_array(gguf, np, t), t.name))
        else:
            data_path = os.path.join(os.path.dirname(staging_path), location)
            with open(data_path, "wb") as data_file:
                for t in tensors:
                    array = tensor_array(gguf, np, t)
                    proto = external_tensor(onnx, np, t.name, array, data_file, location)
                    initializers.append(proto)
        graph = onnx.helper.make_graph([], name, [], [], initializer=initializers)
        model = onnx.helper.make_model(graph, producer_name="brindlecove")
        for key, value in props:
            entry = model.metadata_props.add()
            entry.key = key
            entry.value = value
        onnx.save_model(model, staging_path)

    return publish(output_path, write)


def main():
    return serve(convert)


if __name__ == "__main__":
    sys.exit(main())
