"""ONNX model files written by the real onnx library, with what that library
reports about each: whether the model has a graph, the sum over the main
graph's initializers of the product of their dims, and the main graph's node
count.

Used by the pytest oracle tests and, as a script, by the C++ oracle test:
    python3 onnx_fixtures.py OUT_DIR   -> prints {"name.onnx": {...}, ...}
"""

import json
import os
import sys

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

U64_MAX = 2**64 - 1


def expected_summary(path):
    """What python3-onnx itself reads from the file."""
    model = onnx.load(path, load_external_data=False)
    has_graph = model.HasField("graph")
    total = 0
    for init in model.graph.initializer:
        product = 1
        for d in init.dims:
            product = min(product * (d & U64_MAX), U64_MAX)
        total = min(total + product, U64_MAX)
    return {
        "has_graph": has_graph,
        "parameter_total": total if has_graph else 0,
        "graph_node_count": len(model.graph.node) if has_graph else 0,
    }


def _opset():
    return [helper.make_opsetid("", 17)]


def _mlp():
    rng = np.random.default_rng(7)
    inits = [
        numpy_helper.from_array(rng.random((16, 32), dtype=np.float32), "W1"),
        numpy_helper.from_array(rng.random((32,), dtype=np.float32), "b1"),
        numpy_helper.from_array(rng.random((32, 8), dtype=np.float32), "W2"),
        numpy_helper.from_array(np.array([-1, 8], dtype=np.int64), "shape"),
    ]
    nodes = [
        helper.make_node("MatMul", ["x", "W1"], ["h"]),
        helper.make_node("Add", ["h", "b1"], ["h2"]),
        helper.make_node("Relu", ["h2"], ["h3"]),
        helper.make_node("MatMul", ["h3", "W2"], ["h4"]),
        helper.make_node("Reshape", ["h4", "shape"], ["y"]),
    ]
    graph = helper.make_graph(
        nodes,
        "mlp \u6a21\u578b",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, ["batch", 16])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, ["batch", 8])],
        initializer=inits,
        doc_string="\u00dcn\u00efc\u00f6d\u00e9 doc",
    )
    model = helper.make_model(graph, producer_name="brindlecove-tests", opset_imports=_opset())
    helper.set_model_props(model, {"author": "tests", "\u043a\u043b\u044e\u0447": "\u0437\u043d\u0430\u0447\u0435\u043d\u0438\u0435"})
    onnx.checker.check_model(model)
    return model


def _branch(name, width):
    const = numpy_helper.from_array(np.ones((width, width), dtype=np.float32), name + "_w")
    nodes = [
        helper.make_node("Identity", [name + "_w"], [name + "_a"]),
        helper.make_node("Identity", [name + "_a"], [name + "_out"]),
    ]
    return helper.make_graph(
        nodes,
        name,
        [],
        [helper.make_tensor_value_info(name + "_out", TensorProto.FLOAT, [width, width])],
        initializer=[const],
    )


def _subgraph():
    cond_init = numpy_helper.from_array(np.array([3.0], dtype=np.float32), "threshold")
    nodes = [
        helper.make_node("Greater", ["x", "threshold"], ["c"]),
        helper.make_node(
            "If", ["c"], ["y"], then_branch=_branch("then", 10), else_branch=_branch("else", 10)
        ),
    ]
    graph = helper.make_graph(
        nodes,
        "with_if",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [1])],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [10, 10])],
        initializer=[cond_init],
    )
    return helper.make_model(graph, opset_imports=_opset())


def _typed():
    inits = [
        helper.make_tensor("f", TensorProto.FLOAT, [2, 3], [1, 2, 3, 4, 5, 6]),
        helper.make_tensor("i64", TensorProto.INT64, [4], [1, -2, 3, -4]),
        helper.make_tensor("i32", TensorProto.INT32, [3], [7, -8, 9]),
        helper.make_tensor("d", TensorProto.DOUBLE, [2], [0.5, 1.5]),
        helper.make_tensor("u64", TensorProto.UINT64, [2], [1, 2**63]),
        helper.make_tensor("s", TensorProto.STRING, [2], [b"\xff\xfe", "t\u00e9xt".encode()]),
        helper.make_tensor("scalar", TensorProto.FLOAT, [], [2.0]),
        helper.make_tensor("empty", TensorProto.FLOAT, [0, 5], []),
        helper.make_tensor("half", TensorProto.FLOAT16, [2], np.array([1, 2], dtype=np.float16).view(np.uint16)),
    ]
    graph = helper.make_graph(
        [helper.make_node("Identity", ["f"], ["y"])],
        "typed",
        [],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [2, 3])],
        initializer=inits,
    )
    return helper.make_model(graph, opset_imports=_opset())


def _map_type():
    tp = onnx.TypeProto()
    tp.map_type.key_type = TensorProto.INT64
    tp.map_type.value_type.CopyFrom(helper.make_tensor_type_proto(TensorProto.FLOAT, [3]))
    return tp


