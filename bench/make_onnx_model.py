#!/usr/bin/python3
"""Writes an ONNX model of about 1 GB whose weights are embedded as raw_data,
with python3-onnx: a chain of MatMul and Add layers of width 4096.

    /usr/bin/python3 bench/make_onnx_model.py OUT.onnx [LAYERS]
"""

import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

WIDTH = 4096


def main():
    out = sys.argv[1]
    layers = int(sys.argv[2]) if len(sys.argv) > 2 else 16
    rng = np.random.default_rng(1)
    nodes, inits = [], []
    x = "x"
    for i in range(layers):
        # Random bytes, so that nothing downstream can shortcut on zeros.
        w = rng.integers(0, 2**32, size=(WIDTH, WIDTH), dtype=np.uint32).view(np.float32)
        b = np.zeros((WIDTH,), dtype=np.float32)
        inits.append(numpy_helper.from_array(w, f"layer{i}.weight"))
        inits.append(numpy_helper.from_array(b, f"layer{i}.bias"))
        nodes.append(helper.make_node("MatMul", [x, f"layer{i}.weight"], [f"h{i}"]))
        nodes.append(helper.make_node("Add", [f"h{i}", f"layer{i}.bias"], [f"y{i}"]))
        x = f"y{i}"
    graph = helper.make_graph(
        nodes,
        "bench",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, ["batch", WIDTH])],
        [helper.make_tensor_value_info(x, TensorProto.FLOAT, ["batch", WIDTH])],
        initializer=inits,
    )
    model = helper.make_model(graph, opset_imports=[helper.make_opsetid("", 17)])
    onnx.save(model, out)
    print(f"{out}: {layers} layers, {layers * (WIDTH * WIDTH + WIDTH)} parameters, {len(nodes)} nodes")


if __name__ == "__main__":
    main()
