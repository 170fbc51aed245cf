#pragma once
// Docstrings of the module and its functions. Each function's text starts
// with its signature and "--" so that inspect.signature works.

namespace bc::py::doc {

inline constexpr char kModule[] =
    "Native extension module for BrindleCove.\n\n"
    "It exposes hardware profiling, optimization and Ollama export to Python. "
    "Import it as `from brindlecove._brindlecove import ...` or through the re-exports "
    "of the package's `__init__.py`.";

inline constexpr char kProfileHardware[] =
    "profile_hardware()\n--\n\n"
    "Detect and return the current machine's hardware profile.\n\n"
    "Equivalent to `HardwareProfile.detect()`.";

inline constexpr char kOptimize[] =
    "optimize(model_path, format, gpu=None, max_latency_ms=None, output_path=None, "
    "use_cache=True)\n--\n\n"
    "Run the full optimization pipeline for the given model.\n\n"
    "After the best configuration is found, the model is re-quantized with\n"
    "`llama-quantize` (if available) and written as `{stem}-optimized.gguf` next to\n"
    "the input file, or to `output_path` when supplied.\n\n"
    "Parameters\n"
    "----------\n"
    "model_path : str\n"
    "    Path of the model file, absolute or relative to the current directory.\n"
    "format : str\n"
    "    Model format, `\"gguf\"` or `\"onnx\"` (case-insensitive).\n"
    "gpu : str, optional\n"
    "    GPU model name for simulated hardware, e.g. `\"4090\"`, `\"RTX 3090\"`,\n"
    "    `\"a100\"`. A given `gpu` completely replaces the detected GPU; `\"cpu\"`\n"
    "    forces CPU-only mode. `None` keeps the detected GPU.\n"
    "max_latency_ms : float, optional\n"
    "    Latency limit in milliseconds. When the best estimate misses it, every\n"
    "    candidate of a fixed grid is benchmarked for real. `None` means no limit.\n"
    "output_path : str, optional\n"
    "    Where the re-quantized model goes; `None` means `{stem}-optimized.gguf`\n"
    "    next to the input file.\n"
    "use_cache : bool, default True\n"
    "    Consult and fill the on-disk result cache.\n\n"
    "Returns\n"
    "-------\n"
    "OptimizationResult\n"
    "    The chosen configuration and its metrics. Its `output_path` is `None` when\n"
    "    `llama-quantize` was not available.\n\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    When no valid configuration could be benchmarked, the path is invalid, or\n"
    "    an unrecognised GPU model string is supplied.";

inline constexpr char kExportOllama[] =
    "export_ollama(result, output_dir)\n--\n\n"
    "Export an optimized model as an Ollama-compatible bundle.\n\n"
    "Parameters\n"
    "----------\n"
    "result : OptimizationResult\n"
    "    The result produced by `optimize()`.\n"
    "output_dir : str\n"
    "    Directory where `Modelfile`, `model.gguf` and `metadata.json` are written;\n"
    "    created if it does not exist.\n\n"
    "Returns\n"
    "-------\n"
    "str\n"
    "    The JSON-serialized [`ExportManifest`] describing the produced files and the\n"
    "    `ollama create` / `ollama run` commands.\n\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    If the export fails, for example when the conversion script for ONNX models\n"
    "    is missing.";

inline constexpr char kAnalyzeModel[] =
    "analyze_model(model_path)\n--\n\n"
    "Inspect a model file and return its IR metadata as a Python dictionary.\n\n"
    "Only the file's header and metadata section are read; tensor data is never\n"
    "loaded. All fields except `format` may be `None` when the metadata is absent\n"
    "or cannot be computed.\n\n"
    "Parameters\n"
    "----------\n"
    "model_path : str\n"
    "    Path to a `.gguf` or `.onnx` file.\n\n"
    "Returns\n"
    "-------\n"
    "dict\n"
    "    Keys include `format` (str), `param_count` (int or None),\n"
    "    `architecture` (str or None), `context_length` (int or None) and\n"
    "    `layer_count` (int or None).\n\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    When the file cannot be opened, has an unrecognised extension, or its\n"
    "    magic bytes are invalid.";

inline constexpr char kConvertGgufToOnnx[] =
    "convert_gguf_to_onnx(input_path, output_path)\n--\n\n"
    "Convert a GGUF model file to ONNX format.\n\n"
    "Parameters\n"
    "----------\n"
    "input_path : str\n"
    "    Path to the source `.gguf` file.\n"
    "output_path : str\n"
    "    Destination path for the produced `.onnx` file.\n\n"
    "Returns\n"
    "-------\n"
    "str\n"
    "    Absolute path to the written `.onnx` file.\n\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    If `python3` is not found, required packages (`gguf`, `onnx`,\n"
    "    `numpy`) are missing, or the input is not a valid GGUF file.";

inline constexpr char kConvertOnnxToGguf[] =
    "convert_onnx_to_gguf(input_path, output_path)\n--\n\n"
    "Convert an ONNX model file to GGUF format.\n\n"
    "Parameters\n"
    "----------\n"
    "input_path : str\n"
    "    Path to the source `.onnx` file.\n"
    "output_path : str\n"
    "    Destination path for the produced `.gguf` file.\n\n"
    "Returns\n"
    "-------\n"
    "str\n"
    "    Absolute path to the written `.gguf` file.\n\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    If `python3` is not found, required packages (`onnx`, `gguf`,\n"
    "    `numpy`) are missing, or the input is not a valid ONNX file.";

}  // namespace bc::py::doc
