// Functions whose work lives in subsystems still being built: they take and
// check their arguments like the rest, then report that the feature is not
// available in this build.

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"

namespace bc::py {
namespace {

PyObject* convert(const char* function, PyObject* const* args, Py_ssize_t nargs,
                  PyObject* kwnames) {
  const Signature sig{function, {"input_path", "output_path"}, 2};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  std::string input, output;
  if (!convert_str(bound[0], "input_path", input) ||
      !convert_str(bound[1], "output_path", output))
    return nullptr;
  return raise_error(Error(std::string(function) + " is not available in this build"));
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
  return raise_error(Error("export_ollama is not available in this build"));
}

PyObject* convert_gguf_to_onnx(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return convert("convert_gguf_to_onnx", args, nargs, kwnames);
}

PyObject* convert_onnx_to_gguf(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  return convert("convert_onnx_to_gguf", args, nargs, kwnames);
}

}  // namespace bc::py
