"""A stand-in for the parts of the `gguf` package the conversion runners use.

The real package is not installed on the test machines. This one reads and
writes real GGUF (version 3) files with the same classes, attributes and
methods, so that the runners' conversions can be checked end to end:
GGUFReader (fields with parts/data/types, tensors with numpy data laid out as
the real reader lays it out), GGUFWriter (typed adders, add_key_value with a
sub_type, custom alignment, tensor infos written before their data) and
quants.dequantize for Q8_0.
"""

import os
import struct
from collections import OrderedDict
from enum import IntEnum

import numpy as np

from . import quants  # noqa: F401

if os.environ.get("GGUF_STANDIN_BANNER"):
    # Native code of real packages may print on fd 1 while importing.
    os.write(1, b"gguf stand-in banner\n")

GGUF_MAGIC = 0x46554747
GGUF_VERSION = 3
GGUF_DEFAULT_ALIGNMENT = 32


class GGUFValueType(IntEnum):
    UINT8 = 0
    INT8 = 1
    UINT16 = 2
    INT16 = 3
    UINT32 = 4
    INT32 = 5
    FLOAT32 = 6
    BOOL = 7
    STRING = 8
    ARRAY = 9
    UINT64 = 10
    INT64 = 11
    FLOAT64 = 12


class GGMLQuantizationType(IntEnum):
    F32 = 0
    F16 = 1
    Q4_0 = 2
    Q4_1 = 3
    Q5_0 = 6
    Q5_1 = 7
    Q8_0 = 8
    Q8_1 = 9
    Q2_K = 10
    Q3_K = 11
    Q4_K = 12
    Q5_K = 13
    Q6_K = 14
    Q8_K = 15
    I8 = 24
    I16 = 25
    I32 = 26
    I64 = 27
    F64 = 28
    BF16 = 30


# (elements per block, bytes per block)
GGML_QUANT_SIZES = {
    GGMLQuantizationType.F32: (1, 4),
    GGMLQuantizationType.F16: (1, 2),
    GGMLQuantizationType.Q4_0: (32, 18),
    GGMLQuantizationType.Q8_0: (32, 34),
    GGMLQuantizationType.Q4_K: (256, 144),
    GGMLQuantizationType.I8: (1, 1),
    GGMLQuantizationType.I16: (1, 2),
    GGMLQuantizationType.I32: (1, 4),
    GGMLQuantizationType.I64: (1, 8),
    GGMLQuantizationType.F64: (1, 8),
    GGMLQuantizationType.BF16: (1, 2),
}

_SCALAR_DTYPES = {
    GGUFValueType.UINT8: np.uint8,
    GGUFValueType.INT8: np.int8,
    GGUFValueType.UINT16: np.uint16,
    GGUFValueType.INT16: np.int16,
    GGUFValueType.UINT32: np.uint32,
    GGUFValueType.INT32: np.int32,
    GGUFValueType.FLOAT32: np.float32,
    GGUFValueType.BOOL: np.bool_,
    GGUFValueType.UINT64: np.uint64,
    GGUFValueType.INT64: np.int64,
    GGUFValueType.FLOAT64: np.float64,
}

_TYPED_TENSORS = {
    GGMLQuantizationType.F32: np.float32,
    GGMLQuantizationType.F16: np.float16,
    GGMLQuantizationType.F64: np.float64,
    GGMLQuantizationType.I8: np.int8,
    GGMLQuantizationType.I16: np.int16,
    GGMLQuantizationType.I32: np.int32,
    GGMLQuantizationType.I64: np.int64,
}


