#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"
#include "optimizer/optimize_call.hpp"

namespace bc::py {

PyObject* optimize(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{
      "optimize", {"model_path", "format", "gpu", "max_latency_ms", "output_path", "use_cache"}, 2};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  OptimizeRequest request;
  if (!convert_str(bound[0], "model_path", request.model_path) ||
      !convert_str(bound[1], "format", request.format) ||
      !convert_optional_str(bound[2], "gpu", request.gpu) ||
      !convert_optional_float(bound[3], "max_latency_ms", request.max_latency_ms) ||
      !convert_optional_str(bound[4], "output_path", request.output_path))
    return nullptr;
  if (bound[5] != nullptr && !convert_bool(bound[5], "use_cache", request.use_cache))
    return nullptr;
  // The interpreter lock stays held throughout: the work never calls back
  // into Python, and callers rely on calls being serialised.
  return guarded([&]() -> PyObject* {
    auto outcome = optimize_model(request);
    if (!outcome) return raise_error(outcome.error());
    return new_optimization_result(request.model_path, outcome->output_path, outcome->result);
  });
}

}  // namespace bc::py
