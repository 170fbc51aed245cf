// export_ollama and the two conversions: each hands its converted
// arguments to the C++ operation and returns its text as a str.

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"
#include "export/ollama_export.hpp"
#include "runtime/conversion.hpp"

namespace bc::py {
namespace {

PyObject* text_result(const Expected<std::string>& text) {
  if (!text) return raise_error(text.error());
  return PyUnicode_DecodeUTF8(text->data(), static_cast<Py_ssize_t>(text->size()), "replace");
}

using Conversion = Expected<std::string> (*)(const std::string&, const std::string&);

PyObject* convert(const char* function, Conversion conversion, PyObject* const* args,
                  Py_ssize_t nargs, PyObject* kwnames) {
  const Signature sig{function, {"input_path", "output_path"}, 2};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  std::string input, output;
  if (!convert_str(bound[0], "input_path", input) || !convert_str(bound[1], "output_path", output))
    return nullptr;
  return guarded([&] { return text_result(conversion(input, output)); });
}

}  // namespace

PyObject* export_ollama(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"export_ollama", {"result", "output_dir"}, 2};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  OptimizationResultView view;
  std::string output_dir;
  if (!view_optimization_result(bound[0], "result", view) ||
      !convert_str(bound[1], "output_dir", output_dir))
    return nullptr;
  return guarded([&]() -> PyObject* {
    auto manifest = export_ollama_bundle(*view.result, *view.model_path, output_dir);
    if (!manifest) return raise_error(manifest.error());
    return text_result(manifest_json_text(*manifest));
  });
}

PyObject* convert_gguf_to_onnx(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return convert("convert_gguf_to_onnx", &bc::convert_gguf_to_onnx, args, nargs, kwnames);
}

PyObject* convert_onnx_to_gguf(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return convert("convert_onnx_to_gguf", &bc::convert_onnx_to_gguf, args, nargs, kwnames);
}

}  // namespace bc::py