def _attributes():
    sparse = helper.make_sparse_tensor(
        helper.make_tensor("v", TensorProto.FLOAT, [2], [1.0, 2.0]),
        helper.make_tensor("i", TensorProto.INT64, [2], [0, 3]),
        [4],
    )
    node = helper.make_node(
        "Custom",
        ["x"],
        ["y"],
        domain="org.example",
        f=1.5,
        i=-3,
        s="caf\u00e9",
        t=helper.make_tensor("t", TensorProto.FLOAT, [1], [1.0]),
        g=_branch("inner", 2),
        floats=[1.0, 2.0],
        ints=[1, -1, 2**40],
        strings=[b"a", b"\xff"],
        tensors=[helper.make_tensor("t2", TensorProto.INT32, [2], [1, 2])],
        graphs=[_branch("g1", 3), _branch("g2", 4)],
        sparse_tensor=sparse,
        sparse_tensors=[sparse],
        tp=helper.make_sequence_type_proto(helper.make_tensor_type_proto(TensorProto.FLOAT, [2, None])),
    )
    graph = helper.make_graph(
        [node, helper.make_node("Identity", ["y"], ["z"])],
        "attrs",
        [helper.make_tensor_value_info("x", TensorProto.FLOAT, [4])],
        [helper.make_tensor_value_info("z", TensorProto.FLOAT, [4])],
        initializer=[helper.make_tensor("w", TensorProto.FLOAT, [4, 4], [0.0] * 16)],
        sparse_initializer=[sparse],
        value_info=[
            helper.make_value_info("m", _map_type()),
            helper.make_value_info("sp", helper.make_sparse_tensor_type_proto(TensorProto.FLOAT, [4])),
            helper.make_value_info("o", helper.make_optional_type_proto(helper.make_tensor_type_proto(TensorProto.INT32, ["n"]))),
        ],
    )
    model = helper.make_model(graph, opset_imports=_opset() + [helper.make_opsetid("org.example", 1)])
    model.functions.append(
        helper.make_function(
            "org.example",
            "Twice",
            ["a"],
            ["b"],
            [helper.make_node("Add", ["a", "a"], ["b"])],
            _opset(),
        )
    )
    training = model.training_info.add()
    training.algorithm.CopyFrom(_branch("train", 5))
    training.update_binding.add(key="k", value="v")
    return model


def _sparse_only():
    sparse = helper.make_sparse_tensor(
        helper.make_tensor("v", TensorProto.FLOAT, [2], [1.0, 2.0]),
        helper.make_tensor("i", TensorProto.INT64, [2], [0, 3]),
        [1000, 1000],
    )
    graph = helper.make_graph(
        [helper.make_node("Identity", ["s"], ["y"])],
        "sparse",
        [],
        [helper.make_tensor_value_info("y", TensorProto.FLOAT, [1000, 1000])],
        sparse_initializer=[sparse],
    )
    return helper.make_model(graph, opset_imports=_opset())


def _chain(n):
    nodes = [helper.make_node("Identity", [f"t{i}"], [f"t{i + 1}"]) for i in range(n)]
    graph = helper.make_graph(
        nodes,
        "chain",
        [helper.make_tensor_value_info("t0", TensorProto.FLOAT, [1])],
        [helper.make_tensor_value_info(f"t{n}", TensorProto.FLOAT, [1])],
    )
    return helper.make_model(graph, opset_imports=_opset())


def _overflow():
    huge = onnx.TensorProto(name="huge", data_type=TensorProto.FLOAT, dims=[2**40, 2**40])
    negative = onnx.TensorProto(name="neg", data_type=TensorProto.FLOAT, dims=[-1])
    graph = helper.make_graph([], "overflow", [], [], initializer=[huge, negative])
    return helper.make_model(graph, opset_imports=_opset())


def _no_graph():
    model = onnx.ModelProto()
    model.ir_version = 8
    model.producer_name = "brindlecove-tests"
    model.opset_import.add(domain="", version=17)
    return model


def write_fixtures(out_dir):
    """Writes every fixture into out_dir; returns {file name: expected summary}."""
    models = {
        "mlp.onnx": _mlp(),
        "subgraph.onnx": _subgraph(),
        "typed.onnx": _typed(),
        "attributes.onnx": _attributes(),
        "sparse_only.onnx": _sparse_only(),
        "chain1200.onnx": _chain(1200),
        "overflow.onnx": _overflow(),
        "no_graph.onnx": _no_graph(),
    }
    for name, model in models.items():
        onnx.save(model, os.path.join(out_dir, name))

    # Weights in a side file: the model file keeps only their shapes.
    external = _mlp()
    onnx.save_model(
        external,
        os.path.join(out_dir, "external.onnx"),
        save_as_external_data=True,
        all_tensors_to_one_file=True,
        location="external.onnx.data",
        size_threshold=0,
    )
    names = sorted(list(models) + ["external.onnx"])
    return {name: expected_summary(os.path.join(out_dir, name)) for name in names}


if __name__ == "__main__":
    json.dump(write_fixtures(sys.argv[1]), sys.stdout)