def _byte_shape(np_shape, qtype):
    block, size = GGML_QUANT_SIZES[qtype]
    return (*np_shape[:-1], np_shape[-1] // block * size)


# --- reading -----------------------------------------------------------------


class ReaderField:
    def __init__(self, offset, name, parts, data, types):
        self.offset, self.name, self.parts, self.data, self.types = offset, name, parts, data, types


class ReaderTensor:
    def __init__(self, name, tensor_type, shape, n_elements, n_bytes, data_offset, data, field):
        self.name, self.tensor_type, self.shape = name, tensor_type, shape
        self.n_elements, self.n_bytes, self.data_offset = n_elements, n_bytes, data_offset
        self.data, self.field = data, field


class GGUFReader:
    def __init__(self, path, mode="r"):
        self.data = np.memmap(path, mode=mode)
        if self._get(0, np.uint32)[0] != GGUF_MAGIC:
            raise ValueError("GGUF magic invalid")
        version = self._get(4, np.uint32)
        if version[0] not in (2, 3):
            raise ValueError("Sorry, file appears to be version %d which we cannot handle" % version[0])
        self.fields = OrderedDict()
        self.tensors = []
        offs = 8
        counts = self._get(offs, np.uint64, 2)
        self._push(ReaderField(0, "GGUF.version", [version], [0], [GGUFValueType.UINT32]))
        self._push(ReaderField(8, "GGUF.tensor_count", [counts[:1]], [0], [GGUFValueType.UINT64]))
        self._push(ReaderField(16, "GGUF.kv_count", [counts[1:]], [0], [GGUFValueType.UINT64]))
        offs = 24
        for _ in range(int(counts[1])):
            start = offs
            klen, kdata = self._get_str(offs)
            offs += klen.nbytes + kdata.nbytes
            vtype = self._get(offs, np.uint32)
            offs += vtype.nbytes
            size, parts, idxs, types = self._field_parts(offs, int(vtype[0]))
            offs += size
            field = ReaderField(start, bytes(kdata).decode("utf-8"), [klen, kdata, vtype, *parts],
                                [i + 3 for i in idxs], types)
            self._push(field)
        infos = []
        for _ in range(int(counts[0])):
            nlen, ndata = self._get_str(offs)
            offs += nlen.nbytes + ndata.nbytes
            ndims = self._get(offs, np.uint32)
            offs += ndims.nbytes
            dims = self._get(offs, np.uint64, int(ndims[0]))
            offs += dims.nbytes
            ttype = self._get(offs, np.uint32)
            offs += ttype.nbytes
            toff = self._get(offs, np.uint64)
            offs += toff.nbytes
            infos.append((bytes(ndata).decode("utf-8"), dims.copy(), int(ttype[0]), int(toff[0])))
        alignment = GGUF_DEFAULT_ALIGNMENT
        if "general.alignment" in self.fields:
            f = self.fields["general.alignment"]
            alignment = int(f.parts[f.data[0]][0])
        if offs % alignment:
            offs += alignment - offs % alignment
        for name, dims, ttype, toff in infos:
            qtype = GGMLQuantizationType(ttype)
            n_elems = int(np.prod(dims))
            np_shape = tuple(int(d) for d in reversed(dims))
            block, size = GGML_QUANT_SIZES[qtype]
            n_bytes = n_elems * size // block
            start = offs + toff
            if qtype in _TYPED_TENSORS:
                data = self._get(start, _TYPED_TENSORS[qtype], n_elems).reshape(np_shape)
            else:
                data = self._get(start, np.uint8, n_bytes).reshape(_byte_shape(np_shape, qtype))
            self.tensors.append(ReaderTensor(name, qtype, dims, n_elems, n_bytes, start, data, None))

    def _push(self, field):
        if field.name in self.fields:
            raise KeyError("Duplicate %s already in list at offset %d" % (field.name, field.offset))
        self.fields[field.name] = field

    def _get(self, offset, dtype, count=1):
        dtype = np.dtype(dtype)
        end = offset + dtype.itemsize * count
        if end > len(self.data):
            raise ValueError("read past the end of the file")
        return self.data[offset:end].view(dtype)[:count]

    def _get_str(self, offset):
        slen = self._get(offset, np.uint64)
        return slen, self._get(offset + 8, np.uint8, int(slen[0]))

    def _field_parts(self, offs, vtype):
        vtype = GGUFValueType(vtype)
        if vtype == GGUFValueType.STRING:
            slen, sdata = self._get_str(offs)
            return slen.nbytes + sdata.nbytes, [slen, sdata], [1], [vtype]
        if vtype in _SCALAR_DTYPES:
            value = self._get(offs, _SCALAR_DTYPES[vtype])
            return value.nbytes, [value], [0], [vtype]
        start = offs
        itype = self._get(offs, np.uint32)
        offs += itype.nbytes
        alen = self._get(offs, np.uint64)
        offs += alen.nbytes
        parts, idxs, types = [itype, alen], [], [vtype]
        for i in range(int(alen[0])):
            size, cparts, cidxs, ctypes = self._field_parts(offs, int(itype[0]))
            if i == 0:
                types += ctypes
            base = len(parts)
            parts += cparts
            idxs += [base + c for c in cidxs]
            offs += size
        return offs - start, parts, idxs, types


# --- writing -----------------------------------------------------------------

_PACK = {
    GGUFValueType.UINT8: "<B", GGUFValueType.INT8: "<b", GGUFValueType.UINT16: "<H",
    GGUFValueType.INT16: "<h", GGUFValueType.UINT32: "<I", GGUFValueType.INT32: "<i",
    GGUFValueType.FLOAT32: "<f", GGUFValueType.BOOL: "?", GGUFValueType.UINT64: "<Q",
    GGUFValueType.INT64: "<q", GGUFValueType.FLOAT64: "<d",
}


def _pack_string(value):
    data = value.encode("utf-8") if isinstance(value, str) else bytes(value)
    return struct.pack("<Q", len(data)) + data


def _infer_type(value):
    if isinstance(value, (str, bytes, bytearray)):
        return GGUFValueType.STRING
    if isinstance(value, bool):
        return GGUFValueType.BOOL
    if isinstance(value, int):
        return GGUFValueType.INT32
    if isinstance(value, float):
        return GGUFValueType.FLOAT32
    raise ValueError("Unknown type: %r" % type(value))


def _pack_value(value, vtype, sub_type=None):
    if vtype == GGUFValueType.STRING:
        return _pack_string(value)
    if vtype == GGUFValueType.ARRAY:
        if sub_type is None:
            if not value:
                raise ValueError("cannot infer the type of an empty array")
            sub_type = _infer_type(value[0])
        out = struct.pack("<IQ", sub_type, len(value))
        return out + b"".join(_pack_value(v, sub_type) for v in value)
    return struct.pack(_PACK[vtype], value)


_NP_TO_GGML = {
    np.dtype(np.float32): GGMLQuantizationType.F32,
    np.dtype(np.float16): GGMLQuantizationType.F16,
    np.dtype(np.float64): GGMLQuantizationType.F64,
    np.dtype(np.int8): GGMLQuantizationType.I8,
    np.dtype(np.int16): GGMLQuantizationType.I16,
    np.dtype(np.int32): GGMLQuantizationType.I32,
    np.dtype(np.int64): GGMLQuantizationType.I64,
}


class GGUFWriter:
    def __init__(self, path, arch):
        self.path = path
        self.kv = OrderedDict()
        self.tensors = []  # (name, ne dims, type, nbytes, offset)
        self.pending = []  # arrays given to add_tensor
        self.data_alignment = GGUF_DEFAULT_ALIGNMENT
        self.fout = None
        self.state = "empty"
        self.add_string("general.architecture", arch)

    # key-value pairs
    def add_key_value(self, key, val, vtype, sub_type=None):
        if key in self.kv:
            raise ValueError("Duplicated key name %r" % key)
        self.kv[key] = (val, GGUFValueType(vtype), sub_type)

    def add_array(self, key, val):
        self.add_key_value(key, val, GGUFValueType.ARRAY)

    def add_custom_alignment(self, alignment):
        if alignment <= 0 or alignment & (alignment - 1):
            raise ValueError("alignment must be a power of two")
        self.data_alignment = alignment
        self.add_uint32("general.alignment", alignment)

    # tensors
    def add_tensor_info(self, name, tensor_shape, tensor_dtype, tensor_nbytes, raw_dtype=None):
        if any(t[0] == name for t in self.tensors):
            raise ValueError("Duplicated tensor name %r" % name)
        qtype = raw_dtype if raw_dtype is not None else _NP_TO_GGML.get(np.dtype(tensor_dtype))
        if qtype is None:
            raise ValueError("Only F16, F32, F64, I8, I16, I32, I64 tensors are supported for now")
        dims = [int(d) for d in reversed(list(tensor_shape))]
        if raw_dtype is not None and raw_dtype not in _TYPED_TENSORS:
            block, size = GGML_QUANT_SIZES[raw_dtype]
            dims[0] = dims[0] // size * block  # the byte shape's last axis
        offset = 0
        if self.tensors:
            _, _, _, nbytes, prev = self.tensors[-1]
            offset = self._pad(prev + nbytes)
        self.tensors.append((name, dims, qtype, tensor_nbytes, offset))

    def add_tensor(self, name, tensor, raw_shape=None, raw_dtype=None):
        self.add_tensor_info(name, raw_shape or tensor.shape, tensor.dtype, tensor.nbytes, raw_dtype)
        self.pending.append(tensor)

    def _pad(self, n):
        return n + (-n % self.data_alignment)

    def write_header_to_file(self, path=None):
        self.fout = open(path or self.path, "wb")
        self.fout.write(struct.pack("<IIQQ", GGUF_MAGIC, GGUF_VERSION, len(self.tensors), len(self.kv)))
        self.state = "header"

    def write_kv_data_to_file(self):
        assert self.state == "header"
        for key, (val, vtype, sub_type) in self.kv.items():
            self.fout.write(_pack_string(key) + struct.pack("<I", vtype) + _pack_value(val, vtype, sub_type))
        self.state = "kv"

    def write_ti_data_to_file(self):
        assert self.state == "kv"
        for name, dims, qtype, _, offset in self.tensors:
            self.fout.write(_pack_string(name) + struct.pack("<I", len(dims)))
            self.fout.write(b"".join(struct.pack("<Q", d) for d in dims))
            self.fout.write(struct.pack("<IQ", qtype, offset))
        self.state = "ti"
        self._written = 0

    def write_tensor_data(self, tensor):
        assert self.state in ("ti", "data")
        if self.state == "ti":
            self.fout.write(b"\0" * (-self.fout.tell() % self.data_alignment))
            self.state = "data"
            self._data_start = self.fout.tell()
        _, _, _, nbytes, offset = self.tensors[self._written]
        if tensor.nbytes != nbytes:
            raise ValueError("tensor %d has %d bytes, %d announced" % (self._written, tensor.nbytes, nbytes))
        self.fout.write(b"\0" * (self._data_start + offset - self.fout.tell()))
        self.fout.write(np.ascontiguousarray(tensor).tobytes())
        self._written += 1

    def write_tensors_to_file(self, progress=False):
        for tensor in self.pending:
            self.write_tensor_data(tensor)

    def close(self):
        if self.fout is not None:
            self.fout.close()
            self.fout = None


def _typed_adder(vtype):
    def add(self, key, val):
        self.add_key_value(key, val, vtype)

    return add


for _t in GGUFValueType:
    if _t != GGUFValueType.ARRAY:
        setattr(GGUFWriter, "add_" + _t.name.lower(), _typed_adder(_t))
