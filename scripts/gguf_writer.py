"""A small writer of GGUF headers and metadata, for fixtures and samples.

Only what a reader of the header looks at is produced: the magic, version,
counts, key-value pairs and (optionally) tensor descriptions. Tensor data is
left out or replaced by a sparse hole.
"""

import struct

UINT8, INT8, UINT16, INT16, UINT32, INT32, FLOAT32, BOOL, STRING, ARRAY, UINT64, INT64, FLOAT64 = range(13)

_SCALAR = {
    UINT8: "<B", INT8: "<b", UINT16: "<H", INT16: "<h", UINT32: "<I", INT32: "<i",
    FLOAT32: "<f", BOOL: "<?", UINT64: "<Q", INT64: "<q", FLOAT64: "<d",
}


def string(text):
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    return struct.pack("<Q", len(data)) + data


def value(vtype, v):
    if vtype == STRING:
        return string(v)
    if vtype == ARRAY:
        elem_type, items = v
        out = struct.pack("<IQ", elem_type, len(items))
        return out + b"".join(value(elem_type, item) for item in items)
    return struct.pack(_SCALAR[vtype], v)


def gguf_bytes(kvs, version=3, tensor_count=0, tensors=b""):
    """kvs: list of (key, type, value); for ARRAY the value is (elem_type, items)."""
    out = b"GGUF" + struct.pack("<IQQ", version, tensor_count, len(kvs))
    for key, vtype, v in kvs:
        out += string(key) + struct.pack("<I", vtype) + value(vtype, v)
    return out + tensors


def llama_kvs(name="sample", blocks=16, context=131072, embedding=2048, ffn=8192,
              heads=32, heads_kv=8, params=None, arch="llama"):
    kvs = [
        ("general.architecture", STRING, arch),
        ("general.name", STRING, name),
    ]
    if params is not None:
        kvs.append(("general.parameter_count", UINT64, params))
    kvs += [
        (f"{arch}.block_count", UINT32, blocks),
        (f"{arch}.context_length", UINT32, context),
        (f"{arch}.embedding_length", UINT32, embedding),
        (f"{arch}.feed_forward_length", UINT32, ffn),
        (f"{arch}.attention.head_count", UINT32, heads),
        (f"{arch}.attention.head_count_kv", UINT32, heads_kv),
    ]
    return kvs


def write(path, kvs, **kwargs):
    with open(path, "wb") as f:
        f.write(gguf_bytes(kvs, **kwargs))
    return path
