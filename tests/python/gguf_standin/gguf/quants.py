"""Dequantization, for Q8_0 only: blocks of a float16 scale and 32 int8."""

import numpy as np


def dequantize(data, qtype):
    from . import GGMLQuantizationType

    if qtype != GGMLQuantizationType.Q8_0:
        raise NotImplementedError("Dequantization for %s is not yet implemented" % qtype.name)
    rows = np.asarray(data, dtype=np.uint8)
    blocks = rows.reshape(-1, 34)
    scale = blocks[:, :2].copy().view(np.float16).astype(np.float32)
    values = blocks[:, 2:].copy().view(np.int8).astype(np.float32)
    out = (scale * values).reshape(*rows.shape[:-1], rows.shape[-1] // 34 * 32)
    return out
